#include "enterprise/common/ipc/request_base.h"

#include <vector>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace Binding::Detail {

namespace {

constexpr const char* kRequestImplSource = "enterprise/common/ipc/request_impl";
constexpr int32_t kPacketFormatVersion = 2;

std::string ElementName(const char* prefix, const MethodIdentity& identity)
{
    return std::string(prefix) + "_" + identity.interfaceName + "_" + identity.methodName;
}

} // namespace

RequestBase::RequestBase(const MethodIdentity& identity) : m_identity(identity)
{
    RegisterInterface<RequestBase>(this);
}

void RequestBase::SetProperty(const std::string& name, const std::u16string& value)
{
    m_properties[name] = value;
}

int64_t RequestBase::GetTargetVersion()
{
    return m_identity.targetVersion;
}

int RequestBase::GetComponentId()
{
    return m_identity.componentId;
}

int RequestBase::GetMethodIndex()
{
    return m_identity.methodIndex;
}

std::map<std::string, std::u16string> RequestBase::GetProperties()
{
    return m_properties;
}

uint64_t RequestBase::GetInterfaceVersion()
{
    return m_identity.interfaceVersion;
}

void RequestBase::Write(Serialization::Serializer& serializer)
{
    WritePacket(serializer);
}

void RequestBase::WritePacket(Serialization::Serializer& serializer)
{
    const Serialization::MetaInfo element(ElementName("request", m_identity));
    serializer.StartWriteMetaInfo(element);
    WriteArguments(serializer);
    serializer.FinishWriteMetaInfo(element);
}

void RequestBase::Read(Serialization::Deserializer& deserializer)
{
    const Serialization::MetaInfo element(ElementName("reply", m_identity));
    deserializer.StartReadMetaInfo(element);
    Common::Error result;
    deserializer.Read(Serialization::MetaInfo("result", true), result);
    if (result.GetCode() == Common::Success.GetCode())
        ReadResults(deserializer);
    deserializer.FinishReadMetaInfo(element);
}

std::unique_ptr<Serialization::Deserializer> RequestBase::CreatePacketReader(unsigned version)
{
    std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(
        kPacketFormatVersion, static_cast<int32_t>(GetTargetVersion()));
    WritePacket(*serializer);
    std::vector<unsigned char> data;
    serializer->GetData(data);
    if (data.empty())
        Common::ReportAssertion("data.size()", kRequestImplSource, 70);
    std::unique_ptr<Serialization::Deserializer> reader;
    Serialization::CreateXMLPacketDeserializer(reader, data.data(), data.size(), version);
    return reader;
}

} // namespace Binding::Detail
