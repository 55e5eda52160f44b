// Packets in the binary XML form read exactly like their text twins, and
// malformed binary packets fail like any packet that does not load.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common/base64.h"
#include "core/common/error.h"
#include "core/common/error_blob.h"
#include "core/common/location.h"
#include "core/xml/binary_xml_test_support.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace Serialization {
namespace {

constexpr Common::SourceFile kTestSource("enterprise/serialize/xml_packet_binary_test");

using BinaryXmlTest::Varint;

// Writes binary documents; a name gets its id on first use.
class BinaryWriter
{
public:
    explicit BinaryWriter(int version) : m_version(version)
    {
        m_out = BinaryXmlTest::Header(static_cast<uint8_t>(version));
    }

    void Name(const std::string& name)
    {
        for (size_t id = 0; id < m_names.size(); ++id) {
            if (m_names[id] == name) {
                m_out += Varint(static_cast<uint32_t>(Id(id)));
                return;
            }
        }
        m_names.push_back(name);
        m_out += BinaryXmlTest::Define(static_cast<uint32_t>(Id(m_names.size() - 1)), name);
    }
    // Version 1 string; version 2 value or UTF-8 text item.
    void Text(const std::string& utf8)
    {
        m_out += m_version == 1 ? BinaryXmlTest::String1(utf8) : BinaryXmlTest::Value2(utf8);
    }
    void Raw(const std::string& bytes) { m_out += bytes; }
    const std::string& Bytes() const { return m_out; }

private:
    // Version 2 keeps id 0 for "no name here".
    size_t Id(size_t index) const { return m_version == 1 ? index : index + 1; }

    int m_version;
    std::string m_out;
    std::vector<std::string> m_names;
};

// One element of the twin packets: a name, an optional version attribute,
// its text and its children.
struct Node
{
    std::string name;
    std::string version; // empty: none
    std::string text;    // UTF-8
    std::vector<Node> children;
};

void WriteNode(BinaryWriter& writer, int version, const Node& node)
{
    writer.Name(node.name);
    if (version == 1) {
        writer.Raw(std::string(1, node.version.empty() ? '\0' : '\1'));
        if (!node.version.empty()) {
            writer.Name("version");
            writer.Text(node.version);
        }
        writer.Raw(Varint(static_cast<uint32_t>(node.children.size() + 1)));
        writer.Text(node.text);
        for (const Node& child : node.children) {
            WriteNode(writer, version, child);
            writer.Text("");
        }
        return;
    }
    if (!node.version.empty()) {
        writer.Name("version");
        writer.Text(node.version);
    }
    writer.Raw(Varint(0));
    writer.Text(node.text);
    for (const Node& child : node.children) {
        WriteNode(writer, version, child);
        writer.Text("");
    }
    writer.Raw(Varint(0));
}

std::string Binary(int version, const Node& root)
{
    BinaryWriter writer(version);
    WriteNode(writer, version, root);
    return writer.Bytes();
}

Common::Error SampleError()
{
    Common::Error error(0x9C0002, u"outer \u00E9", kTestSource.At("SampleError", 10));
    error.AddPosixError(13);
    return error;
}

std::string Base64(const std::vector<unsigned char>& bytes)
{
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    Common::EncodeBase64(out.data(), bytes.data(), bytes.data() + bytes.size(), Common::kStandardBase64Alphabet, true);
    return out;
}

std::string ErrorBase64(const Common::Error& error)
{
    uint32_t size = 0;
    std::unique_ptr<unsigned char[]> blob(Common::SerializeError(error, size));
    return Base64(std::vector<unsigned char>(blob.get(), blob.get() + size));
}

const std::u16string kWide = u"h\u00E9 \xD83D\xDE00 <&> end";
const std::vector<unsigned char> kBytes = {'A', 'B', 'C', 0x00, 0xFF};
const Common::Guid kGuid{0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};

// The content of the twins, as the serializer writes it.
std::vector<unsigned char> TextTwin()
{
    XMLPacketSerializer serializer(2, 0);
    MetaInfo number("n");
    number.version = 2;
    serializer.Write(number, uint32_t{42});
    serializer.Write(MetaInfo("s"), kWide);
    serializer.Write(MetaInfo("g"), kGuid);
    serializer.Write(MetaInfo("b"), kBytes);
    serializer.Write(MetaInfo("i"), int32_t{-7});
    serializer.Write(MetaInfo("d"), 1.5);
    serializer.Write(MetaInfo("e"), SampleError());
    MetaInfo outer("x");
    outer.version = 5;
    serializer.StartWriteMetaInfo(outer);
    serializer.Write(MetaInfo("y"), std::string("inner \xE9"));
    serializer.FinishWriteMetaInfo(outer);
    std::vector<unsigned char> packet;
    serializer.GetData(packet);
    return packet;
}

// The same content as a tree for the binary writer.
Node TwinTree()
{
    return Node{"XML_SERIALIZER",
                "",
                "",
                {
                    {"n", "2", "42", {}},
                    {"s", "", "h\xC3\xA9 \xF0\x9F\x98\x80 <&> end", {}},
                    {"g", "", "01234567-89AB-CDEF-FEDC-BA9876543210", {}},
                    {"b", "", Base64(kBytes), {}},
                    {"i", "", "-7", {}},
                    {"d", "", "1.5", {}},
                    {"e", "", ErrorBase64(SampleError()), {}},
                    {"x", "5", "", {{"y", "", "inner \xC3\xA9", {}}}},
                }};
}

struct TwinValues
{
    uint32_t number = 0;
    uint64_t numberVersion = 0;
    std::u16string wide;
    Common::Guid guid{};
    std::vector<unsigned char> bytes;
    int32_t signedNumber = 0;
    double real = 0;
    Common::Error error;
    uint64_t outerVersion = 0;
    std::string narrow;
};

TwinValues ReadTwin(Deserializer& deserializer)
{
    TwinValues v;
    {
        ReadScope scope(deserializer, MetaInfo("n"));
        v.numberVersion = deserializer.GetSubjectVersion();
        deserializer.Read(MetaInfo(), v.number);
    }
    deserializer.Read(MetaInfo("s"), v.wide);
    deserializer.Read(MetaInfo("g"), v.guid);
    deserializer.Read(MetaInfo("b"), v.bytes);
    deserializer.Read(MetaInfo("i"), v.signedNumber);
    deserializer.Read(MetaInfo("d"), v.real);
    deserializer.Read(MetaInfo("e"), v.error);
    ReadScope scope(deserializer, MetaInfo("x", true));
    v.outerVersion = deserializer.GetSubjectVersion();
    deserializer.Read(MetaInfo("y", true), v.narrow);
    return v;
}

void ExpectTwinValues(const TwinValues& v)
{
    EXPECT_EQ(v.number, 42u);
    EXPECT_EQ(v.numberVersion, 2u);
    EXPECT_EQ(v.wide, kWide);
    EXPECT_TRUE(v.guid == kGuid);
    EXPECT_EQ(v.bytes, kBytes);
    EXPECT_EQ(v.signedNumber, -7);
    EXPECT_EQ(v.real, 1.5);
    EXPECT_EQ(v.error.GetCode(), 0x9C0002u);
    EXPECT_EQ(v.error.GetText(), u"outer \u00E9");
    EXPECT_EQ(v.error.GetLocation().line, 10u);
    EXPECT_EQ(v.error.GetCause().GetCode(), 0xFFF1u);
    EXPECT_EQ(v.error.GetCause().GetIntegerParameter("code"), 13u);
    EXPECT_EQ(v.outerVersion, 5u);
    EXPECT_EQ(v.narrow, "inner \xE9");
}

TEST(XmlPacketBinary, BinaryPacketsReadLikeTheirTextTwin)
{
    const std::vector<unsigned char> text = TextTwin();
    XMLPacketDeserializer fromText(text.data(), text.size(), 1);
    SCOPED_TRACE("text");
    ExpectTwinValues(ReadTwin(fromText));
    for (int version : {2, 1}) {
        SCOPED_TRACE(testing::Message() << "binary version " << version);
        const std::string binary = Binary(version, TwinTree());
        XMLPacketDeserializer fromBinary(binary.data(), binary.size(), 1);
        ExpectTwinValues(ReadTwin(fromBinary));
    }
}

TEST(XmlPacketBinary, MalformedBinaryPacketsFailLikeBrokenText)
{
    const std::string good = Binary(2, TwinTree());
    // Cut inside the text of "s": the string is short and the load fails.
    const size_t cut = good.find("h\xC3\xA9") + 3;
    std::string overlong = Binary(2, Node{"XML_SERIALIZER", "", "", {{"n", "", "42", {}}}});
    overlong.insert(overlong.size() - 1, std::string("\xFF\xFF\xFF\xFF\xFF\x01", 6));
    std::string bigLength = std::string("BXML\x02\x00", 6) + Varint(1) + Varint(0xFFFFFFF0u) + "XML";
    std::string version3 = good;
    version3[4] = 3;
    const std::pair<const char*, std::string> cases[] = {
        {"cut string", good.substr(0, cut)},        {"over-long number", overlong}, {"version 3", version3},
        {"length far beyond the input", bigLength}, {"signature only", "BXML"},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        XMLPacketDeserializer deserializer(bytes.data(), bytes.size(), 1);
        uint32_t number = 9;
        try {
            deserializer.Read(MetaInfo("n"), number);
            ADD_FAILURE() << "read succeeded";
        } catch (const Common::Error& error) {
            EXPECT_EQ(error.GetCode(), 0x9C0004u);
            EXPECT_EQ(error.GetLocation().line, 557u);
        }
        EXPECT_EQ(number, 9u);
        EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "");
    }
}

} // namespace
} // namespace Serialization
