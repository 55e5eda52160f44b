// The request classes shared by every remote method: Binding::RequestSerializer
// (the argument side a method's request implements) and
// Binding::Detail::RequestBase, which implements Binding::Request for a
// method identity: it writes the request element around the arguments and
// reads the reply element, its "result" and, on success, the results.
//
// Packet elements: the request element is "request_<Interface>_<Method>" with
// one child per written argument; the reply element "reply_<Interface>_<Method>"
// starts with "result" (strict order), followed on success by one child per
// read-back parameter (strict order). The reply element itself is looked up
// among all children of the packet root.
//
// Binary contract (RequestSerializer, RequestBase): declaration order is the binary order; never insert or
// reorder. RequestBase declares WriteArguments and ReadResults again so that
// they follow Read in its primary table.
//
// Threading: a request is built, written and read by one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/common/non_copyable.h"
#include "enterprise/common/ipc/method_identity.h"
#include "platform/ipc/request.h"

namespace Binding {

class RequestSerializer : private Common::NonCopyable
{
public:
    virtual ~RequestSerializer() = default;
    virtual void WriteArguments(Serialization::Serializer& serializer) = 0;
    virtual void ReadResults(Serialization::Deserializer& deserializer) = 0;
};

namespace Detail {

class RequestBase : public Request, public RequestSerializer
{
public:
    // Copies the identity, starts an empty property map and offers itself
    // under "PN7Binding6Detail11RequestBaseE".
    explicit RequestBase(const MethodIdentity& identity);
    ~RequestBase() override = default;

    void SetProperty(const std::string& name, const std::u16string& value) override;
    int64_t GetTargetVersion() override;
    int GetComponentId() override;
    int GetMethodIndex() override;
    std::unique_ptr<Serialization::Deserializer> CreatePacketReader(unsigned version) override;
    std::map<std::string, std::u16string> GetProperties() override;
    uint64_t GetInterfaceVersion() override;
    void Write(Serialization::Serializer& serializer) override;
    void Read(Serialization::Deserializer& deserializer) override;
    void WriteArguments(Serialization::Serializer& serializer) override = 0;
    void ReadResults(Serialization::Deserializer& deserializer) override = 0;

    const MethodIdentity& GetIdentity() const { return m_identity; }

protected:
    // The steps of Write: opens the request element, writes the arguments,
    // closes it. An error of any step propagates.
    void WritePacket(Serialization::Serializer& serializer);

private:
    MethodIdentity m_identity;
    std::map<std::string, std::u16string> m_properties;
};

} // namespace Detail

} // namespace Binding
