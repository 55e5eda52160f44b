#include "enterprise/serialize/xml_packet_deserializer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "testing/error_matchers.h"

namespace Serialization {
namespace {

using namespace Testing;
using ::testing::AllOf;
using ::testing::Matcher;
using ::testing::StartsWith;

constexpr Common::SourceFile kTestSource("enterprise/serialize/xml_packet_deserializer_test");
constexpr uint64_t kLineTagBase = 0x7e90832cff0290f3ull;

std::string Packet(const std::string& body)
{
    return "<XML_SERIALIZER>" + body + "</XML_SERIALIZER>";
}

XMLPacketDeserializer Over(const std::string& bytes, uint64_t initialVersion = 0)
{
    return XMLPacketDeserializer(bytes.data(), bytes.size(), initialVersion);
}

// The text of each error the deserializer raises.
Matcher<const Common::Error&> HasDeserializerText(unsigned code)
{
    switch (code) {
    case 0x9C0002:
        return AllOf(HasText(Common::GetMessageText(642)), HasTextThat(StartsWith("Cannot deserialize the object.")));
    case 0x9C0003:
        return HasText(u"Cannot find the object's meta info.");
    case 0x9C0004:
        return HasText(u"SERIALIZER_ERROR_NO_DATA");
    default:
        ADD_FAILURE() << "no text known for code 0x" << std::hex << code;
        return ::testing::_;
    }
}

// The error `action` raises; success when it raises none. (A matcher that ran
// the action itself would run it again to explain a failure.)
Common::Error RaisedBy(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Common::Error& error) {
        return error;
    }
    return Common::Success;
}

// An error raised by the deserializer: its code and text, its place with
// that line's LineTag, and no cause.
Matcher<const Common::Error&> RaisedByDeserializer(unsigned code, const char* function, uint32_t line)
{
    return AllOf(ErrorIs(code), HasDeserializerText(code),
                 RaisedAt("enterprise/serialize/xml_serializer", function, line), HasLineTag(kLineTagBase + line),
                 CausedBy(IsSuccessError()));
}

// ---------------------------------------------------------------------------
// Round trip of every value type through the serializer.

struct Values
{
    bool flags[2] = {};
    char chars[5] = {};
    Common::Guid guids[2] = {};
    Common::Error errors[3];
    std::u16string wide[6];
    uint32_t u32[3] = {};
    double doubles[7] = {};
    uint64_t u64[3] = {};
    int32_t i32[3] = {};
    int64_t i64[3] = {};
    std::string narrow[5];
    int16_t i16[3] = {};
    uint16_t u16[2] = {};
    std::vector<unsigned char> bytes[4];
    SharedData blocks[3];
};

Values SampleValues()
{
    Values v;
    v.flags[0] = true;
    v.flags[1] = false;
    v.chars[0] = 0;
    v.chars[1] = 'a';
    v.chars[2] = static_cast<char>(0x7F);
    v.chars[3] = static_cast<char>(0x80);
    v.chars[4] = static_cast<char>(0xFF);
    v.guids[0] = Common::Guid{0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
    Common::GenerateGuid(v.guids[1], 0);

    v.errors[0] = Common::Error();
    v.errors[1] = Common::Error(0x40002, u"The end \u00E9 \xD83D\xDE00", kTestSource.At("SampleValues", 1));
    Common::Error outer = Common::MakeTraceLevelError(0xF90001, u"outer", kTestSource.At("SampleValues", 2));
    Common::Error middle(0x9C0002, "narrow text", kTestSource.At("Middle", 3));
    middle.AddPosixError(ENOENT);
    outer.AddCause(middle);
    v.errors[2] = outer;

    v.wide[0] = u"";
    v.wide[1] = u"plain";
    v.wide[2] = u"\xD83D\xDE00 pair \xDBFF\xDFFF";
    v.wide[3] = std::u16string(u"\x01\t\n\r\x1F ctl", 10);
    v.wide[4] = u"  two  blanks  ";
    v.wide[5] = u"<&>\"' ]]> \u00E9\u4E2D\xFFFD";

    v.u32[0] = 0;
    v.u32[1] = 1;
    v.u32[2] = std::numeric_limits<uint32_t>::max();
    v.doubles[0] = 0.0;
    v.doubles[1] = -1.5;
    v.doubles[2] = 0.1;
    v.doubles[3] = 1e308;
    v.doubles[4] = -2.5e-300;
    v.doubles[5] = 123456789012345.6;
    v.doubles[6] = std::numeric_limits<double>::infinity();
    v.u64[0] = 0;
    v.u64[1] = 1ull << 63;
    v.u64[2] = std::numeric_limits<uint64_t>::max();
    v.i32[0] = std::numeric_limits<int32_t>::min();
    v.i32[1] = -1;
    v.i32[2] = std::numeric_limits<int32_t>::max();
    v.i64[0] = std::numeric_limits<int64_t>::min();
    v.i64[1] = -1;
    v.i64[2] = std::numeric_limits<int64_t>::max();

    v.narrow[0] = "";
    v.narrow[1] = "ascii";
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        v.narrow[2].push_back(static_cast<char>(byte));
    v.narrow[3] = "\x01\t\n\r x  y ";
    v.narrow[4] = " \xE9\n\xFF ";

    v.i16[0] = std::numeric_limits<int16_t>::min();
    v.i16[1] = -1;
    v.i16[2] = std::numeric_limits<int16_t>::max();
    v.u16[0] = 0;
    v.u16[1] = std::numeric_limits<uint16_t>::max();

    v.bytes[1] = {0x00};
    for (int byte = 0; byte < 256; ++byte)
        v.bytes[2].push_back(static_cast<unsigned char>(byte));
    std::mt19937 random(7);
    for (int i = 0; i < 1000; ++i)
        v.bytes[3].push_back(static_cast<unsigned char>(random()));

    v.blocks[0].size = 0;
    v.blocks[1].data.reset(new unsigned char[2]{0xAB, 0xCD});
    v.blocks[1].size = 2;
    v.blocks[2].data.reset(new unsigned char[5]{1, 2, 3, 4, 5});
    v.blocks[2].size = 5;
    return v;
}

template <typename T, size_t N>
void WriteAll(Serializer& serializer, const char* name, const T (&values)[N])
{
    for (const T& value : values)
        serializer.Write(MetaInfo(name), value);
}

template <typename T, size_t N>
void ReadAll(Deserializer& deserializer, const char* name, T (&values)[N])
{
    for (T& value : values)
        deserializer.Read(MetaInfo(name), value);
}

// Writes every value, the first half inside a versioned element.
std::vector<unsigned char> WriteValues(const Values& v)
{
    XMLPacketSerializer serializer(2, 0);
    MetaInfo scalars("scalars");
    scalars.version = 4;
    serializer.StartWriteMetaInfo(scalars);
    WriteAll(serializer, "bool", v.flags);
    WriteAll(serializer, "char", v.chars);
    WriteAll(serializer, "guid", v.guids);
    WriteAll(serializer, "u32", v.u32);
    WriteAll(serializer, "double", v.doubles);
    WriteAll(serializer, "u64", v.u64);
    WriteAll(serializer, "i32", v.i32);
    WriteAll(serializer, "i64", v.i64);
    WriteAll(serializer, "i16", v.i16);
    WriteAll(serializer, "u16", v.u16);
    serializer.FinishWriteMetaInfo(scalars);
    MetaInfo texts("texts");
    serializer.StartWriteMetaInfo(texts);
    WriteAll(serializer, "error", v.errors);
    WriteAll(serializer, "wide", v.wide);
    WriteAll(serializer, "narrow", v.narrow);
    WriteAll(serializer, "bytes", v.bytes);
    WriteAll(serializer, "block", v.blocks);
    serializer.FinishWriteMetaInfo(texts);
    std::vector<unsigned char> packet;
    serializer.GetData(packet);
    return packet;
}

Values ReadValues(Deserializer& deserializer)
{
    Values v;
    // Values the reader must overwrite.
    for (Common::Error& error : v.errors)
        error = Common::Error(0x123, u"stale", Common::NoLocation);
    for (SharedData& block : v.blocks) {
        block.data.reset(new unsigned char[1]{0x55});
        block.size = 1;
    }
    for (auto& bytes : v.bytes)
        bytes.assign(3, 0x55);

    EXPECT_EQ(deserializer.GetSubjectVersion(), 9u);
    {
        ReadScope scope(deserializer, MetaInfo("scalars"));
        EXPECT_EQ(deserializer.GetSubjectVersion(), 4u);
        ReadAll(deserializer, "bool", v.flags);
        ReadAll(deserializer, "char", v.chars);
        ReadAll(deserializer, "guid", v.guids);
        ReadAll(deserializer, "u32", v.u32);
        ReadAll(deserializer, "double", v.doubles);
        ReadAll(deserializer, "u64", v.u64);
        ReadAll(deserializer, "i32", v.i32);
        ReadAll(deserializer, "i64", v.i64);
        ReadAll(deserializer, "i16", v.i16);
        ReadAll(deserializer, "u16", v.u16);
        scope.Close();
    }
    {
        ReadScope scope(deserializer, MetaInfo("texts"));
        EXPECT_EQ(deserializer.GetSubjectVersion(), 9u);
        ReadAll(deserializer, "error", v.errors);
        ReadAll(deserializer, "wide", v.wide);
        ReadAll(deserializer, "narrow", v.narrow);
        ReadAll(deserializer, "bytes", v.bytes);
        ReadAll(deserializer, "block", v.blocks);
        scope.Close();
    }
    EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "");
    return v;
}

std::string Names(const Common::Error& error)
{
    const char* names = error.GetParameterNames();
    return names ? names : "";
}

// Compares two chains record by record: code, text, location and every
// parameter.
void ExpectSameChain(const Common::Error& expected, const Common::Error& actual)
{
    const Common::ErrorRecord* left = expected.GetRecord();
    const Common::ErrorRecord* right = actual.GetRecord();
    for (int index = 0; left != nullptr || right != nullptr; ++index) {
        SCOPED_TRACE(testing::Message() << "record " << index);
        ASSERT_TRUE(left != nullptr && right != nullptr) << "chains differ in length";
        const Common::Error one(const_cast<Common::ErrorRecord*>(left));
        const Common::Error other(const_cast<Common::ErrorRecord*>(right));
        EXPECT_EQ(one.GetCode(), other.GetCode());
        EXPECT_EQ(one.GetText(), other.GetText());
        const Common::Location a = one.GetLocation();
        const Common::Location b = other.GetLocation();
        EXPECT_EQ(a.LineTag, b.LineTag);
        EXPECT_EQ(a.line, b.line);
        EXPECT_STREQ(a.file ? a.file : "", b.file ? b.file : "");
        EXPECT_STREQ(a.function ? a.function : "", b.function ? b.function : "");
        const std::string names = Names(one);
        for (size_t start = 0; start < names.size();) {
            size_t comma = names.find(',', start);
            if (comma == std::string::npos)
                comma = names.size();
            const std::string name = names.substr(start, comma - start);
            SCOPED_TRACE(name);
            EXPECT_NE(("," + Names(other) + ",").find("," + name + ","), std::string::npos);
            EXPECT_EQ(one.GetIntegerParameter(name.c_str()), other.GetIntegerParameter(name.c_str()));
            const char* textA = one.GetTextParameter(name.c_str());
            const char* textB = other.GetTextParameter(name.c_str());
            EXPECT_STREQ(textA ? textA : "(null)", textB ? textB : "(null)");
            const char16_t* wideA = one.GetWideTextParameter(name.c_str());
            const char16_t* wideB = other.GetWideTextParameter(name.c_str());
            EXPECT_EQ(std::u16string(wideA ? wideA : u"(null)"), std::u16string(wideB ? wideB : u"(null)"));
            start = comma + 1;
        }
        left = left->next;
        right = right->next;
    }
}

void ExpectSameValues(const Values& expected, const Values& actual)
{
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(actual.flags[i], expected.flags[i]) << i;
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(actual.chars[i], expected.chars[i]) << i;
    for (size_t i = 0; i < 2; ++i)
        EXPECT_TRUE(actual.guids[i] == expected.guids[i]) << i;
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(testing::Message() << "error " << i);
        ExpectSameChain(expected.errors[i], actual.errors[i]);
    }
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(actual.wide[i], expected.wide[i]) << i;
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(actual.u32[i], expected.u32[i]) << i;
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(actual.doubles[i], expected.doubles[i]) << i;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(actual.u64[i], expected.u64[i]) << i;
        EXPECT_EQ(actual.i32[i], expected.i32[i]) << i;
        EXPECT_EQ(actual.i64[i], expected.i64[i]) << i;
        EXPECT_EQ(actual.i16[i], expected.i16[i]) << i;
    }
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(actual.u16[i], expected.u16[i]) << i;
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(actual.narrow[i], expected.narrow[i]) << i;
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(actual.bytes[i], expected.bytes[i]) << i;
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(actual.blocks[i].size, expected.blocks[i].size) << i;
        if (expected.blocks[i].size == 0) {
            EXPECT_EQ(actual.blocks[i].data.get(), nullptr) << i;
        } else {
            EXPECT_EQ(std::memcmp(actual.blocks[i].data.get(), expected.blocks[i].data.get(),
                                  static_cast<size_t>(expected.blocks[i].size)),
                      0)
                << i;
        }
    }
}

TEST(XmlPacketRoundTrip, EveryValueTypeComesBackEqual)
{
    const Values written = SampleValues();
    const std::vector<unsigned char> packet = WriteValues(written);
    // Whether the tree copies the packet's text or reads it where it lies.
    for (XMLPacketDeserializer::Text text :
         {XMLPacketDeserializer::Text::Copied, XMLPacketDeserializer::Text::Borrowed}) {
        XMLPacketDeserializer deserializer(packet.data(), packet.size(), 9, text);
        const Values read = ReadValues(deserializer);
        ExpectSameValues(written, read);
        EXPECT_EQ(read.errors[2].GetCause().GetCause().GetIntegerParameter("code"), static_cast<uint64_t>(ENOENT));
    }
}

TEST(XmlPacketRoundTrip, FactoryStoresADeserializerThatOffersNoInterface)
{
    const Values written = SampleValues();
    const std::vector<unsigned char> packet = WriteValues(written);
    std::unique_ptr<Deserializer> deserializer;
    CreateXMLPacketDeserializer(deserializer, packet.data(), packet.size(), 9);
    ASSERT_NE(deserializer, nullptr);
    EXPECT_EQ(deserializer->Cast(Common::InterfaceKey<Deserializer>()), nullptr);
    EXPECT_EQ(deserializer->Cast(nullptr), nullptr);
    ExpectSameValues(written, ReadValues(*deserializer));
}

TEST(XmlPacketRoundTrip, RandomWideTextsComeBackUnchanged)
{
    std::mt19937 random(11);
    std::vector<std::u16string> texts;
    for (int i = 0; i < 200; ++i) {
        std::u16string text;
        const size_t length = random() % 12;
        for (size_t j = 0; j < length; ++j) {
            static const char16_t kPool[] = {u' ', u'\t', u'\n', u'\r',  0x01,   u'a',   u'<', u'&',
                                             u']', u'>',  0xE9,  0xD83D, 0xDE00, 0xFFFD, 0x7F, 0x4E2D};
            text.push_back(kPool[random() % (sizeof(kPool) / sizeof(kPool[0]))]);
        }
        // Lone surrogates are not values a caller can expect back as pairs;
        // keep them only as complete pairs.
        for (size_t j = 0; j < text.size(); ++j) {
            if (text[j] == 0xD83D && (j + 1 == text.size() || text[j + 1] != 0xDE00))
                text[j] = u'x';
            if (text[j] == 0xDE00 && (j == 0 || text[j - 1] != 0xD83D))
                text[j] = u'y';
        }
        texts.push_back(text);
    }
    XMLPacketSerializer serializer(2, 0);
    for (const std::u16string& text : texts)
        serializer.Write(MetaInfo("t"), text);
    std::vector<unsigned char> packet;
    serializer.GetData(packet);
    XMLPacketDeserializer deserializer(packet.data(), packet.size(), 0);
    for (const std::u16string& text : texts) {
        std::u16string read = u"stale";
        deserializer.Read(MetaInfo("t", true), read);
        EXPECT_EQ(read, text);
    }
}

// ---------------------------------------------------------------------------
// Walking the tree: lookup order, cursor movement, strict order.

struct Step
{
    const char* name;
    bool strict;
    const char* value;  // the text read; null: the read fails with 0x9C0002
    uint32_t errorLine; // line of that failure in Child
    const char* next;   // the name GetCurrentMetaInfo gives afterwards
};

struct CursorCase
{
    const char* what;
    std::string body;
    const char* initialNext;
    std::vector<Step> steps;
};

TEST(XmlPacketCursor, LookupTable)
{
    const std::string abc = "<a>1</a><b>2</b><c>3</c>";
    const CursorCase cases[] = {
        {"children read in order",
         abc,
         "a",
         {{"a", false, "1", 0, "b"}, {"b", false, "2", 0, "c"}, {"c", false, "3", 0, ""}}},
        {"a later child is found by search and the cursor stands at the next one",
         abc,
         "a",
         {{"c", false, "3", 0, "b"}, {"b", false, "2", 0, "c"}, {"a", false, "1", 0, ""}}},
        {"strict order refuses a child that is not next",
         abc,
         "a",
         {{"c", true, nullptr, 742, "b"}, {"b", true, "2", 0, "c"}, {"c", true, "3", 0, ""}}},
        {"strict order takes the next child", abc, "a", {{"a", true, "1", 0, "b"}}},
        {"a cursor at its end fails even when the name exists",
         "<a>1</a><b>2</b>",
         "a",
         {{"a", false, "1", 0, "b"}, {"a", false, "1", 0, ""}, {"b", false, nullptr, 724, ""}}},
        {"reading the only child twice", "<a>1</a>", "a", {{"a", false, "1", 0, ""}, {"a", false, nullptr, 724, ""}}},
        {"a missing name still moves the cursor",
         "<a>1</a><b>2</b>",
         "a",
         {{"z", false, nullptr, 742, "b"}, {"b", false, "2", 0, ""}}},
        {"repeated names are taken one after the other",
         "<a>1</a><a>2</a>",
         "a",
         {{"a", false, "1", 0, "a"}, {"a", false, "2", 0, ""}, {"a", false, nullptr, 724, ""}}},
        {"search finds the first of repeated names",
         "<b>0</b><a>1</a><a>2</a>",
         "b",
         {{"a", false, "1", 0, "a"}, {"a", false, "1", 0, "a"}, {"a", false, "2", 0, ""}}},
        {"a packet of just the root", "", "", {{"a", false, nullptr, 724, ""}}},
        {"names compare byte for byte",
         "<ab>1</ab><a>2</a>",
         "ab",
         {{"a", false, "2", 0, "a"}, {"AB", false, nullptr, 742, ""}}},
    };
    for (const CursorCase& c : cases) {
        SCOPED_TRACE(c.what);
        XMLPacketDeserializer deserializer = Over(Packet(c.body));
        EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, c.initialNext);
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.name);
            std::u16string read = u"untouched";
            const MetaInfo meta(step.name, step.strict);
            if (step.value) {
                deserializer.Read(meta, read);
                EXPECT_EQ(read, std::u16string(step.value, step.value + std::strlen(step.value)));
            } else {
                EXPECT_THAT(RaisedBy([&] { deserializer.Read(meta, read); }),
                            RaisedByDeserializer(0x9C0002, "Child", step.errorLine));
                EXPECT_EQ(read, u"untouched");
            }
            EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, step.next);
        }
    }
}

TEST(XmlPacketCursor, SearchCostDoesNotGrowWithTheChildrenPassed)
{
    // 80,000 unrelated children (a 2 MB packet) before the wanted ones, which
    // are read by name against their order: every read is a search. Linear
    // work is well under a second; a scan of the children per search takes
    // tens of seconds.
    constexpr int kUnrelated = 80000;
    std::string body;
    for (int i = 0; i < kUnrelated; ++i)
        body += "<u" + std::to_string(i) + ">x</u" + std::to_string(i) + ">";
    for (int i = 0; i < kUnrelated; ++i)
        body += "<w" + std::to_string(i) + ">" + std::to_string(i) + "</w" + std::to_string(i) + ">";
    const std::string packet = Packet(body);
    XMLPacketDeserializer deserializer = Over(packet);
    const auto start = std::chrono::steady_clock::now();
    uint32_t value = 0;
    for (int i = kUnrelated - 1; i >= 0; --i) {
        deserializer.Read(MetaInfo("w" + std::to_string(i)), value);
        ASSERT_EQ(value, static_cast<uint32_t>(i));
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(XmlPacketCursor, EnteringAndLeavingKeepsOneCursorPerLevel)
{
    XMLPacketDeserializer deserializer = Over(Packet("<x>own<a>1</a><y><a>deep</a></y><a>2</a></x><a>top</a>"));
    std::u16string text;
    deserializer.StartReadMetaInfo(MetaInfo("x"));
    EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "a");
    // An empty name reads the current element's own text.
    deserializer.Read(MetaInfo(), text);
    EXPECT_EQ(text, u"own");
    deserializer.Read(MetaInfo("a"), text);
    EXPECT_EQ(text, u"1");
    deserializer.StartReadMetaInfo(MetaInfo("y"));
    deserializer.Read(MetaInfo("a"), text);
    EXPECT_EQ(text, u"deep");
    deserializer.FinishReadMetaInfo(MetaInfo("y"));
    EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "a");
    deserializer.Read(MetaInfo("a"), text);
    EXPECT_EQ(text, u"2");
    deserializer.FinishReadMetaInfo(MetaInfo("x"));
    EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "a");
    deserializer.Read(MetaInfo("a"), text);
    EXPECT_EQ(text, u"top");
    // Empty names neither enter nor leave.
    deserializer.StartReadMetaInfo(MetaInfo());
    deserializer.FinishReadMetaInfo(MetaInfo());
    EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "");
}

TEST(XmlPacketCursor, FailedLookupInsideReadLeavesThePositionAlone)
{
    XMLPacketDeserializer deserializer = Over(Packet("<x><a>1</a></x>"));
    deserializer.StartReadMetaInfo(MetaInfo("x"));
    uint32_t number = 5;
    EXPECT_THAT(RaisedBy([&] { deserializer.Read(MetaInfo("zz"), number); }),
                RaisedByDeserializer(0x9C0002, "Child", 742));
    EXPECT_EQ(number, 5u);
    // Still inside x: leaving x works, and the root's cursor is untouched.
    deserializer.FinishReadMetaInfo(MetaInfo("x"));
    EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "");
}

// ---------------------------------------------------------------------------
// Versions.

TEST(XmlPacketVersions, ElementsInheritTheVersionOfTheirParent)
{
    struct Case
    {
        const char* attribute; // the version attribute of x, or null
        uint64_t expected;
    };
    const Case cases[] = {
        {" version=\"5\"", 5},           {nullptr, 3},           {" version=\"0\"", 3},
        {" version=\"abc\"", 3},         {" version=\"7x\"", 7}, {" version=\"18446744073709551615\"", UINT64_MAX},
        {" version=\"-1\"", UINT64_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attribute ? c.attribute : "(none)");
        const std::string x = std::string("<x") + (c.attribute ? c.attribute : "") + "><y/></x>";
        XMLPacketDeserializer deserializer = Over(Packet("<p>" + x + "</p>"), 3);
        EXPECT_EQ(deserializer.GetSubjectVersion(), 3u);
        deserializer.StartReadMetaInfo(MetaInfo("p"));
        EXPECT_EQ(deserializer.GetSubjectVersion(), 3u);
        deserializer.StartReadMetaInfo(MetaInfo("x"));
        EXPECT_EQ(deserializer.GetSubjectVersion(), c.expected);
        deserializer.StartReadMetaInfo(MetaInfo("y"));
        EXPECT_EQ(deserializer.GetSubjectVersion(), c.expected);
        deserializer.FinishReadMetaInfo(MetaInfo("y"));
        deserializer.FinishReadMetaInfo(MetaInfo("x"));
        EXPECT_EQ(deserializer.GetSubjectVersion(), 3u);
        deserializer.FinishReadMetaInfo(MetaInfo("p"));
        EXPECT_EQ(deserializer.GetSubjectVersion(), 3u);
    }
}

TEST(XmlPacketVersions, VersionsWrittenByTheSerializerComeBack)
{
    XMLPacketSerializer serializer(2, 0);
    MetaInfo outer("outer");
    outer.version = 12;
    MetaInfo inner("inner");
    inner.version = 1;
    serializer.StartWriteMetaInfo(outer);
    serializer.StartWriteMetaInfo(MetaInfo("plain"));
    serializer.StartWriteMetaInfo(inner);
    serializer.FinishWriteMetaInfo(inner);
    serializer.FinishWriteMetaInfo(MetaInfo("plain"));
    serializer.FinishWriteMetaInfo(outer);
    std::vector<unsigned char> packet;
    serializer.GetData(packet);

    XMLPacketDeserializer deserializer(packet.data(), packet.size(), 2);
    const uint64_t expected[] = {12, 12, 1};
    const char* names[] = {"outer", "plain", "inner"};
    for (int i = 0; i < 3; ++i) {
        deserializer.StartReadMetaInfo(MetaInfo(names[i]));
        EXPECT_EQ(deserializer.GetSubjectVersion(), expected[i]) << names[i];
    }
    for (int i = 2; i >= 0; --i)
        deserializer.FinishReadMetaInfo(MetaInfo(names[i]));
    EXPECT_EQ(deserializer.GetSubjectVersion(), 2u);
}

// ---------------------------------------------------------------------------
// Leaving elements.

TEST(XmlPacketLeave, ClosingAnotherElementFailsAndStaysInside)
{
    XMLPacketDeserializer deserializer = Over(Packet("<x version=\"4\"><a>in</a></x><a>out</a>"));
    deserializer.StartReadMetaInfo(MetaInfo("x"));
    EXPECT_THAT(RaisedBy([&] { deserializer.FinishReadMetaInfo(MetaInfo("a")); }),
                RaisedByDeserializer(0x9C0002, "FinishReadMetaInfo", 783));
    MetaInfo withTraits("x");
    withTraits.primaryTraits = std::make_shared<MetaInfoTraitList>();
    EXPECT_THAT(RaisedBy([&] { deserializer.FinishReadMetaInfo(withTraits); }),
                RaisedByDeserializer(0x9C0002, "FinishReadMetaInfo", 783));
    MetaInfo withSecondary("x");
    withSecondary.secondaryTraits = std::make_shared<MetaInfoTraitList>();
    EXPECT_THAT(RaisedBy([&] { deserializer.FinishReadMetaInfo(withSecondary); }),
                RaisedByDeserializer(0x9C0002, "FinishReadMetaInfo", 783));
    EXPECT_EQ(deserializer.GetSubjectVersion(), 4u);
    std::u16string text;
    deserializer.Read(MetaInfo("a"), text);
    EXPECT_EQ(text, u"in");
}

TEST(XmlPacketLeave, ATraitDescriptorEntersButNeverLeavesInsideARead)
{
    // The closing failure of a value read is traced and dropped, so the
    // deserializer stays in the element and later lookups search its children.
    XMLPacketDeserializer deserializer = Over(Packet("<v>7<w>8</w></v><w>9</w>"));
    MetaInfo traited("v");
    traited.primaryTraits = std::make_shared<MetaInfoTraitList>();
    uint32_t number = 0;
    deserializer.Read(traited, number);
    EXPECT_EQ(number, 7u);
    deserializer.Read(MetaInfo("w"), number);
    EXPECT_EQ(number, 8u);
}

TEST(XmlPacketLeave, LeavingTheRootEndsTheWalk)
{
    XMLPacketDeserializer deserializer = Over(Packet("<a>1</a>"), 6);
    EXPECT_THAT(RaisedBy([&] { deserializer.FinishReadMetaInfo(MetaInfo("XML_SERIALIZER")); }),
                RaisedByDeserializer(0x9C0002, "FinishReadMetaInfo", 795));
    // No current element any more; the version stack was not popped.
    EXPECT_EQ(deserializer.GetSubjectVersion(), 6u);
    EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "");
    uint64_t number = 1;
    EXPECT_THAT(RaisedBy([&] { deserializer.Read(MetaInfo("a"), number); }),
                RaisedByDeserializer(0x9C0004, "Read", 577));
    EXPECT_THAT(RaisedBy([&] { deserializer.StartReadMetaInfo(MetaInfo("a")); }),
                RaisedByDeserializer(0x9C0003, "Child", 717));
    EXPECT_THAT(RaisedBy([&] { deserializer.FinishReadMetaInfo(MetaInfo("a")); }),
                RaisedByDeserializer(0x9C0003, "FinishReadMetaInfo", 778));
    EXPECT_EQ(number, 1u);
}

// ---------------------------------------------------------------------------
// Packets that do not load.

// Every read overload with its line for the missing-element failure.
void ExpectEveryReadFails(Deserializer& deserializer)
{
    const MetaInfo meta("a");
    bool b = false;
    char c = 0;
    Common::Guid guid{};
    Common::Error error;
    std::u16string wide;
    uint32_t u32 = 0;
    double d = 0;
    uint64_t u64 = 0;
    int32_t i32 = 0;
    int64_t i64 = 0;
    std::string narrow;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    std::vector<unsigned char> bytes;
    SharedData block;
    const std::pair<std::function<void()>, uint32_t> reads[] = {
        {[&] { deserializer.Read(meta, b); }, 499},      {[&] { deserializer.Read(meta, c); }, 509},
        {[&] { deserializer.Read(meta, guid); }, 519},   {[&] { deserializer.Read(meta, error); }, 529},
        {[&] { deserializer.Read(meta, wide); }, 547},   {[&] { deserializer.Read(meta, u32); }, 557},
        {[&] { deserializer.Read(meta, d); }, 567},      {[&] { deserializer.Read(meta, u64); }, 577},
        {[&] { deserializer.Read(meta, i32); }, 587},    {[&] { deserializer.Read(meta, i64); }, 597},
        {[&] { deserializer.Read(meta, narrow); }, 607}, {[&] { deserializer.Read(meta, i16); }, 617},
        {[&] { deserializer.Read(meta, u16); }, 627},    {[&] { deserializer.Read(meta, bytes); }, 637},
        {[&] { deserializer.Read(meta, block); }, 661},
    };
    for (const auto& [read, line] : reads) {
        SCOPED_TRACE(line);
        EXPECT_THAT(RaisedBy(read), RaisedByDeserializer(0x9C0004, "Read", line));
    }
}

TEST(XmlPacketBroken, EveryCallThatNeedsAnElementFails)
{
    const std::string cases[] = {
        "",
        "<XML_SERIALIZER>",
        "<XML_SERIALIZER><a>1</b></XML_SERIALIZER>",
        "not xml",
        std::string("BXML\x03\x00", 6),
        std::string("BXML\x02\x00\x00", 7), // a binary document without a root
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes);
        XMLPacketDeserializer deserializer = Over(bytes, 4);
        ExpectEveryReadFails(deserializer);
        EXPECT_THAT(RaisedBy([&] { deserializer.StartReadMetaInfo(MetaInfo("a")); }),
                    RaisedByDeserializer(0x9C0003, "Child", 717));
        EXPECT_THAT(RaisedBy([&] { deserializer.GetSubjectVersion(); }),
                    RaisedByDeserializer(0x9C0002, "GetSubjectVersion", 845));
        EXPECT_THAT(RaisedBy([&] { deserializer.FinishReadMetaInfo(MetaInfo("a")); }),
                    RaisedByDeserializer(0x9C0003, "FinishReadMetaInfo", 778));
        EXPECT_EQ(deserializer.GetCurrentMetaInfo().name, "");
        // Empty names touch nothing, even here.
        deserializer.StartReadMetaInfo(MetaInfo());
        deserializer.FinishReadMetaInfo(MetaInfo());
    }
}

TEST(XmlPacketBroken, AnyRootNameIsAccepted)
{
    XMLPacketDeserializer deserializer = Over("<other><a>5</a></other>");
    int16_t number = 0;
    deserializer.Read(MetaInfo("a"), number);
    EXPECT_EQ(number, 5);
}

// ---------------------------------------------------------------------------
// Value texts.

TEST(XmlPacketValueTexts, LenientNumbers)
{
    XMLPacketDeserializer deserializer = Over(
        Packet("<c>255</c><c>-1</c><c>256</c><u16>70000</u16><u32>-1</u32><u64>18446744073709551616</u64>"
               "<u64>-1</u64><i64>9223372036854775808</i64><i64>-9223372036854775809</i64><i32>4294967295</i32>"
               "<i16>-32769</i16><n>abc</n><n>  42xyz</n><n>+7</n><n>0x10</n><n></n><b>2</b><b>0</b><b>x</b>"));
    char c = 0;
    deserializer.Read(MetaInfo("c"), c);
    EXPECT_EQ(static_cast<unsigned char>(c), 0xFF);
    deserializer.Read(MetaInfo("c"), c);
    EXPECT_EQ(static_cast<unsigned char>(c), 0xFF);
    deserializer.Read(MetaInfo("c"), c);
    EXPECT_EQ(c, 0);
    uint16_t u16 = 0;
    deserializer.Read(MetaInfo("u16"), u16);
    EXPECT_EQ(u16, 4464);
    uint32_t u32 = 0;
    deserializer.Read(MetaInfo("u32"), u32);
    EXPECT_EQ(u32, UINT32_MAX);
    uint64_t u64 = 0;
    deserializer.Read(MetaInfo("u64"), u64);
    EXPECT_EQ(u64, UINT64_MAX);
    deserializer.Read(MetaInfo("u64"), u64);
    EXPECT_EQ(u64, UINT64_MAX);
    int64_t i64 = 0;
    deserializer.Read(MetaInfo("i64"), i64);
    EXPECT_EQ(i64, INT64_MAX);
    deserializer.Read(MetaInfo("i64"), i64);
    EXPECT_EQ(i64, INT64_MIN);
    int32_t i32 = 0;
    deserializer.Read(MetaInfo("i32"), i32);
    EXPECT_EQ(i32, -1);
    int16_t i16 = 0;
    deserializer.Read(MetaInfo("i16"), i16);
    EXPECT_EQ(i16, 32767);
    const int64_t plain[] = {0, 42, 7, 0, 0};
    for (int64_t expected : plain) {
        int64_t value = 99;
        deserializer.Read(MetaInfo("n"), value);
        EXPECT_EQ(value, expected);
    }
    const bool flags[] = {true, false, false};
    for (bool expected : flags) {
        bool value = !expected;
        deserializer.Read(MetaInfo("b"), value);
        EXPECT_EQ(value, expected);
    }
}

TEST(XmlPacketValueTexts, DoublesAndGuidsKeepTheCallersValueWhenTheTextIsNone)
{
    XMLPacketDeserializer deserializer = Over(Packet("<d></d><d>x1</d><d> 2.5e3</d><d>-0.125</d><d>inf</d>"
                                                     "<g>not a guid</g><g>01234567-89ab-cdef-fedc-ba9876543210</g>"));
    double d = 4.75;
    deserializer.Read(MetaInfo("d"), d);
    EXPECT_EQ(d, 4.75);
    deserializer.Read(MetaInfo("d"), d);
    EXPECT_EQ(d, 4.75);
    deserializer.Read(MetaInfo("d"), d);
    EXPECT_EQ(d, 2500.0);
    deserializer.Read(MetaInfo("d"), d);
    EXPECT_EQ(d, -0.125);
    deserializer.Read(MetaInfo("d"), d);
    EXPECT_TRUE(std::isinf(d));
    Common::Guid guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const Common::Guid before = guid;
    deserializer.Read(MetaInfo("g"), guid);
    EXPECT_TRUE(guid == before);
    deserializer.Read(MetaInfo("g"), guid);
    EXPECT_EQ(Common::GuidToString(guid), "01234567-89AB-CDEF-FEDC-BA9876543210");
}

TEST(XmlPacketValueTexts, NarrowAndWideTexts)
{
    XMLPacketDeserializer deserializer = Over(
        Packet("<t>\xC3\xA9</t><t>a&#0;b</t><t>a&#0;b</t><t>\xE4\xB8\xAD</t><t>text<child/>after</t>"));
    std::string narrow;
    deserializer.Read(MetaInfo("t"), narrow);
    EXPECT_EQ(narrow, "\xE9");
    deserializer.Read(MetaInfo("t"), narrow);
    EXPECT_EQ(narrow, "a");
    std::u16string wide;
    deserializer.Read(MetaInfo("t"), wide);
    EXPECT_EQ(wide, std::u16string(u"a\0b", 3));
    // A character above U+00FF keeps only its low byte.
    deserializer.Read(MetaInfo("t"), narrow);
    EXPECT_EQ(narrow, "\x2D");
    // Only the text before the first child is the value.
    deserializer.Read(MetaInfo("t"), wide);
    EXPECT_EQ(wide, u"text");
}

// A value made of several pieces (runs, references, blanks) reads as the
// characters in order, whichever of them lie beyond U+00FF.
TEST(XmlPacketValueTexts, TextsOfSeveralPieces)
{
    XMLPacketDeserializer deserializer = Over(Packet("<t>&#233;&#256;x</t><t>a &amp; b &#x4E2D; c</t>"
                                                     "<t>&lt;&#65;&gt;</t><n version=\"1&#48;\"><v>5</v></n>"));
    std::u16string wide;
    deserializer.Read(MetaInfo("t"), wide);
    EXPECT_EQ(wide, u"\u00E9\u0100x");
    deserializer.Read(MetaInfo("t"), wide);
    EXPECT_EQ(wide, u"a & b \u4E2D c");
    std::string narrow;
    deserializer.Read(MetaInfo("t"), narrow);
    EXPECT_EQ(narrow, "<A>");
    deserializer.StartReadMetaInfo(MetaInfo("n"));
    EXPECT_EQ(deserializer.GetSubjectVersion(), 10u);
}

TEST(XmlPacketValueTexts, Base64Values)
{
    XMLPacketDeserializer deserializer = Over(
        Packet("<v>QUJD</v><v></v><s></s><s>QUI=</s><v>QUJ</v><s>QUJ</s><e>QUJ</e><e></e><v> QU\nJD </v>"));
    std::vector<unsigned char> bytes{9, 9};
    deserializer.Read(MetaInfo("v"), bytes);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{'A', 'B', 'C'}));
    deserializer.Read(MetaInfo("v"), bytes);
    EXPECT_TRUE(bytes.empty());

    SharedData block;
    block.data.reset(new unsigned char[1]{1});
    block.size = 1;
    const boost::shared_array<unsigned char> previous = block.data;
    deserializer.Read(MetaInfo("s"), block);
    EXPECT_EQ(block.data.get(), nullptr);
    EXPECT_EQ(block.size, 0u);
    EXPECT_EQ(previous.use_count(), 1);
    deserializer.Read(MetaInfo("s"), block);
    ASSERT_EQ(block.size, 2u);
    EXPECT_EQ(block.data[0], 'A');
    EXPECT_EQ(block.data[1], 'B');

    // A text that is not Base64 fails with its own line and changes nothing.
    bytes = {7};
    EXPECT_THAT(RaisedBy([&] { deserializer.Read(MetaInfo("v"), bytes); }),
                RaisedByDeserializer(0x9C0004, "Read", 642));
    EXPECT_EQ(bytes, std::vector<unsigned char>{7});
    EXPECT_THAT(RaisedBy([&] { deserializer.Read(MetaInfo("s"), block); }),
                RaisedByDeserializer(0x9C0004, "Read", 666));
    EXPECT_EQ(block.size, 2u);
    Common::Error error(0x42, u"kept", Common::NoLocation);
    EXPECT_THAT(RaisedBy([&] { deserializer.Read(MetaInfo("e"), error); }),
                RaisedByDeserializer(0x9C0004, "Read", 534));
    EXPECT_EQ(error.GetCode(), 0x42u);
    // An empty error text reads as success.
    deserializer.Read(MetaInfo("e"), error);
    EXPECT_TRUE(error.IsSuccess());
    // The failed reads left their elements: the walk goes on at the root.
    deserializer.Read(MetaInfo("v"), bytes);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{'A', 'B', 'C'}));
}

} // namespace
} // namespace Serialization
