// The binary unit form: the writer's bytes to the byte, and the reader's
// events and its refusals of bytes it cannot read.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/common/error_blob.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/every_kind.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using PorTesting::UnitPtr;
using ::testing::AllOf;
using namespace Testing;

const Construction::InMemoryUnitFactory kFactory;
const PorTesting::Make m(kFactory);

std::string Hex(const std::vector<unsigned char>& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::vector<unsigned char> Bytes(const std::string& hex)
{
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (hex[i] == ' ') {
            --i;
            continue;
        }
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string Written(const View::Unit& unit)
{
    std::vector<unsigned char> bytes;
    Util::WriteBinaryUnit(unit, bytes);
    return Hex(bytes);
}

TEST(BinaryUnitForm, WriterGivesTheFormToTheByte)
{
    struct Case
    {
        const char* what;
        std::function<UnitPtr()> unit;
        std::string hex;
    };
    const Case cases[] = {
        {"Nil", [] { return m.Nil(); }, "55 00 45"},
        {"String ab", [] { return m.String(u"ab"); }, "55 0d 04000000 6100 6200 45"},
        {"empty String", [] { return m.String(u""); }, "55 0d 00000000 45"},
        {"empty Blob", [] { return m.Blob({}); }, "55 0b 00000000 45"},
        {"Blob",
         [] {
             return m.Blob({1, 0xFF});
         },
         "55 0b 02000000 01ff 45"},
        {"Boolean false", [] { return m.Boolean(false); }, "55 01 00 45"},
        {"Byte and SByte", [] { return m.Array(m.Byte(0xFE), m.SByte(-1)); }, "55 41 55 02 fe 45 55 03 ff 45 45"},
        {"SWord -2", [] { return m.SWord(-2); }, "55 05 feff 45"},
        {"Word", [] { return m.Word(0x1234); }, "55 04 3412 45"},
        {"DWord 1", [] { return m.DWord(1); }, "55 06 01000000 45"},
        {"SDWord -2", [] { return m.SDWord(-2); }, "55 07 feffffff 45"},
        {"QWord", [] { return m.QWord(0x0102030405060708ull); }, "55 08 0807060504030201 45"},
        {"SQWord -1", [] { return m.SQWord(-1); }, "55 09 ffffffffffffffff 45"},
        {"Double 1.0", [] { return m.Double(1.0); }, "55 0a 000000000000f03f 45"},
        {"Guid",
         [] {
             return m.Guid(GuidType{0x00112233u, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}});
         },
         "55 0c 33221100 5544 7766 8899aabbccddeeff 45"},
        {"Boolean with a trait", [] { return m.With(m.Boolean(true), "t", m.Nil()); },
         "55 01 01 54 0d 02000000 7400 55 00 45 45"},
        {"two Bytes", [] { return m.Array(m.Byte(1), m.Byte(2)); }, "55 41 55 02 01 45 55 02 02 45 45"},
        {"empty Array", [] { return m.Array(); }, "55 41 45"},
        {"Composite {a: Byte 5}", [] { return m.Composite(m.Prop("a", m.Byte(5))); },
         "55 43 50 0d 02000000 6100 55 02 05 45 45"},
        {"a non-ASCII name", [] { return m.Composite(m.Prop(Name(std::u16string(u"\u00e9")), m.Nil())); },
         "55 43 50 0d 02000000 e900 55 00 45 45"},
        {"the empty name", [] { return m.Composite(m.Prop(Name(std::string()), m.Nil())); },
         "55 43 50 0d 00000000 55 00 45 45"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string expected;
        for (char digit : c.hex) {
            if (digit != ' ')
                expected += digit;
        }
        EXPECT_EQ(Written(*c.unit()), expected);
    }
}

TEST(BinaryUnitForm, WriterAppendsAfterEarlierBytes)
{
    std::vector<unsigned char> bytes{0xAB};
    Util::WriteBinaryUnit(*m.Nil(), bytes);
    EXPECT_EQ(Hex(bytes), "ab550045");
}

TEST(BinaryUnitForm, AnErrorTravelsAsItsBlob)
{
    const Common::Error error(0xFA0001, u"x", Common::NoLocation);
    uint32_t size = 0;
    const std::unique_ptr<unsigned char[]> blob(Common::SerializeError(error, size));
    std::vector<unsigned char> expected{0x55, 14};
    expected.insert(expected.end(), {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8), 0, 0});
    expected.insert(expected.end(), blob.get(), blob.get() + size);
    expected.push_back(0x45);
    EXPECT_EQ(Written(*m.Error(error)), Hex(expected));
}

// Records the reader's events as text.
class EventLog final : public Util::UnitWalker
{
public:
    std::string text;

    void BeginUnit() override { Add("U"); }
    void EndUnit() override { Add("E"); }
    void Property(const Name& name) override { Add(std::string("P(") + name.GetText() + ")"); }
    void Trait(const Name& name) override { Add(std::string("T(") + name.GetText() + ")"); }
    void Nil() override { Add("Nil"); }
    void Boolean(bool value) override { Add(value ? "true" : "false"); }
#define POR_LOG_NUMBER(Kind, Type)                    \
    void Kind(Type value) override                    \
    {                                                 \
        Add(#Kind "(" + std::to_string(value) + ")"); \
    }
    POR_LOG_NUMBER(Byte, unsigned char)
    POR_LOG_NUMBER(SByte, signed char)
    POR_LOG_NUMBER(Word, unsigned short)
    POR_LOG_NUMBER(SWord, short)
    POR_LOG_NUMBER(DWord, unsigned int)
    POR_LOG_NUMBER(SDWord, int)
    POR_LOG_NUMBER(QWord, unsigned long long)
    POR_LOG_NUMBER(SQWord, long long)
    POR_LOG_NUMBER(Double, double)
#undef POR_LOG_NUMBER
    void Blob(const BlobType& value) override
    {
        Add("Blob(" + std::to_string(value.size()) + ")");
    }
    void Guid(const GuidType& value) override
    {
        Add("Guid(" + std::to_string(value.first) + ")");
    }
    void String(const std::u16string& value) override
    {
        Add("String(" + Common::ToUtf8(value.c_str()) + ")");
    }
    void Error(const Common::Error& value) override
    {
        Add("Error(" + std::to_string(value.GetCode()) + ")");
    }
    void Array(const View::ArrayValue&) override
    {
        Add("A");
    }
    void Composite(const View::CompositeValue&) override
    {
        Add("C");
    }

private:
    void Add(const std::string& event)
    {
        text += (text.empty() ? "" : " ") + event;
    }
};

std::string Events(const std::vector<unsigned char>& bytes)
{
    EventLog log;
    Util::BlobWalkingRoute(bytes.data(), bytes.size()).Follow(log);
    return log.text;
}

// Hands a form over front to back, as a packet's decoded text does, and
// fails the test when the reader asks for more than the form holds.
class VectorSource final : public ::Serialization::ByteSource
{
public:
    explicit VectorSource(const std::vector<unsigned char>& bytes) : m_bytes(bytes) {}

    uint64_t Size() const override { return m_bytes.size(); }
    void Read(unsigned char* out, size_t count) override
    {
        if (count > m_bytes.size() - m_read) {
            ADD_FAILURE() << "read past the end: " << count << " bytes at " << m_read;
            count = m_bytes.size() - m_read;
        }
        if (count > 0)
            std::memcpy(out, m_bytes.data() + m_read, count);
        m_read += count;
    }
    void ReadFirst(unsigned char* out, size_t count) const override
    {
        ASSERT_LE(count, m_bytes.size());
        if (count > 0)
            std::memcpy(out, m_bytes.data(), count);
    }

private:
    const std::vector<unsigned char>& m_bytes;
    size_t m_read = 0;
};

// What reading `bytes` into a unit gives: its form written again (as bytes),
// or the error's code and text. Reading from memory and from a source that hands
// the bytes over front to back must give the same.
std::string ReadOutcome(const std::vector<unsigned char>& bytes)
{
    auto outcome = [](auto read) {
        try {
            const UnitPtr unit = read();
            if (!unit)
                return std::string("null");
            std::vector<unsigned char> form;
            Util::WriteBinaryUnit(*unit, form);
            return std::string(form.begin(), form.end());
        } catch (const Common::Error& error) {
            return std::to_string(error.GetCode()) + " " + Common::ToUtf8(error.GetText().c_str());
        }
    };
    const std::string fromMemory = outcome([&] { return Util::ReadBinaryUnit(bytes, kFactory); });
    VectorSource source(bytes);
    const std::string fromSource = outcome([&] { return Util::ReadBinaryUnit(source, kFactory); });
    EXPECT_EQ(fromSource, fromMemory) << "read from a source";
    return fromMemory;
}

TEST(BinaryUnitForm, ReaderReportsTheEventsOfTheBytes)
{
    struct Case
    {
        const char* hex;
        const char* events;
    };
    const Case cases[] = {
        {"", ""},
        {"55 43 50 0d 02000000 6100 55 02 05 45 45", "U C P(a) U Byte(5) E E"},
        {"55 01 01 54 0d 02000000 7400 55 00 45 45", "U true T(t) U Nil E E"},
        {"55 01 02 45", "U true E"},                    // any non-zero byte is true
        {"55 0d 03000000 4100 42 45", "U String(A) E"}, // an odd count: the last byte is passed over
        {"55 50 ff 04000000 6100 0000 55 00 45 45",
         "U P(a) U Nil E E"}, // the tag byte is not examined; a NUL ends a name
        {"55 41 55 07 feffffff 45 55 0a 000000000000f03f 45 45", "U A U SDWord(-2) E U Double(1.000000) E E"},
        {"55 02 05 45 55 02 06 45", "U Byte(5) E U Byte(6) E"},
        {"55 0c 33221100 5544 7766 8899aabbccddeeff 45", "U Guid(1122867) E"},
        {"55 0b 00000000 45", "U Blob(0) E"},
        {"55 0e 01000000 01 45", "U Error(0) E"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(Events(Bytes(c.hex)), c.events);
    }
}

::testing::Matcher<const Common::Error&> CorruptedAt(const std::string& form, uint64_t position)
{
    return AllOf(ErrorIs(0xFA0021),
                 HasText(u"POR: Unit object '" + Common::FromUtf8(form.c_str()) + u"' is corrupted at position '" +
                         Common::FromUtf8(std::to_string(position).c_str()) + u"'."),
                 RaisedAt("enterprise/common/por/blob_walking_route", "Follow", 251),
                 HasLineTag(0x351351F36518C665ull));
}

void ExpectCorrupted(const std::vector<unsigned char>& bytes, const std::string& form, uint64_t position)
{
    try {
        (void)Events(bytes);
        ADD_FAILURE() << "no exception";
    } catch (const ModuleError&) {
        ADD_FAILURE() << "a plain Common::Error is expected";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, CorruptedAt(form, position));
    }
    VectorSource source(bytes);
    try {
        (void)Util::ReadBinaryUnit(source, kFactory);
        ADD_FAILURE() << "no exception from a source";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, CorruptedAt(form, position)) << "read from a source";
    }
}

TEST(BinaryUnitForm, ReaderRefusesWhatItCannotRead)
{
    struct Case
    {
        const char* what;
        const char* hex;
        uint64_t position;
    };
    const Case cases[] = {
        {"unknown item byte", "5558", 1},
        {"tag 16 is no value tag", "5510", 1},
        {"a name header cut", "5543500d0200", 2},
        {"a name longer than the bytes", "5543500d0600000061004545", 2},
        {"a string count past the end", "550d050000006100", 1},
        {"a blob count header cut", "550b0100", 1},
        {"a cut DWord", "55060100", 1},
        {"a cut Double", "550a00000000", 1},
        {"a cut Guid", "550c00112233", 1},
        {"an error blob past the end", "550e0900000001", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectCorrupted(Bytes(c.hex), c.hex, c.position);
    }
}

TEST(BinaryUnitForm, ReaderCutsTheFormInItsErrorText)
{
    std::vector<unsigned char> bytes(1000, 0x00); // Nil items
    bytes.push_back(0x58);
    const std::string shown = std::string(2 * Util::kMaxCorruptedFormBytes, '0') + "...";
    ExpectCorrupted(bytes, shown, 1000);
}

TEST(BinaryUnitForm, ReaderLimitsTheNesting)
{
    std::vector<unsigned char> deep;
    for (uint32_t i = 0; i < Util::kMaxUnitDepth; ++i)
        deep.insert(deep.end(), {0x55, 0x41});
    std::vector<unsigned char> ok = deep;
    for (uint32_t i = 0; i < Util::kMaxUnitDepth; ++i)
        ok.push_back(0x45);
    EXPECT_NO_THROW((void)Events(ok));

    deep.insert(deep.end(), {0x55, 0x00}); // one element more: a Nil at depth 1001
    try {
        (void)Events(deep);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(0xFA0021));
        EXPECT_THAT(Common::ToUtf8(error.GetText().c_str()), ::testing::EndsWith("at position '2001'."));
    }

    // Properties nest without 'U' as well.
    std::vector<unsigned char> properties;
    for (uint32_t i = 0; i <= Util::kMaxUnitDepth; ++i)
        properties.insert(properties.end(), {0x43, 0x50, 0x0d, 0x00, 0x00, 0x00, 0x00});
    EXPECT_THROW((void)Events(properties), Common::Error);
}

// Value events that the accumulator turns into nested units although no 'A'
// of an array unit or 'P' opens them: the forms build units (or frames) 1500 to
// 2000 deep.
TEST(BinaryUnitForm, ReaderLimitsTheNestingOfRepeatedValues)
{
    const uint32_t levels = 2 * Util::kMaxUnitDepth;
    auto repeat = [](std::vector<unsigned char> bytes, std::initializer_list<unsigned char> step, uint32_t times) {
        for (uint32_t i = 0; i < times; ++i)
            bytes.insert(bytes.end(), step);
        return bytes;
    };
    struct Case
    {
        const char* what;
        std::vector<unsigned char> bytes;
    };
    const Case cases[] = {
        // An Array replaces the Nil of a unit; the next Nil opens an element of it.
        {"Nil then Array, again and again",
         repeat(repeat({0x55, 0x00, 0x41}, {0x00, 0x41}, levels), {0x45}, levels + 1)},
        // A second value on a property that holds one opens an element.
        {"Arrays after a property's value",
         repeat(repeat(Bytes("55 43 50 0d 00000000 02 01"), {0x41}, levels), {0x45}, levels + 2)},
        {"Nil then Composite with a property, again and again",
         repeat(
             repeat({0x55, 0x00, 0x41}, {0x00, 0x43, 0x50, 0x0d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41}, 3 * levels / 8),
             {0x45}, 3 * levels / 4 + 1)},
        // Named again, a property takes its values in place: they open nothing.
        {"a property named again, then Nil then Array",
         repeat(repeat(Bytes("55 43 50 0d 00000000 55 02 01 45 50 0d 00000000 55 02 02 02 03 45 45 55 41"),
                       {0x00, 0x41}, levels),
                {0x45}, levels + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            (void)Util::ReadBinaryUnit(c.bytes, kFactory);
            ADD_FAILURE() << "no exception";
        } catch (const Common::Error& error) {
            EXPECT_THAT(error, ErrorIs(0xFA0021));
        }
    }
}

std::string ReadBack(const std::string& hex)
{
    const std::vector<unsigned char> bytes = Bytes(hex);
    (void)ReadOutcome(bytes); // the same from a source
    const UnitPtr unit = Util::ReadBinaryUnit(bytes, kFactory);
    return unit ? PorTesting::Render(*unit) : "null";
}

TEST(BinaryUnitForm, ReadBinaryUnitBuildsTheUnitOfTheBytes)
{
    struct Case
    {
        const char* hex;
        const char* unit;
    };
    const Case cases[] = {
        {"", "null"},
        {"550205", "null"},             // the root is not closed
        {"5502054545", "null"},         // a lone 'E' closes an empty root
        {"5502054555020645", "Byte 6"}, // a second unit replaces the first
        {"55 43 50 0d 02000000 6100 55 02 05 45 45", "{a: Byte 5}"},
        {"55 43 50 0d 02000000 6100 02 05 45 45", "{a: Byte 5}"}, // no 'U' needed before a value
        {"55 01 01 54 0d 02000000 7400 55 00 45 45", "Boolean true <t>"},
        {"55 41 55 02 01 45 55 02 02 45 45", "[Byte 1, Byte 2]"},
        {"55 0d 03000000 4100 42 45", "String \"A\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(ReadBack(c.hex), c.unit);
    }
}

TEST(BinaryUnitForm, ReadBinaryUnitPassesTheBuildingErrorsOn)
{
    // A property on a unit that is not a Composite.
    try {
        (void)Util::ReadBinaryUnit(Bytes("55 02 05 50 0d 00000000 55 00 45 45"), kFactory);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(0xFA000A));
    }
    // A trait that ends without a value.
    try {
        (void)Util::ReadBinaryUnit(Bytes("55 00 54 0d 00000000 45 45"), kFactory);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(0xFA000B));
    }
}

// A unit of all 17 kinds with traits at every level, an error chain and
// Doubles whose bits matter.
UnitPtr MakeRichFormUnit()
{
    UnitPtr unit = PorTesting::MakeRichUnit(kFactory);
    PorTesting::SetProperty(kFactory, *unit, "nan", m.Double(std::bit_cast<double>(0x7FF8000000000123ull)));
    PorTesting::SetProperty(kFactory, *unit, "minusZero", m.Double(-0.0));
    return unit;
}

uint64_t DoubleBits(const View::Unit& composite, const char* name)
{
    struct Finder : View::NullVisitor
    {
        const char* name;
        uint64_t bits = 0;
        using NullVisitor::Visit;
        void Visit(const View::CompositeValue& value) override
        {
            auto find = ProcessorOf<const View::Property>([&](const View::Property& property) {
                bits = std::bit_cast<uint64_t>(*PorTesting::ReadValue<double>(property.GetValue()));
                return true;
            });
            (void)value.ForEachNamed(Name(std::string(name)), find); // found for sure: the unit was made so
        }
    } finder;
    finder.name = name;
    composite.Accept(finder);
    return finder.bits;
}

TEST(BinaryUnitForm, ARichUnitRoundTrips)
{
    const UnitPtr unit = MakeRichFormUnit();
    std::vector<unsigned char> bytes;
    Util::WriteBinaryUnit(*unit, bytes);
    UnitPtr back = Util::ReadBinaryUnit(bytes, kFactory);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(DoubleBits(*back, "nan"), 0x7FF8000000000123ull);
    EXPECT_EQ(DoubleBits(*back, "minusZero"), 0x8000000000000000ull);
    // Equal but for the NaN, which equals nothing: compare without it.
    PorTesting::CompositeOf(*back).Remove("nan");
    UnitPtr withoutNaN = Util::CopyUnit(*unit, kFactory);
    PorTesting::CompositeOf(*withoutNaN).Remove("nan");
    EXPECT_TRUE(Util::UnitsEqual(*back, *withoutNaN)) << PorTesting::Render(*back);
    std::vector<unsigned char> again;
    Util::WriteBinaryUnit(*Util::ReadBinaryUnit(bytes, kFactory), again);
    EXPECT_EQ(again, bytes) << "written again, the form is the same";
}

// Every cut and every single-bit flip of a rich form reads to a unit, to
// null or to a Common::Error, and never outside the bytes (ASan). Every cut
// and every seventh flip (so every bit of a byte in turn, all along the form)
// read the same from a source that hands the bytes over front to back.
TEST(BinaryUnitForm, DamagedFormsFailCleanly)
{
    std::vector<unsigned char> bytes;
    Util::WriteBinaryUnit(*MakeRichFormUnit(), bytes);
    for (size_t size = 0; size < bytes.size(); ++size) {
        std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        cut.shrink_to_fit();
        (void)ReadOutcome(cut);
    }
    for (size_t bit = 0; bit < bytes.size() * 8; ++bit) {
        std::vector<unsigned char> flipped = bytes;
        flipped[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
        if (bit % 7 == 0) {
            (void)ReadOutcome(flipped);
            continue;
        }
        try {
            (void)Util::ReadBinaryUnit(flipped, kFactory);
        } catch (const Common::Error&) {
            // refused cleanly
        }
    }
}

// Values larger than the window in which a source's items are read: a long
// String, Blob and property name, and many small items that refill it.
TEST(BinaryUnitForm, ALargeFormReadsTheSameFromASource)
{
    const UnitPtr unit = m.Composite();
    PorTesting::SetProperty(kFactory, *unit, "text", m.String(std::u16string(100'001, u'\u00e9')));
    PorTesting::SetProperty(kFactory, *unit, "blob", m.Blob(BlobType(70'000, 0x5A)));
    PorTesting::SetProperty(kFactory, *unit, Name(std::string(40'000, 'n')), m.Byte(1));
    UnitPtr items = m.Array();
    for (int i = 0; i < 5'000; ++i) {
        UnitPtr item = m.String(u"item " + Common::FromUtf8(std::to_string(i).c_str()));
        PorTesting::ArrayOf(*items).PushBack(item);
    }
    PorTesting::SetProperty(kFactory, *unit, "items", std::move(items));
    PorTesting::SetProperty(kFactory, *unit, "rich", MakeRichFormUnit());
    std::vector<unsigned char> bytes;
    Util::WriteBinaryUnit(*unit, bytes);
    EXPECT_EQ(ReadOutcome(bytes), std::string(bytes.begin(), bytes.end()));
    // Cut inside the long String and inside the many items.
    for (size_t size : {bytes.size() / 3, bytes.size() - 100}) {
        SCOPED_TRACE(size);
        (void)ReadOutcome(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)));
    }
}

} // namespace
