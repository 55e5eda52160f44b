// Round-trip fuzz target of the packet format: whatever the packet
// deserializer accepts (text or binary XML), written again by the packet
// serializer and read back, gives the same elements in the same order with
// the same names, versions and value texts.
//
// Binary input may carry element names that text XML cannot spell (blanks,
// bytes above 7F, an empty name); such packets cannot be written as text and
// are skipped.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace {

using Serialization::Deserializer;
using Serialization::MetaInfo;

struct Element
{
    size_t depth;
    std::string name;
    uint64_t version;
    std::u16string text;
    bool operator==(const Element&) const = default;
};

bool IsNameStart(unsigned char c)
{
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsXmlName(const std::string& name)
{
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0])))
        return false;
    for (unsigned char c : name)
        if (!IsNameStart(c) && c != '-' && c != '.' && !(c >= '0' && c <= '9'))
            return false;
    return true;
}

// Every element below the root in document order, entered through the
// deserializer as a reader would. False when the walk fails.
bool Walk(Deserializer& deserializer, size_t depth, std::vector<Element>& out)
{
    for (;;) {
        const MetaInfo next = deserializer.GetCurrentMetaInfo();
        if (next.name.empty())
            return true;
        try {
            deserializer.StartReadMetaInfo(next);
            Element element{depth, next.name, deserializer.GetSubjectVersion(), {}};
            deserializer.Read(MetaInfo(), element.text);
            out.push_back(std::move(element));
            if (!Walk(deserializer, depth + 1, out))
                return false;
            deserializer.FinishReadMetaInfo(next);
        } catch (const Common::Error&) {
            return false;
        }
    }
}

std::vector<unsigned char> Write(const std::vector<Element>& elements)
{
    Serialization::XMLPacketSerializer serializer(1, 0);
    std::vector<MetaInfo> open;
    for (const Element& element : elements) {
        while (open.size() > element.depth) {
            serializer.FinishWriteMetaInfo(open.back());
            open.pop_back();
        }
        MetaInfo meta(element.name);
        meta.version = element.version;
        serializer.StartWriteMetaInfo(meta);
        serializer.Write(MetaInfo(), element.text);
        open.push_back(meta);
    }
    while (!open.empty()) {
        serializer.FinishWriteMetaInfo(open.back());
        open.pop_back();
    }
    std::vector<unsigned char> packet;
    serializer.GetData(packet);
    return packet;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Element> first;
    {
        Serialization::XMLPacketDeserializer deserializer(data, size, 0);
        if (!Walk(deserializer, 0, first))
            std::abort(); // a walk along the cursor's own names never fails
    }
    for (const Element& element : first)
        if (!IsXmlName(element.name))
            return 0;

    const std::vector<unsigned char> packet = Write(first);
    std::vector<Element> second;
    Serialization::XMLPacketDeserializer deserializer(packet.data(), packet.size(), 0);
    if (!Walk(deserializer, 0, second) || second != first)
        std::abort();
    return 0;
}
