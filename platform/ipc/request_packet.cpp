#include "platform/ipc/request_packet.h"

#include <memory>
#include <string_view>
#include <vector>

#include "enterprise/serialize/serialization_errors.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/request_packet");

constexpr int32_t kPacketFormatVersion = 2;
constexpr int32_t kTargetVersion = -1;
constexpr std::string_view kPacketHead = "\xEF\xBB\xBF<XML_SERIALIZER><";
constexpr std::string_view kRequestPrefix = "request_";

// The name of the first element of a packet the packet serializer wrote.
std::string_view FirstElementName(const Bytes& packet)
{
    const std::string_view text(reinterpret_cast<const char*>(packet.data()), packet.size());
    if (!text.starts_with(kPacketHead))
        return {};
    const std::string_view rest = text.substr(kPacketHead.size());
    return rest.substr(0, rest.find_first_of(" >/"));
}

std::unique_ptr<Serialization::Deserializer> Parse(ByteView reply)
{
    std::unique_ptr<Serialization::Deserializer> deserializer;
    Serialization::CreateXMLPacketDeserializer(deserializer, reply.data(), reply.size(), 0);
    return deserializer;
}

} // namespace

Common::Error WriteRequestPacket(Binding::Request& request, Bytes& packet, std::string& replyElement)
{
    try {
        std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(
            kPacketFormatVersion, kTargetVersion);
        request.Write(*serializer);
        serializer->GetData(packet); // the packet's own bytes: no second copy
    } catch (const Common::Error& error) {
        return error;
    }
    const std::string_view element = FirstElementName(packet);
    if (!element.starts_with(kRequestPrefix) || element.size() == kRequestPrefix.size())
        return MakeIpcError(kMalformedFrame, kBadFrameText, kSource.At("WriteRequestPacket", __LINE__));
    replyElement = "reply_" + std::string(element.substr(kRequestPrefix.size()));
    return Common::Success;
}

Common::Error ReadReplyPacket(Binding::Request& request, ByteView reply, const std::string& replyElement)
{
    try {
        Common::Error result;
        {
            std::unique_ptr<Serialization::Deserializer> deserializer = Parse(reply);
            deserializer->StartReadMetaInfo(Serialization::MetaInfo(replyElement));
            deserializer->Read(Serialization::MetaInfo("result", true), result);
        }
        if (!result.IsSuccess())
            return result;
        request.Read(*Parse(reply));
        return result;
    } catch (const Common::Error& error) {
        return error;
    }
}

} // namespace Ipc
