#include "platform/ipc/request_packet.h"

#include <memory>
#include <vector>

#include "enterprise/serialize/serialization_errors.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/request_packet");

constexpr std::string_view kPacketHead = "\xEF\xBB\xBF<XML_SERIALIZER><";
constexpr std::string_view kReplyPrefix = "reply_";

// The name of the first element of a packet the packet serializer wrote.
std::string_view FirstElementName(const Bytes& packet)
{
    const std::string_view text(reinterpret_cast<const char*>(packet.data()), packet.size());
    if (!text.starts_with(kPacketHead))
        return {};
    const std::string_view rest = text.substr(kPacketHead.size());
    return rest.substr(0, rest.find_first_of(" >/"));
}

// The reply's bytes outlive every reader made here: read where they lie.
std::unique_ptr<Serialization::Deserializer> Parse(ByteView reply)
{
    return std::make_unique<Serialization::XMLPacketDeserializer>(reply.data(), reply.size(), 0,
                                                                  Serialization::XMLPacketDeserializer::Text::Borrowed);
}

} // namespace

bool SplitRequestElement(std::string_view element, std::string& interfaceName, std::string& methodName)
{
    if (!element.starts_with(kRequestPrefix))
        return false;
    const std::string_view names = element.substr(kRequestPrefix.size());
    const size_t separator = names.find('_');
    if (separator == std::string_view::npos || separator == 0 || separator + 1 == names.size())
        return false;
    interfaceName = names.substr(0, separator);
    methodName = names.substr(separator + 1);
    return true;
}

std::string ReplyElement(std::string_view interfaceName, std::string_view methodName)
{
    std::string element(kReplyPrefix);
    element.append(interfaceName).append("_").append(methodName);
    return element;
}

Common::Error WriteRequestPacket(Binding::Request& request, Bytes& packet, std::string& replyElement)
{
    try {
        std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(
            kPacketFormatVersion, kPacketTargetVersion);
        request.Write(*serializer);
        serializer->GetData(packet); // the packet's own bytes: no second copy
    } catch (const Common::Error& error) {
        return error;
    }
    std::string interfaceName;
    std::string methodName;
    if (!SplitRequestElement(FirstElementName(packet), interfaceName, methodName))
        return MakeIpcError(kMalformedFrame, kBadFrameText, kSource.At("WriteRequestPacket", __LINE__));
    replyElement = ReplyElement(interfaceName, methodName);
    return Common::Success;
}

Common::Error ReadReplyPacket(Binding::Request& request, ByteView reply, const std::string& replyElement)
{
    try {
        Common::Error result;
        {
            std::unique_ptr<Serialization::Deserializer> deserializer = Parse(reply);
            deserializer->StartReadMetaInfo(Serialization::MetaInfo(replyElement));
            deserializer->Read(Serialization::MetaInfo(kResultElement, true), result);
        }
        if (!result.IsSuccess())
            return result;
        request.Read(*Parse(reply));
        return result;
    } catch (const Common::Error& error) {
        return error;
    }
}

Common::Error WriteReplyPacket(const std::string& replyElement, const Common::Error& result,
                               const std::function<void(Serialization::Serializer&)>& writeResults, Bytes& reply,
                               size_t sizeHint)
{
    try {
        Serialization::XMLPacketSerializer out(kPacketFormatVersion, kPacketTargetVersion);
        if (sizeHint != 0)
            out.Reserve(sizeHint);
        const Serialization::MetaInfo element(replyElement);
        out.StartWriteMetaInfo(element);
        out.Write(Serialization::MetaInfo(kResultElement), result);
        if (writeResults)
            writeResults(out);
        out.FinishWriteMetaInfo(element);
        Bytes written;
        out.GetData(written);
        reply = std::move(written);
        return Common::Success;
    } catch (const Common::Error& error) {
        return error;
    }
}

} // namespace Ipc
