// The text notation reader (its units, its trace and its errors) and writer
// (its layout, and reading back what it writes).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/common/text_conversion.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/parser/unit_construction_format.h"
#include "enterprise/common/por/parser/unit_construction_parser.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/utils.h"
#include "testing/captured_output.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using PorTesting::Render;
using PorTesting::UnitPtr;
using Testing::CapturedOutput;

const Por::Construction::InMemoryUnitFactory kFactory;
const PorTesting::Make m(kFactory);

// Delivers fixed bytes.
class BytesReader final : public Utils::DataReader
{
public:
    explicit BytesReader(std::string bytes) : m_bytes(std::move(bytes)) {}
    void ReadData(std::vector<char>& bytes) override { bytes.assign(m_bytes.begin(), m_bytes.end()); }

private:
    std::string m_bytes;
};

// Keeps what the writer hands over.
class BytesWriter final : public Utils::DataWriter
{
public:
    std::vector<char> bytes;
    void WriteData(std::vector<char>& data) override { bytes = data; }
};

struct ReadResult
{
    std::string unit; // rendered, or "null", or "error <code>: <text> at <function>:<line> <LineTag>"
    std::string output;
};

ReadResult ReadText(const std::string& text)
{
    ReadResult result;
    CapturedOutput output;
    try {
        BytesReader reader(text);
        Utils::UnitConstructionFormat format;
        const UnitPtr unit = format.Read(reader, kFactory);
        result.unit = unit ? Render(*unit) : "null";
    } catch (const Common::Error& error) {
        char tag[24];
        std::snprintf(tag, sizeof tag, "%llx", static_cast<unsigned long long>(error.GetLocation().LineTag));
        result.unit = "error " + std::to_string(error.GetCode()) + ": " + Common::ToUtf8(error.GetText().c_str()) +
            " at " + (error.GetLocation().function ? error.GetLocation().function : "") + ":" +
            std::to_string(error.GetLocation().line) + " " + tag;
    }
    result.output = output.Text();
    return result;
}

// The destructor pair comes first in each interface.
TEST(NotationInterfaces, KeepTheirBinaryOrder)
{
    using Testing::VirtualSlot;
    EXPECT_EQ(VirtualSlot(&Utils::DataReader::ReadData), 2u);
    EXPECT_EQ(VirtualSlot(&Utils::DataWriter::WriteData), 2u);
    EXPECT_EQ(VirtualSlot(&Utils::UnitPostProcessor::Process), 2u);
    EXPECT_EQ(VirtualSlot(&Utils::PorFormat::Read), 2u);
    EXPECT_EQ(VirtualSlot(&Utils::PorFormat::Write), 3u);
}

TEST(NotationReader, ReadsTheExampleAndEchoesIt)
{
    const ReadResult result = ReadText(".Composite()\n  .Trait(\"Kind\").String(\"x\").End()\n"
                                       "  .Property(\"ID\").QWord(42).End()\n  .Property(\"Tags\").Array()\n"
                                       "    .String(\"a\").End()\n    .String(\"b\").End()\n  .End()\n.End()");
    EXPECT_EQ(result.unit, "{ID: QWord 42, Tags: [String \"a\", String \"b\"]} <Kind=String \"x\">");
    EXPECT_EQ(result.output,
              "Interpret trace: .Composite().Trait(\"Kind\").String(\"x\").End().Property(\"ID\")."
              "QWord(42).End().Property(\"Tags\").Array().String(\"a\").End().String(\"b\").End()."
              "End().End()\n");
}

struct EdgeCase
{
    const char* input;
    const char* unit;
    const char* output; // after "Interpret trace: "
};

const EdgeCase kEdgeCases[] = {
    {"", "null", "\n"},
    {" \r\n\t", "null", "\n"},
    {".DWord(5)", "null", ".Dword(5)\n"},
    {"Nil().End()", "Nil", ".Nil().End()\n"},
    {". Nil()", "error 6: Statement ' Nil' is unknown. at GetStatement:86 569432cb932bb22f", ""},
    {".Nil ()", "error 6: Statement 'Nil ' is unknown. at GetStatement:86 569432cb932bb22f", ""},
    {".nil()", "error 6: Statement 'nil' is unknown. at GetStatement:86 569432cb932bb22f", ""},
    {".DWord( 5)", "error 2: Expected symbol is not found! at GetNext:134 2f3d73d87c074b9a", ".Dword(0)"},
    {".DWord( 5).End()", "error 6: Statement '5).End' is unknown. at GetStatement:86 569432cb932bb22f", ".Dword(0)"},
    {".QWord(-1).End()", "QWord 18446744073709551615", ".QWord(18446744073709551615).End()\n"},
    {".DWord(-1).End()", "DWord 4294967295", ".Dword(4294967295).End()\n"},
    {".SDWord(4294967295).End()", "SDWord -1", ".SDword(-1).End()\n"},
    {".Word(0x1F).End()", "Word 31", ".Word('undefined').End()\n"},
    {".Word(1Fh).End()", "Word 31", ".Word('undefined').End()\n"},
    {".Byte(256).End()", "Byte 0", ".Byte('undefined').End()\n"},
    {".Byte(-1).End()", "Byte 255", ".Byte('undefined').End()\n"},
    {".SByte(-1).End()", "SByte -1", ".SByte('undefined').End()\n"},
    {".Word(1_0)", "error 3: Cannot convert '1_0' to qword. at TakeQwordValue:204 2f3d73d87c074be0",
     ".Word('undefined')"},
    {".SWord(--5)", "error 8: Cannot convert '--5' to sqword. at TakeSQwordValue:220 2f3d73d87c074bf0",
     ".SWord('undefined')"},
    {".QWord(--5)", "error 3: Cannot convert '-5' to qword. at TakeQwordValue:204 2f3d73d87c074be0", ""},
    {".QWord(18446744073709551616)",
     "error 3: Cannot convert '18446744073709551616' to qword. at TakeQwordValue:204 2f3d73d87c074be0", ""},
    {".SQWord(-9223372036854775808).End()", "SQWord -9223372036854775808", ".SQWord(-9223372036854775808).End()\n"},
    {".Boolean().End()", "Boolean false", ".Boolean('undefined').End()\n"},
    {".Boolean(false).End()", "Boolean false", ".Boolean('undefined').End()\n"},
    {".Boolean(False).End()", "Boolean true", ".Boolean('undefined').End()\n"},
    {".Boolean(0).End()", "Boolean true", ".Boolean('undefined').End()\n"},
    {".Boolean('false').End()", "error 6: Statement 'false').End' is unknown. at GetStatement:86 569432cb932bb22f",
     ".Boolean('undefined')"},
    {".Guid().End()", "Guid 00000000-0000-0000-0000-000000000000", ".Guid('undefined').End()\n"},
    {".Guid(01234567-89ab-CDEF-0123-456789ABCDEF).End()", "Guid 01234567-89AB-CDEF-0123-456789ABCDEF",
     ".Guid('undefined').End()\n"},
    {".Guid(xyz)", "error 7: Cannot convert 'xyz' to Common::Guid. at TakeGuid:184 2f3d73d87c074bcc",
     ".Guid('undefined')"},
    {".Guid({01234567-89AB-CDEF-0123-456789ABCDEF})",
     "error 2: Expected symbol is not found! at GetNext:134 2f3d73d87c074b9a", ".Guid('undefined')"},
    {".String('abc\").End()", "String \"abc\"", ".String(\"abc\").End()\n"},
    {".String().End()", "String \"\"", ".String(\"\").End()\n"},
    {".Composite().Property().Nil().End().End()", "{: Nil}", ".Composite().Property(\"\").Nil().End().End()\n"},
    {".String(xabc').End()", "String \"abc\"", ".String(\"abc\").End()\n"},
    {".String(\"it's\").End()", "error 6: Statement '\").End' is unknown. at GetStatement:86 569432cb932bb22f",
     ".String(\"it\")"},
    {".String(\"\xC3\xA9\").End()", "String \"\xC3\x83\xC2\xA9\"", ".String(\"\xC3\xA9\").End()\n"},
    {".Composite().Property(\"\xC3\xA9\").Nil().End().End()", "{\xC3\x83\xC2\xA9: Nil}",
     ".Composite().Property(\"\xC3\xA9\").Nil().End().End()\n"},
    {".Nil(", "error 2: Expected symbol is not found! at GetNext:134 2f3d73d87c074b9a", ".Nil()"},
    {".DWord(", "error 1: Input is over! at GetInput:102 2f3d73d87c074b7a", ""},
    {".String(\"abc", "error 2: Expected symbol is not found! at GetNext:134 2f3d73d87c074b9a", ""},
    {".String(\"abc\"", "error 2: Expected symbol is not found! at GetNext:134 2f3d73d87c074b9a", ".String(\"abc\")"},
    {".Nil", "error 2: Expected symbol is not found! at GetNext:134 2f3d73d87c074b9a", ""},
    {".Double(1).End()", "error 6: Statement 'Double' is unknown. at GetStatement:86 569432cb932bb22f", ""},
    {"..Nil()", "error 6: Statement '.Nil' is unknown. at GetStatement:86 569432cb932bb22f", ""},
    {".Composite                                ",
     "error 2: Expected symbol is not found! at GetNext:134 2f3d73d87c074b9a", ""},
    {".Composite                                ().End()",
     "error 6: Statement 'Composite                                ' is unknown. at GetStatement:86 569432cb932bb22f",
     ""},
    {".Byte(1).End().Byte(2).End()", "Byte 2", ".Byte('undefined').End().Byte('undefined').End()\n"},
    {".Property(\"a\").End()",
     "error 16384010: POR: There is a mismatch in object internal structure. Expected object "
     "type is 'composite', actual object type is '17'. at MakeTypeMismatchError:62 "
     "40b7f50692256809",
     ".Property(\"a\")"},
};

TEST(NotationReader, EdgeCases)
{
    for (const EdgeCase& c : kEdgeCases) {
        SCOPED_TRACE(c.input);
        const ReadResult result = ReadText(c.input);
        EXPECT_EQ(result.unit, c.unit);
        EXPECT_EQ(result.output, std::string("Interpret trace: ") + c.output);
    }
}

// Each statement is known by its exact name only: one character changed
// anywhere, or one more or one fewer, makes an unknown statement.
TEST(NotationReader, OnlyExactStatementNamesAreKnown)
{
    const std::string names[] = {"Composite", "Property", "Trait", "Guid",  "String", "End",
                                 "Nil",       "Boolean",  "Array", "DWord", "SDWord", "QWord",
                                 "SQWord",    "SWord",    "Word",  "SByte", "Byte"};
    for (const std::string& name : names) {
        std::vector<std::string> misses{name + "s", name.substr(1), name.substr(0, name.size() - 1)};
        for (size_t i = 0; i < name.size(); ++i) {
            std::string miss = name;
            miss[i] = static_cast<char>(miss[i] ^ 0x20); // the other case, or another sign
            misses.push_back(miss);
        }
        for (const std::string& miss : misses) {
            if (std::find(std::begin(names), std::end(names), miss) != std::end(names))
                continue; // SWord less its first letter is Word
            SCOPED_TRACE(miss);
            EXPECT_EQ(ReadText("." + miss + "()").unit,
                      "error 6: Statement '" + miss + "' is unknown. at GetStatement:86 569432cb932bb22f");
        }
    }
}

// A quoted text ends at the first quote of either kind, at any length and
// wherever the quote falls; characters from U+0080 stay single characters.
TEST(NotationReader, QuotedTextsEndAtTheFirstQuoteAtAnyLength)
{
    for (size_t length = 0; length <= 48; ++length) {
        for (const char quote : {'"', '\''}) {
            std::string text;
            for (size_t i = 0; i < length; ++i)
                text += i % 5 == 4 ? '\xE9' : static_cast<char>('a' + i % 26);
            SCOPED_TRACE(std::to_string(length) + quote);
            const ReadResult result = ReadText(".String(\"" + text + quote + ").End()");
            EXPECT_EQ(result.unit, "String \"" + Common::ToUtf8(Utils::WidenBytes(text).c_str()) + "\"");
            EXPECT_EQ(result.output, "Interpret trace: .String(\"" + text + "\").End()\n");
        }
    }
}

// The text is taken character by character: a U+0000 stays in a String, and
// ends a name and what the echo shows of either.
TEST(NotationReader, ACharacterZeroStaysInStringsAndEndsNamesAndEchoes)
{
    static const char kText[] = ".Composite().Property(\"ab\0cd\").String(\"x\0y\").End().End()";
    const std::string text(kText, sizeof kText - 1);
    CapturedOutput output;
    BytesReader reader(text);
    const UnitPtr unit = Utils::UnitConstructionFormat().Read(reader, kFactory);
    ASSERT_NE(unit, nullptr);
    const Por::View::Property* property = Por::Util::FindConstProperty(*unit, Por::Name(std::string("ab")));
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(Por::Util::GetUnitValue<std::u16string>(property->GetValue()), std::u16string(u"x\0y", 3));
    EXPECT_EQ(output.Text(), "Interpret trace: .Composite().Property(\"ab\").String(\"x\").End().End()\n");
}

// Every prefix of a valid text reads to a unit, to no unit or to an error;
// nothing is read past its end (ASan).
TEST(NotationReader, EveryPrefixOfAValidTextIsReadSafely)
{
    const std::string text =
        ".Composite()\n  .Trait(\"Kind\").String(\"x\").End()\n  .Property(\"ID\").QWord(42).End()\n"
        "  .Property(\"G\").Guid(01234567-89AB-CDEF-0123-456789ABCDEF).End()\n"
        "  .Property(\"Tags\").Array()\n    .String(\"a\").End()\n    .Boolean(true).End()\n"
        "  .End()\n.End()";
    int units = 0;
    for (size_t size = 0; size <= text.size(); ++size) {
        std::string prefix = text.substr(0, size);
        prefix.shrink_to_fit();
        const ReadResult result = ReadText(prefix);
        units += result.unit.rfind("error", 0) != 0 && result.unit != "null";
    }
    EXPECT_EQ(units, 1) << "only the whole text closes its root";
}

TEST(NotationReader, RefusesNestingBeyondItsLimit)
{
    std::string deep;
    for (size_t i = 0; i <= Utils::kMaxNotationDepth; ++i)
        deep += ".Array()";
    const ReadResult result = ReadText(deep);
    EXPECT_THAT(result.unit, ::testing::StartsWith("error 9: The unit is nested too deeply."));
    std::string fits;
    for (size_t i = 0; i < Utils::kMaxNotationDepth; ++i)
        fits = ".Composite().Property(\"p\")" + fits;
    fits = fits.substr(std::string(".Composite().Property(\"p\")").size()) + ".Nil()";
    EXPECT_THAT(ReadText(fits).unit, "null") << "deep but within the limit";
}

// Values that the accumulator turns into nested elements count as nesting too:
// a Nil replaced by an Array makes an array frame, whose next value opens an
// element; further values on a filled non-root frame open elements as well.
TEST(NotationReader, RefusesNestingBuiltFromRepeatedValues)
{
    const std::vector<std::pair<std::string, std::string>> forms{
        {".Nil().Array()", ".Nil().Array()"},
        {".Composite().Property(\"a\").DWord(1)", ".DWord(1)"},
    };
    for (const auto& [head, repeated] : forms) {
        std::string text = head;
        for (size_t i = 0; i <= Utils::kMaxNotationDepth; ++i)
            text += repeated;
        EXPECT_THAT(ReadText(text).unit, ::testing::StartsWith("error 9: The unit is nested too deeply.")) << head;
    }
}

// The limit is on depth only: any number of members and roots reads.
TEST(NotationReader, ReadsUnitsOfManyMembersAtAnyWidth)
{
    const size_t n = 3 * Utils::kMaxNotationDepth;
    std::string properties = ".Composite()", traits = ".Nil()", elements = ".Array()", roots;
    for (size_t i = 0; i < n; ++i) {
        properties += ".Property(\"p" + std::to_string(i) + "\").Composite().Property(\"q\").Nil().End().End()";
        traits += ".Trait(\"t\").Byte(" + std::to_string(i % 256) + ").End()";
        elements += ".Composite().Property(\"q\").Nil().End().End()";
        roots += ".Composite().Property(\"q\").Nil().End().End()";
    }
    for (const std::string& text : {properties + ".End()", traits + ".End()", elements + ".End()", roots}) {
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_THAT(ReadText(text).unit.substr(0, 60), ::testing::Not(::testing::StartsWith("error")));
    }
}

// Statements out of the usual order can nest the unit being built as well: a
// second value where one is already set opens an element, and a Nil is
// replaced in place by the value that follows it.
TEST(NotationReader, RefusesNestingBeyondItsLimitWhateverTheOrderOfStatements)
{
    auto repeat = [](const std::string& piece, size_t times) {
        std::string text;
        for (size_t i = 0; i < times; ++i)
            text += piece;
        return text;
    };
    const size_t n = 3 * Utils::kMaxNotationDepth;
    const std::string texts[] = {
        ".Array()" + repeat(".Nil().Array()", n) + repeat(".End()", n + 1),
        ".Composite().Property(\"a\").Byte(1)" + repeat(".Array().Nil()", n) + repeat(".End()", n + 3),
        ".Array().Byte(1)" + repeat(".Byte(2)", n) + repeat(".End()", n + 2),
        ".Trait(\"t\").Byte(1)" + repeat(".Array().Nil()", n) + repeat(".End()", n + 2),
        // Named again, a property takes its values in place: they open nothing.
        ".Composite().Property(\"a\").Byte(1).End().Property(\"a\").Byte(2).Byte(3).End().End().Array()" +
            repeat(".Nil().Array()", n) + repeat(".End()", n + 1),
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_THAT(ReadText(text).unit.substr(0, 60),
                    ::testing::StartsWith("error 9: The unit is nested too deeply."));
    }
}

// A post-processor sees every unit that Read hands out.
TEST(NotationReader, PassesTheUnitThroughThePostProcessor)
{
    class Wrapper final : public Utils::UnitPostProcessor
    {
    public:
        UnitPtr Process(UnitPtr unit, const Por::Construction::UnitFactory& factory) override
        {
            UnitPtr array = factory.CreateArray();
            array->traits().Add(factory.CreateTrait("Seen", unit ? std::move(unit) : factory.CreateNil()));
            return array;
        }
    };
    CapturedOutput output;
    BytesReader reader(".Byte(1).End()");
    Utils::UnitConstructionFormat format(std::make_unique<Wrapper>(), false);
    EXPECT_EQ(Render(*format.Read(reader, kFactory)), "[] <Seen=Byte 1>");
    EXPECT_EQ(output.Text(), "") << "no trace without the trace flag";
}

// How far a read got: the statements read whole and the Ends still due.
TEST(NotationReader, TellsHowFarItGot)
{
    struct Case
    {
        const char* text;
        bool unit;
        size_t statements;
        size_t open;
    };
    const Case cases[] = {
        {"", false, 0, 0},
        {" \r\n\t", false, 0, 0},
        {".DWord(5)", false, 1, 1},
        {".Composite() .Property(\"a\").String(\"x\").End()", false, 4, 1},
        {".Composite() .Property(\"a\").Composite() .Property(\"b\").Nil().End()", false, 6, 2},
        {".End()", false, 1, 0},
        {".Composite() .Property(\"a\").String(\"x\").End() .End()", true, 5, 0},
        {".Nil().End() .Composite()", true, 3, 1}, // the closed unit is the result
        {".Composite() .Property(\"a\").String(\"x\")", false, 3, 2},
    };
    for (const Case& c : cases) {
        CapturedOutput output;
        BytesReader reader(c.text);
        Utils::ReadProgress progress{99, 99};
        const UnitPtr unit = Utils::UnitConstructionFormat().Read(reader, kFactory, progress);
        EXPECT_EQ(unit != nullptr, c.unit) << c.text;
        EXPECT_EQ(progress.statements, c.statements) << c.text;
        EXPECT_EQ(progress.open, c.open) << c.text;
    }

    // A failing statement leaves the count of those read before it.
    CapturedOutput output;
    BytesReader reader(".Composite() .Property(\"a\").Bogus()");
    Utils::ReadProgress progress;
    EXPECT_THROW((void)Utils::UnitConstructionFormat().Read(reader, kFactory, progress), Common::Error);
    EXPECT_EQ(progress.statements, 2u);
    EXPECT_EQ(progress.open, 2u);
}

std::string Written(const Por::View::Unit& unit)
{
    BytesWriter writer;
    Utils::UnitConstructionFormat().Write(unit, writer);
    std::string text;
    for (size_t i = 0; i < writer.bytes.size(); i += 2) {
        EXPECT_EQ(writer.bytes[i + 1], 0) << "a unit below U+0100";
        text += writer.bytes[i];
    }
    return text;
}

TEST(NotationWriter, LaysUnitsOut)
{
    struct Case
    {
        const char* what;
        std::function<UnitPtr()> unit;
        std::string text;
    };
    const Case cases[] = {
        {"Nil", [] { return m.Nil(); }, ".Nil().End()"},
        {"empty composite", [] { return m.Composite(); }, ".Composite().End()"},
        {"empty array", [] { return m.Array(); }, ".Array().End()"},
        {"DWord with a trait", [] { return m.With(m.DWord(5), "T", m.Nil()); },
         ".DWord(5)\n  .Trait(\"T\").Nil().End()\n.End()"},
        {"numbers", [] { return m.Array(m.QWord(18446744073709551615ull), m.SByte(-128), m.Byte(255)); },
         ".Array()\n  .QWord(18446744073709551615).End()\n  .SByte(-128).End()\n  .Byte(255).End()\n.End()"},
        {"doubles", [] { return m.Array(m.Double(0.1), m.Double(1.0 / 3), m.Double(1e20)); },
         ".Array()\n  .Double(0.1).End()\n  .Double(0.3333333333333333).End()\n  .Double(1e+20).End()\n.End()"},
        {"a quote is not escaped", [] { return m.String(u"a\"b"); }, ".String(\"a\"b\").End()"},
        {"a blob",
         [] {
             return m.Blob({1, 2, 3});
         },
         ".Blob().End()"},
        {"booleans and a guid",
         [] {
             return m.Array(m.Boolean(true),
                            m.Guid(Por::GuidType{0x01234567u, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}}));
         },
         ".Array()\n  .Boolean(true).End()\n  .Guid(01234567-89AB-CDEF-0102-030405060708).End()\n.End()"},
        {"the example",
         [] {
             return m.With(
                 m.Composite(m.Prop("ID", m.QWord(42)), m.Prop("Tags", m.Array(m.String(u"a"), m.String(u"b")))),
                 "Kind", m.String(u"x"));
         },
         ".Composite()\n  .Trait(\"Kind\").String(\"x\").End()\n  .Property(\"ID\").QWord(42).End()\n"
         "  .Property(\"Tags\").Array()\n    .String(\"a\").End()\n    .String(\"b\").End()\n  .End()\n.End()"},
        {"traits before properties, at every level",
         [] { return m.With(m.Composite(m.Prop("p", m.With(m.Nil(), "U", m.Byte(1)))), "T", m.Nil()); },
         ".Composite()\n  .Trait(\"T\").Nil().End()\n  .Property(\"p\").Nil()\n    .Trait(\"U\").Byte(1).End()\n  "
         ".End()\n.End()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Written(*c.unit()), c.text);
    }
    BytesWriter writer;
    Utils::UnitConstructionFormat().Write(*m.Nil(), writer);
    EXPECT_EQ(writer.bytes.size(), 24u);
}

// Units of the kinds the reader knows, with names and strings of characters
// up to U+00FF other than quotes, read back equal from what the writer wrote.
TEST(NotationWriter, WhatItWritesReadsBack)
{
    std::mt19937 random(5);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto text = [&] {
        std::u16string value;
        for (int i = pick(4); i > 0; --i) {
            char16_t c;
            do
                c = static_cast<char16_t>(1 + pick(255));
            while (c == u'"' || c == u'\'');
            value += c;
        }
        return value;
    };
    std::function<UnitPtr(int)> make = [&](int depth) -> UnitPtr {
        UnitPtr unit;
        switch (pick(depth > 0 ? 14 : 12)) {
        case 0:
            unit = m.Nil();
            break;
        case 1:
            unit = m.Boolean(pick(2) == 0);
            break;
        case 2:
            unit = m.Byte(static_cast<unsigned char>(random()));
            break;
        case 3:
            unit = m.SByte(static_cast<signed char>(random()));
            break;
        case 4:
            unit = m.Word(static_cast<unsigned short>(random()));
            break;
        case 5:
            unit = m.SWord(static_cast<short>(random()));
            break;
        case 6:
            unit = m.DWord(static_cast<unsigned>(random()));
            break;
        case 7:
            unit = m.SDWord(static_cast<int>(random()));
            break;
        case 8:
            unit = m.QWord((uint64_t(random()) << 32) | random());
            break;
        case 9:
            unit = m.SQWord(static_cast<long long>((uint64_t(random()) << 32) | random()));
            break;
        case 10:
            unit = m.String(text());
            break;
        case 11:
            unit = m.Guid(Por::GuidType{static_cast<uint32_t>(random()), 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}});
            break;
        case 12: {
            unit = m.Array();
            for (int i = pick(3); i > 0; --i) {
                UnitPtr element = make(depth - 1);
                PorTesting::Detail::ElementPusher pusher{&element};
                Por::Construction::Detail::UnitVisitorAdaptor<PorTesting::Detail::ElementPusher> adaptor(&pusher);
                unit->Accept(adaptor);
            }
            break;
        }
        default: {
            unit = m.Composite();
            for (int i = pick(3); i > 0; --i) {
                std::string name = Common::ToUtf8(text().c_str());
                PorTesting::Detail::PropertySetter setter{kFactory.CreateProperty(Por::Name(name), make(depth - 1))};
                Por::Construction::Detail::UnitVisitorAdaptor<PorTesting::Detail::PropertySetter> adaptor(&setter);
                unit->Accept(adaptor);
            }
        }
        }
        for (int i = pick(3) == 0 ? 1 + pick(2) : 0; i > 0; --i)
            unit = m.With(std::move(unit), Por::Name(Common::ToUtf8(text().c_str())), make(0));
        return unit;
    };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const UnitPtr unit = make(3);
        std::string written = Written(*unit);
        // Names were written as their characters; the reader takes each byte
        // as a character, so feed it the characters' Latin-1 bytes.
        CapturedOutput output;
        BytesReader reader(written);
        const UnitPtr back = Utils::UnitConstructionFormat(nullptr, false).Read(reader, kFactory);
        ASSERT_NE(back, nullptr) << written;
        EXPECT_TRUE(Por::Util::UnitsEqual(*back, *unit)) << written << "\n" << Render(*back) << "\n" << Render(*unit);
    }
}

} // namespace
