// Binding::Request: one call of a remote interface method, as the IPC client
// library sees it. The library writes the request element of the call into a
// packet (Write), sends it, and reads the reply element back (Read); the rest
// answers what the library asks about the call. The request classes that
// implement it live above, in enterprise/common/ipc; this interface needs only
// the serialization interfaces, so the library and the request framework meet
// here without the library depending on the object model.
//
// Binary contract (Request): declaration order is the binary order; never insert or reorder.
// The table starts with the destructor pair and Cast (declared again here so
// that they lead the table of a class whose lookup base is virtual), then the
// nine operations.
//
// Threading: a request is written and read by one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "enterprise/serialize/deserializer.h"
#include "enterprise/serialize/dynamic_caster.h"
#include "enterprise/serialize/serializer.h"

namespace Binding {

class Request : public virtual Common::DynamicCasterImpl
{
public:
    ~Request() override = default;
    void* Cast(const char* key) override { return DynamicCasterImpl::Cast(key); }

    virtual void SetProperty(const std::string& name, const std::u16string& value) = 0;
    virtual int64_t GetTargetVersion() = 0;
    virtual int GetComponentId() = 0;
    virtual int GetMethodIndex() = 0;
    // A deserializer over the packet that Write produces, read with `version`
    // as its initial version.
    virtual std::unique_ptr<Serialization::Deserializer> CreatePacketReader(unsigned version) = 0;
    virtual std::map<std::string, std::u16string> GetProperties() = 0;
    virtual uint64_t GetInterfaceVersion() = 0;
    // Writes the request element of the call.
    virtual void Write(Serialization::Serializer& serializer) = 0;
    // Reads the reply element; on a successful "result" the caller's in-out
    // arguments are filled from it.
    virtual void Read(Serialization::Deserializer& deserializer) = 0;
};

} // namespace Binding
