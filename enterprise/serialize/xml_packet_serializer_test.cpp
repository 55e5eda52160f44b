#include "enterprise/serialize/xml_packet_serializer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "core/common/error.h"
#include "core/xml/xml_test_support.h"

namespace Serialization {
namespace {

const std::string kHead = "\xEF\xBB\xBF<XML_SERIALIZER>";
const std::string kEnd = "</XML_SERIALIZER>";

std::string Take(Serializer& serializer)
{
    std::vector<unsigned char> bytes;
    serializer.GetData(bytes);
    return std::string(bytes.begin(), bytes.end());
}

// The packet content between head and end of a serializer filled by `fill`.
std::string Content(const std::function<void(Serializer&)>& fill, int32_t targetVersion = 0)
{
    XMLPacketSerializer serializer(2, targetVersion);
    fill(serializer);
    std::string packet = Take(serializer);
    EXPECT_EQ(packet.substr(0, kHead.size()), kHead);
    EXPECT_EQ(packet.substr(packet.size() - kEnd.size()), kEnd);
    return packet.substr(kHead.size(), packet.size() - kHead.size() - kEnd.size());
}

template <typename T>
std::string Value(const T& value)
{
    return Content([&](Serializer& s) { s.Write(MetaInfo("v"), value); });
}

std::string Element(const std::string& text)
{
    return "<v>" + text + "</v>";
}

TEST(XmlPacket, EmptyPacketIsHeadAndEnd)
{
    XMLPacketSerializer serializer(2, 0);
    std::vector<unsigned char> bytes{9, 9, 9};
    serializer.GetData(bytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "\xEF\xBB\xBF<XML_SERIALIZER></XML_SERIALIZER>");
}

TEST(XmlPacket, FactoryOverloadsMakePacketSerializers)
{
    std::unique_ptr<Serializer> out;
    CreateXMLPacketSerializer(out, 2, 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Take(*out), kHead + kEnd);
    std::unique_ptr<Serializer> returned = CreateXMLPacketSerializer(2, 5);
    ASSERT_NE(returned, nullptr);
    returned->Write(MetaInfo("x"), true);
    EXPECT_EQ(Take(*returned), kHead + "<x>1</x>" + kEnd);
}

TEST(XmlPacketValues, ScalarTexts)
{
    Common::Guid guid{0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
    struct Case
    {
        const char* what;
        std::string content;
        std::string expected;
    } cases[] = {
        {"true", Value(true), "1"},
        {"false", Value(false), "0"},
        {"char A", Value('A'), "65"},
        {"char FF", Value('\xFF'), "255"},
        {"char 0", Value('\0'), "0"},
        {"guid", Value(guid), "01020304-0506-0708-090A-0B0C0D0E0F10"},
        {"success error", Value(Common::Error()), "AQ=="},
        {"uint32 max", Value(uint32_t{0xFFFFFFFF}), "4294967295"},
        {"uint32 0", Value(uint32_t{0}), "0"},
        {"double 0.1", Value(0.1), "0.1"},
        {"double third", Value(1.0 / 3), "0.3333333333333333"},
        {"double big", Value(123456789012345678.0), "1.234567890123457e+17"},
        {"double 1e16", Value(1e16), "1e+16"},
        {"double small", Value(1e-300), "1e-300"},
        {"double minus zero", Value(-0.0), "-0"},
        {"double inf", Value(std::numeric_limits<double>::infinity()), "inf"},
        {"double nan", Value(std::numeric_limits<double>::quiet_NaN()), "nan"},
        {"uint64 max", Value(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
        {"int32 min", Value(std::numeric_limits<int32_t>::min()), "-2147483648"},
        {"int64 min", Value(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
        {"int64 max", Value(std::numeric_limits<int64_t>::max()), "9223372036854775807"},
        {"int16 -2", Value(int16_t{-2}), "-2"},
        {"int16 min", Value(std::numeric_limits<int16_t>::min()), "-32768"},
        {"uint16 max", Value(uint16_t{65535}), "65535"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.content, Element(c.expected)) << c.what;
}

TEST(XmlPacketValues, BytesAsBase64WithFill)
{
    auto block = [](std::vector<unsigned char> bytes) {
        SharedData data;
        data.size = bytes.size();
        if (!bytes.empty()) {
            data.data.reset(new unsigned char[bytes.size()]);
            std::memcpy(data.data.get(), bytes.data(), bytes.size());
        }
        return data;
    };
    struct Case
    {
        std::vector<unsigned char> bytes;
        std::string expected;
    } cases[] = {
        {{}, ""},
        {{0xFF}, "/w=="},
        {{0xFB, 0xFF}, "+/8="},
        {{1, 2, 3}, "AQID"},
        {{'a', 'b', 'c', 'd'}, "YWJjZA=="},
        {{0, 0, 0, 0, 0}, "AAAAAAA="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Value(c.bytes), Element(c.expected));
        EXPECT_EQ(Value(block(c.bytes)), Element(c.expected));
    }
    // A block of count 0 is not read, whatever it points at.
    SharedData empty;
    EXPECT_EQ(Value(empty), "<v></v>");
}

TEST(XmlPacketValues, ByteBlockOfFourGigabytesIsRefused)
{
    XMLPacketSerializer serializer(2, 0);
    serializer.StartWriteMetaInfo(MetaInfo("outer"));
    SharedData huge;
    huge.size = uint64_t{1} << 32; // never read: refused before any byte is touched
    try {
        serializer.Write(MetaInfo("v"), huge);
        FAIL() << "no error";
    } catch (const Common::Error& error) {
        EXPECT_EQ(error.GetCode(), 0x9C0005u);
        EXPECT_EQ(error.GetText(), u"The value is too large to be written into a packet.");
    }
    serializer.FinishWriteMetaInfo(MetaInfo("outer"));
    EXPECT_EQ(Take(serializer), kHead + "<outer></outer>" + kEnd);
}

TEST(XmlPacketValues, OversizedByteBlockUnderARefusedDescriptorIsDroppedSilently)
{
    // A value that is not written at all is not measured either.
    SharedData huge;
    huge.size = uint64_t{1} << 32;
    MetaInfo otherTarget("v");
    otherTarget.targetVersion = 6;
    MetaInfo refusedParent("p");
    refusedParent.targetVersion = 6;
    EXPECT_EQ(Content([&](Serializer& s) { s.Write(otherTarget, huge); }, 5), "");
    EXPECT_EQ(Content(
                  [&](Serializer& s) {
                      s.StartWriteMetaInfo(refusedParent);
                      s.Write(MetaInfo("v"), huge);
                      s.Write(MetaInfo(""), huge);
                      s.FinishWriteMetaInfo(refusedParent);
                  },
                  5),
              "");
}

TEST(XmlPacketValues, DoubleTextMatchesPrintfG16)
{
    std::mt19937_64 random(42);
    char expected[64];
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isnan(value))
            continue;
        if (i % 2)
            value = static_cast<double>(static_cast<int64_t>(bits) >> (bits & 63)) / (1 + (bits & 0xFFF));
        std::snprintf(expected, sizeof expected, "%.16g", value);
        ASSERT_EQ(Value(value), Element(expected)) << bits;
    }
}

TEST(XmlPacketValues, DoubleTextIgnoresTheProcessLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    std::string content = Value(0.5);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(content, Element("0.5"));
}

struct TextCase
{
    std::string text;     // 8-bit text (also used widened, byte for byte)
    std::string expected; // packet bytes
};

const TextCase kTextCases[] = {
    {"", ""},
    {"abc", "abc"},
    {" a", "&#32;a"},
    {"a ", "a&#32;"},
    {"a b", "a b"},
    {"a  b", "a &#32;b"},
    {"a   b", "a &#32; b"},
    {" ", "&#32;"},
    {"  ", "&#32;&#32;"},
    {"a\tb", "a&#9;b"},
    {"<&>", "&lt;&amp;>"},
    {"\"'\x7F", "\"'\x7F"},
    {std::string("a\0b", 3), "a&#0;b"},
    {"x\ny", "<![CDATA[x\r\ny]]>"},
    {"\n", "<![CDATA[\r\n]]>"},
    {" a\n b <&\t", "<![CDATA[ a\r\n b <&\t]]>"},
    {"x\ny]]>", "x&#10;y]]>"},
    {"x\ny]]", "<![CDATA[x\r\ny]]]]>"},
    {"x\ny] ]>", "<![CDATA[x\r\ny] ]>]]>"},
    {"x\r\ny", "x&#13;&#10;y"},
    {"x\n\x01", "x&#10;&#1;"},
    {"x \n y", "<![CDATA[x \r\n y]]>"},
    {"a \x01 b", "a &#1; b"},
};

TEST(XmlPacketText, ReferenceAndCdataForms)
{
    for (const TextCase& c : kTextCases) {
        EXPECT_EQ(Value(c.text), Element(c.expected)) << "8-bit: " << c.text;
        std::u16string wide(c.text.begin(), c.text.end());
        EXPECT_EQ(Value(wide), Element(c.expected)) << "UTF-16: " << c.text;
    }
}

TEST(XmlPacketText, EncodesUtf8)
{
    struct Case
    {
        std::u16string wide;
        std::string expected;
    } cases[] = {
        {u"\u00E9", "\xC3\xA9"},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
        {u"\xD83D", "&#55357;"},
        {u"\xDE00", "&#56832;"},
        {u"a\xD83D"
         u"b",
         "a&#55357;b"},
        {u"\xDE00\xD83D", "&#56832;&#55357;"},
        {u"\xFFFF", "&#65535;"},
        {u"\xFFFE", "&#65534;"},
        {u"\xFFFD", "\xEF\xBF\xBD"},
        // A pair in a CDATA text is one character; a lone surrogate forces references.
        {u"\xD83D\xDE00\n", "<![CDATA[\xF0\x9F\x98\x80\r\n]]>"},
        {u"\xD83D\n", "&#55357;&#10;"},
        {u"\xFFFF\n", "&#65535;&#10;"},
        // A pair at the end is the last character: a blank before it is plain.
        {u"a \xD83D\xDE00", "a \xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Value(c.wide), Element(c.expected));

    EXPECT_EQ(Value(std::string("\xE9")), Element("\xC3\xA9"));
    EXPECT_EQ(Value(std::string("\x80\xFF")), Element("\xC2\x80\xC3\xBF"));
    EXPECT_EQ(Value(std::string("\xFF\n")), Element("<![CDATA[\xC3\xBF\r\n]]>"));
}

TEST(XmlPacketElements, VersionAttribute)
{
    MetaInfo versioned("x");
    versioned.version = 3;
    EXPECT_EQ(Content([&](Serializer& s) { s.Write(versioned, true); }), "<x version=\"3\">1</x>");
    MetaInfo unversioned("x");
    EXPECT_EQ(Content([&](Serializer& s) { s.Write(unversioned, true); }), "<x>1</x>");
    versioned.version = std::numeric_limits<uint64_t>::max();
    EXPECT_EQ(Content([&](Serializer& s) {
                  s.StartWriteMetaInfo(versioned);
                  s.FinishWriteMetaInfo(versioned);
              }),
              "<x version=\"18446744073709551615\"></x>");
}

TEST(XmlPacketElements, EmptyNameWritesIntoTheEnclosingElement)
{
    EXPECT_EQ(Content([](Serializer& s) { s.Write(MetaInfo(""), true); }), "1");
    EXPECT_EQ(Content([](Serializer& s) {
                  s.StartWriteMetaInfo(MetaInfo("x"));
                  s.StartWriteMetaInfo(MetaInfo(""));
                  s.Write(MetaInfo(""), std::string("a b"));
                  s.Write(MetaInfo(""), int32_t{7});
                  s.FinishWriteMetaInfo(MetaInfo(""));
                  s.Write(MetaInfo("y"), int32_t{8});
                  s.FinishWriteMetaInfo(MetaInfo("x"));
              }),
              "<x>a b7<y>8</y></x>");
}

TEST(XmlPacketElements, TargetVersions)
{
    auto meta = [](int32_t target, uint64_t version, uint64_t versionForTarget) {
        MetaInfo m("x");
        m.targetVersion = target;
        m.version = version;
        m.versionForTarget = versionForTarget;
        return m;
    };
    auto open = [](const MetaInfo& m) {
        return [m](Serializer& s) {
            s.StartWriteMetaInfo(m);
            s.FinishWriteMetaInfo(m);
        };
    };
    struct Case
    {
        int32_t serializerTarget;
        MetaInfo meta;
        std::string expected;
    } cases[] = {
        {5, meta(5, 1, 7), "<x version=\"7\"></x>"},
        {5, meta(5, 0, 7), "<x></x>"},
        {5, meta(5, 3, 0), "<x version=\"0\"></x>"},
        {5, meta(0, 3, 7), "<x version=\"3\"></x>"},
        {0, meta(6, 3, 7), "<x version=\"3\"></x>"},
        {5, meta(6, 3, 7), ""},
        {-1, meta(1, 3, 7), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Content(open(c.meta), c.serializerTarget), c.expected);
        std::string written = c.expected.empty() ? "" : c.expected.substr(0, c.expected.size() - 4);
        if (!written.empty())
            written += "1</x>";
        EXPECT_EQ(Content([&](Serializer& s) { s.Write(c.meta, true); }, c.serializerTarget), written);
    }
}

TEST(XmlPacketElements, RefusedElementIsSkippedWholeAndPacketStaysWellFormed)
{
    MetaInfo refused("a");
    refused.targetVersion = 6;
    MetaInfo refusedInner("r");
    refusedInner.targetVersion = 6;
    std::string current;
    std::string content = Content(
        [&](Serializer& s) {
            s.StartWriteMetaInfo(MetaInfo("top"));
            s.StartWriteMetaInfo(refused);
            s.StartWriteMetaInfo(MetaInfo("b"));
            s.Write(MetaInfo("c"), true);
            s.Write(MetaInfo(""), true);
            s.StartWriteMetaInfo(refusedInner);
            s.FinishWriteMetaInfo(refusedInner);
            current = s.GetCurrentMetaInfo().name;
            s.FinishWriteMetaInfo(MetaInfo("b"));
            s.Write(MetaInfo("d"), true);
            s.FinishWriteMetaInfo(refused);
            s.Write(MetaInfo("e"), true);
            s.FinishWriteMetaInfo(MetaInfo("top"));
        },
        5);
    EXPECT_EQ(content, "<top><e>1</e></top>");
    EXPECT_EQ(current, "top");
}

TEST(XmlPacketElements, Traits)
{
    auto viewSpec = std::make_shared<MetaInfoTraitList>(MetaInfoTraitList{{"Is", "StringValue", "Dml::ViewSpec"}});
    MetaInfo meta("x");
    meta.primaryTraits = viewSpec;
    EXPECT_EQ(Content([&](Serializer& s) { s.Write(meta, int32_t{1}); }),
              "<x>1<traits><trait  name=\"Is\" type=\"StringValue\">Dml::ViewSpec</trait></traits></x>");

    MetaInfo empty("x");
    empty.primaryTraits = std::make_shared<MetaInfoTraitList>();
    EXPECT_EQ(Content([&](Serializer& s) {
                  s.StartWriteMetaInfo(empty);
                  s.FinishWriteMetaInfo(empty);
              }),
              "<x><traits></traits></x>");

    MetaInfo both("x");
    both.secondaryTraits = std::make_shared<MetaInfoTraitList>(MetaInfoTraitList{{"s", "t", " a  b<\xE9"}});
    both.primaryTraits = std::make_shared<MetaInfoTraitList>(MetaInfoTraitList{{"p", "q", "1"}, {"p2", "q2", ""}});
    EXPECT_EQ(Content([&](Serializer& s) { s.Write(both, true); }),
              "<x>1<traits><trait  name=\"p\" type=\"q\">1</trait><trait  name=\"p2\" type=\"q2\"></trait>"
              "<trait  name=\"s\" type=\"t\">&#32;a &#32;b&lt;\xC3\xA9</trait></traits></x>");
}

TEST(XmlPacketElements, ClosingNameIsTheDescriptorsAndUnbalancedCloseIsHarmless)
{
    EXPECT_EQ(Content([](Serializer& s) {
                  s.StartWriteMetaInfo(MetaInfo("a"));
                  s.FinishWriteMetaInfo(MetaInfo("b"));
                  s.FinishWriteMetaInfo(MetaInfo("c"));
                  EXPECT_EQ(s.GetCurrentMetaInfo().name, "");
              }),
              "<a></b></c>");
}

// Writes one packet of generated values of every type (but errors, whose
// blob carries the build tag) in nested, versioned elements.
void WriteGeneratedPacket(Serializer& serializer, std::mt19937_64& random)
{
    auto pick = [&](uint64_t bound) { return random() % bound; };
    auto bits = [&] { return random(); };
    static const std::shared_ptr<MetaInfoTraitList> traits = std::make_shared<MetaInfoTraitList>(
        MetaInfoTraitList{{"Is", "StringValue", "a <b> & c"}});
    MetaInfo outer("packet");
    outer.version = pick(4);
    if (pick(4) == 0)
        outer.primaryTraits = traits;
    WriteScope scope(serializer, outer);
    const uint64_t items = 1 + pick(6);
    for (uint64_t item = 0; item < items; ++item) {
        MetaInfo meta("item");
        meta.version = pick(3);
        WriteScope itemScope(serializer, meta);
        serializer.Write(MetaInfo("b"), pick(2) == 0);
        serializer.Write(MetaInfo("c"), static_cast<char>(bits()));
        Common::Guid guid;
        const uint64_t g = bits(), h = bits();
        guid.first = static_cast<uint32_t>(g);
        guid.second = static_cast<uint16_t>(g >> 32);
        guid.third = static_cast<uint16_t>(g >> 48);
        std::memcpy(guid.last, &h, sizeof guid.last);
        serializer.Write(MetaInfo("g"), guid);
        std::u16string wide;
        const uint64_t wideLength = pick(40);
        static const char16_t kUnits[] = {u'a', u' ', u'\n',  u'\r',  u'\t',  u'<',   u'&',   u']', u'>', 0x7F,
                                          0x1F, 0xE9, 0x4E2D, 0xD83D, 0xDE00, 0xFFFE, 0xFFFF, 0,    u'Z', u'9'};
        for (uint64_t i = 0; i < wideLength; ++i)
            wide.push_back(kUnits[pick(sizeof kUnits / sizeof kUnits[0])]);
        serializer.Write(MetaInfo("w"), wide);
        serializer.Write(MetaInfo("u32"), static_cast<uint32_t>(bits()));
        double number;
        const uint64_t numberBits = pick(3) == 0 ? bits() : 0;
        std::memcpy(&number, &numberBits, sizeof number);
        if (numberBits == 0)
            number = static_cast<double>(static_cast<int64_t>(bits())) / static_cast<double>(1 + pick(1000));
        serializer.Write(MetaInfo("d"), number);
        serializer.Write(MetaInfo("u64"), static_cast<uint64_t>(bits() >> pick(64)));
        serializer.Write(MetaInfo("i32"), static_cast<int32_t>(bits()));
        serializer.Write(MetaInfo("i64"), static_cast<int64_t>(bits() >> pick(64)));
        std::string narrow;
        const uint64_t narrowLength = pick(30);
        for (uint64_t i = 0; i < narrowLength; ++i)
            narrow.push_back(static_cast<char>(pick(4) == 0 ? bits() : 'a' + pick(26)));
        serializer.Write(MetaInfo("s"), narrow);
        serializer.Write(MetaInfo("i16"), static_cast<int16_t>(bits()));
        serializer.Write(MetaInfo("u16"), static_cast<uint16_t>(bits()));
        std::vector<unsigned char> bytes(pick(70));
        for (unsigned char& byte : bytes)
            byte = static_cast<unsigned char>(bits());
        serializer.Write(MetaInfo("v"), bytes);
        SharedData shared;
        shared.size = pick(5);
        if (shared.size != 0) {
            shared.data.reset(new unsigned char[shared.size]);
            for (uint64_t i = 0; i < shared.size; ++i)
                shared.data[i] = static_cast<unsigned char>(bits());
        }
        serializer.Write(MetaInfo("sd"), shared);
    }
}

TEST(XmlPacketBytes, GeneratedPacketsKeepTheirBytes)
{
    // 2,000 packets of generated values; the digest of their bytes was taken
    // from the writer as it stands and must not move when the writer changes
    // inside.
    std::mt19937_64 random(41);
    uint64_t digest = 0xcbf29ce484222325ull;
    uint64_t total = 0;
    for (int packet = 0; packet < 2000; ++packet) {
        XMLPacketSerializer serializer(2, 0);
        WriteGeneratedPacket(serializer, random);
        std::vector<unsigned char> bytes;
        serializer.GetData(bytes);
        for (unsigned char byte : bytes)
            digest = (digest ^ byte) * 0x100000001b3ull;
        total += bytes.size();
    }
    EXPECT_EQ(total, 2978441u);
    EXPECT_EQ(digest, 17267235913513200462ull);
}

TEST(XmlPacketTrees, GeneratedPacketsLoadAsBefore)
{
    // The same 2,000 packets read back as trees: the digest of results,
    // positions and trees was taken from the reader before its elements
    // moved into a store per document and before it read memory input in
    // place, and must not move.
    std::mt19937_64 random(41);
    uint64_t digest = 0xcbf29ce484222325ull;
    for (int packet = 0; packet < 2000; ++packet) {
        XMLPacketSerializer serializer(2, 0);
        WriteGeneratedPacket(serializer, random);
        std::vector<unsigned char> bytes;
        serializer.GetData(bytes);
        XmlTest::Loaded loaded;
        XmlTest::Load(loaded, std::string(bytes.begin(), bytes.end()));
        EXPECT_TRUE(loaded.ok) << packet;
        digest = (digest ^ XmlTest::LoadDigest(loaded)) * 0x100000001b3ull;
    }
    EXPECT_EQ(digest, 10864730764338530135ull);
}

TEST(XmlPacketState, CurrentMetaInfoNamesInnermostOpenElement)
{
    XMLPacketSerializer serializer(2, 0);
    EXPECT_EQ(serializer.GetCurrentMetaInfo().name, "");
    MetaInfo outer("outer");
    outer.version = 4;
    serializer.StartWriteMetaInfo(outer);
    serializer.StartWriteMetaInfo(MetaInfo("inner"));
    MetaInfo current = serializer.GetCurrentMetaInfo();
    EXPECT_EQ(current.name, "inner");
    EXPECT_EQ(current.version, 0u);
    EXPECT_EQ(current.primaryTraits, nullptr);
    serializer.FinishWriteMetaInfo(MetaInfo("inner"));
    EXPECT_EQ(serializer.GetCurrentMetaInfo().name, "outer");
}

TEST(XmlPacketState, SharedDataTakesThePacketOnce)
{
    XMLPacketSerializer serializer(2, 0);
    serializer.StartWriteMetaInfo(MetaInfo("open"));
    SharedData first = serializer.GetSharedData();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.data.get()), first.size), kHead + "<open>" + kEnd);
    EXPECT_EQ(serializer.GetCurrentMetaInfo().name, "open");
    SharedData second = serializer.GetSharedData();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(second.data.get()), second.size), kEnd);
    serializer.FinishWriteMetaInfo(MetaInfo("open"));
    EXPECT_EQ(Take(serializer), "</open>" + kEnd);
}

TEST(XmlPacketState, PacketsBeyondTheKeptRoomComeWhole)
{
    // Packets below and beyond the room a thread keeps (1 MiB), one after
    // another on the same thread: each comes whole, replacing what the
    // receiving vector held, and the serializer goes on from an empty buffer.
    for (size_t size :
         {size_t{3}, size_t{9} << 20, size_t{6}, size_t{3} << 18, size_t{3} << 20, size_t{3} << 19, size_t{12} << 20}) {
        const std::vector<unsigned char> bytes(size, 0xFB);
        std::string expected;
        for (size_t i = 0; i < size / 3; ++i)
            expected += "+/v7";
        XMLPacketSerializer serializer(2, 0);
        serializer.Write(MetaInfo("v"), bytes);
        std::vector<unsigned char> out{1, 2, 3};
        serializer.GetData(out);
        ASSERT_EQ(out.size(), kHead.size() + expected.size() + 7 + kEnd.size()) << size;
        EXPECT_TRUE(std::string(out.begin(), out.end()) == kHead + "<v>" + expected + "</v>" + kEnd) << size;
        EXPECT_EQ(Take(serializer), kEnd) << size;
    }
}

// Fillers of a packet for the room tests: small values of every type, one
// large byte block, and a large byte block handed over in pieces.
void FillGenerated(XMLPacketSerializer& serializer)
{
    std::mt19937_64 random(5);
    for (int i = 0; i < 20; ++i)
        WriteGeneratedPacket(serializer, random);
}

void FillLargeBlock(XMLPacketSerializer& serializer)
{
    std::vector<unsigned char> bytes(size_t{3} << 20);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 131 >> 3);
    WriteScope scope(serializer, MetaInfo("outer"));
    serializer.Write(MetaInfo("v"), bytes);
    serializer.Write(MetaInfo("n"), uint32_t{7});
}

void FillLargePieces(XMLPacketSerializer& serializer)
{
    WriteScope scope(serializer, MetaInfo("outer"));
    const uint64_t size = (uint64_t{3} << 20) + 1;
    serializer.WriteBytes(MetaInfo("v"), size, [&](XMLPacketSerializer::ByteSink& sink) {
        std::vector<unsigned char> piece(4099);
        for (uint64_t done = 0; done < size;) {
            const size_t length = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - done));
            for (size_t i = 0; i < length; ++i)
                piece[i] = static_cast<unsigned char>((done + i) * 7);
            sink.Write(piece.data(), length);
            done += length;
        }
    });
    serializer.Write(MetaInfo("n"), uint32_t{7});
}

TEST(XmlPacketReserve, PacketsInGivenRoomKeepTheirBytesAndNeverOutgrowIt)
{
    // Each packet written after Reserve comes out as without it, whether the
    // room is exact, larger or too small. A packet beyond the kept room is
    // handed over in the room it was given when that room held it: its
    // capacity is the room (a growth would have doubled it).
    const struct
    {
        const char* name;
        void (*fill)(XMLPacketSerializer&);
    } fills[] = {{"generated", FillGenerated}, {"large block", FillLargeBlock}, {"large pieces", FillLargePieces}};
    for (const auto& fill : fills) {
        std::vector<unsigned char> expected;
        {
            XMLPacketSerializer serializer(2, 0);
            fill.fill(serializer);
            serializer.GetData(expected);
        }
        const size_t size = expected.size();
        for (const size_t room : {size, size + 1, size + 4096, size - 1, size / 2}) {
            XMLPacketSerializer serializer(2, 0);
            serializer.Reserve(room);
            fill.fill(serializer);
            std::vector<unsigned char> out;
            serializer.GetData(out);
            EXPECT_TRUE(out == expected) << fill.name << " " << room;
            if (room >= size && size > (size_t{1} << 20)) {
                EXPECT_EQ(out.capacity(), room) << fill.name << " " << room;
            }
        }
    }
}

TEST(XmlPacketReserve, RoomBeyondTheKeptLimitIsNotKeptForTheThread)
{
    // After a packet in 8 MiB of given room, the next small packet on the
    // thread starts from kept room of 1 MiB at most: it is copied out, not
    // handed over in the 8 MiB.
    for (bool writeFirst : {false, true}) {
        {
            XMLPacketSerializer small(2, 0);
            small.Write(MetaInfo("s"), std::string(200000, 'k'));
            std::vector<unsigned char> out;
            small.GetData(out); // leaves room of its own for the thread
        }
        XMLPacketSerializer large(2, 0);
        if (writeFirst)
            large.Write(MetaInfo("s"), std::string(1000, 'a'));
        large.Reserve(size_t{8} << 20);
        large.Write(MetaInfo("s"), std::string(100, 'b'));
        std::vector<unsigned char> out;
        large.GetData(out);
        EXPECT_EQ(out.capacity(), size_t{8} << 20) << writeFirst;
        EXPECT_EQ(out.size(), kHead.size() + (writeFirst ? 1007u : 0u) + 107u + kEnd.size()) << writeFirst;

        XMLPacketSerializer next(2, 0);
        next.Write(MetaInfo("v"), true);
        std::vector<unsigned char> small;
        next.GetData(small);
        EXPECT_EQ(std::string(small.begin(), small.end()), kHead + "<v>1</v>" + kEnd);
        EXPECT_LE(small.capacity(), size_t{1} << 20) << writeFirst;
    }
}

TEST(XmlPacketState, ContextAndLookup)
{
    XMLPacketSerializer serializer(2, 0);
    EXPECT_EQ(serializer.GetContext(), nullptr);
    int marker = 0;
    serializer.SetContext(&marker);
    EXPECT_EQ(serializer.GetContext(), &marker);
    EXPECT_EQ(Take(serializer), kHead + kEnd); // the context writes nothing

    EXPECT_EQ(serializer.Cast(nullptr), nullptr);
    for (const char* key :
         {"PN13Serialization24ContainerAwareSerializerE", "PN3Por13Serialization18PorAwareSerializerE",
          "PN3Por13Serialization20PorAwareDeserializerE", "PN13Serialization10SerializerE"})
        EXPECT_EQ(serializer.Cast(key), nullptr) << key;
}

} // namespace
} // namespace Serialization
