// Ordering of units through the interfaces alone (test-only list units).

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "core/common/location.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_order_key.h"
#include "enterprise/common/por/unit_ordering.h"

namespace {

using Por::Util::CompareUnitKeys;
using Por::Util::CompareUnits;
using Por::Util::DoCompareUnits;
using Por::Util::UnitLess;
using PorTesting::UnitPtr;

class UnitOrdering : public ::testing::Test
{
protected:
    PorTesting::ListUnitFactory factory;
    PorTesting::Make m{factory};
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    struct Case
    {
        const char* what;
        UnitPtr left;
        UnitPtr right;
        int expected;   // CompareUnits(left, right); the reverse gives -expected
        bool keyAgrees; // CompareUnitKeys gives the same answer
    };

    void Check(Case* cases, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            const Case& c = cases[i];
            EXPECT_EQ(CompareUnits(*c.left, *c.right), c.expected) << c.what;
            EXPECT_EQ(CompareUnits(*c.right, *c.left), -c.expected) << c.what << " (reversed)";
            EXPECT_EQ(UnitLess(*c.left, *c.right), c.expected == -1) << c.what;
            if (c.keyAgrees) {
                EXPECT_EQ(CompareUnitKeys(*c.left, *c.right), c.expected) << c.what << " (key)";
                EXPECT_EQ(CompareUnitKeys(*c.right, *c.left), -c.expected) << c.what << " (key, reversed)";
            }
        }
    }
};

TEST_F(UnitOrdering, KindsOrderByKindIndexWhateverTheValues)
{
    Case cases[] = {
        {"nil before boolean", m.Nil(), m.Boolean(false), -1, true},
        {"byte 200 before sbyte -5", m.Byte(200), m.SByte(-5), -1, true},
        {"dword 7 before qword 0", m.DWord(7), m.QWord(0), -1, true},
        {"string before error", m.String(u"zzz"), m.Error(Common::Success), -1, true},
        {"composite after array", m.Composite(), m.Array(m.Word(1)), 1, true},
    };
    Check(cases, std::size(cases));
}

TEST_F(UnitOrdering, ScalarsOfOneKind)
{
    Case cases[] = {
        {"false before true", m.Boolean(false), m.Boolean(true), -1, true},
        {"sbyte -1 before 1", m.SByte(-1), m.SByte(1), -1, true},
        {"byte 255 after 1", m.Byte(255), m.Byte(1), 1, true},
        {"sword signed", m.SWord(-32768), m.SWord(0), -1, true},
        {"word unsigned", m.Word(65535), m.Word(0), 1, true},
        {"sdword signed", m.SDWord(-1), m.SDWord(0), -1, true},
        {"qword unsigned", m.QWord(0xFFFFFFFFFFFFFFFFull), m.QWord(1), 1, true},
        {"sqword signed", m.SQWord(std::numeric_limits<long long>::min()), m.SQWord(0), -1, true},
        {"-0 and +0", m.Double(-0.0), m.Double(0.0), 0, true},
        {"doubles", m.Double(1.5), m.Double(2.5), -1, true},
    };
    Check(cases, std::size(cases));
}

TEST_F(UnitOrdering, NaNComparesOneBothWays)
{
    UnitPtr nan = m.Double(kNaN);
    UnitPtr other = m.Double(kNaN);
    UnitPtr one = m.Double(1.0);
    EXPECT_EQ(CompareUnits(*nan, *nan), 0);
    EXPECT_EQ(DoCompareUnits(*nan, *nan), 1);
    EXPECT_EQ(CompareUnits(*nan, *other), 1);
    EXPECT_EQ(CompareUnits(*other, *nan), 1);
    EXPECT_EQ(CompareUnits(*nan, *one), 1);
    EXPECT_EQ(CompareUnits(*one, *nan), 1);
    EXPECT_FALSE(UnitLess(*nan, *other));
    EXPECT_FALSE(UnitLess(*other, *nan));
    // The key puts NaN after every number, all NaNs alike.
    EXPECT_EQ(CompareUnitKeys(*one, *nan), -1);
    EXPECT_EQ(CompareUnitKeys(*nan, *one), 1);
    EXPECT_EQ(CompareUnitKeys(*nan, *other), 0);
}

TEST_F(UnitOrdering, ComplexValues)
{
    using Blob = Por::BlobType;
    Case cases[] = {
        {"empty blob first", m.Blob(Blob{}), m.Blob(Blob{0}), -1, true},
        {"{00} before {00 00}", m.Blob(Blob{0}), m.Blob(Blob{0, 0}), -1, true},
        {"{00 00} before {01}", m.Blob(Blob{0, 0}), m.Blob(Blob{1}), -1, true},
        {"{FF} after {00 FF}", m.Blob(Blob{0xFF}), m.Blob(Blob{0, 0xFF}), 1, true},
        {"empty string before A", m.String(u""), m.String(u"A"), -1, true},
        {"A before AB", m.String(u"A"), m.String(u"AB"), -1, true},
        {"AB before B", m.String(u"AB"), m.String(u"B"), -1, true},
        {"B before a", m.String(u"B"), m.String(u"a"), -1, true},
        {"code-unit order: U+10000 before U+E000", m.String(u"\U00010000"), m.String(u"\uE000"), -1, true},
        {"guid: first field decides", m.Guid({1, 0xFFFF, 0xFFFF, {0xFF}}), m.Guid({2, 0, 0, {0}}), -1, true},
        // In memory the first field's low byte comes first: 0x0100 vs 0x0001.
        {"guid: fields as numbers, not bytes", m.Guid({0x100, 0, 0, {0}}), m.Guid({0x1, 0, 0, {0}}), 1, true},
        {"guid: last bytes in order", m.Guid({1, 2, 3, {0, 1}}), m.Guid({1, 2, 3, {0, 2}}), -1, true},
        {"errors by code", m.Error(Common::Error(0x4000E, Common::SourceFile("x").At("f", 1))),
         m.Error(Common::Error(0xFA0001, Common::SourceFile("x").At("f", 1))), -1, true},
    };
    Check(cases, std::size(cases));
}

TEST_F(UnitOrdering, ArraysByCountThenElements)
{
    Case cases[] = {
        {"[2] before [1, 9]", m.Array(m.Word(2)), m.Array(m.Word(1), m.Word(9)), -1, true},
        {"[1, 2] before [1, 3]", m.Array(m.Word(1), m.Word(2)), m.Array(m.Word(1), m.Word(3)), -1, true},
        {"two empty arrays", m.Array(), m.Array(), 0, true},
        {"elements compare with their traits", m.Array(m.With(m.Word(1), "A", m.Nil())), m.Array(m.Word(1)), 1, true},
    };
    Check(cases, std::size(cases));
}

TEST_F(UnitOrdering, CompositesOneSidedNamesFirst)
{
    auto w = [&](unsigned short v) { return m.Word(v); };
    Case cases[] = {
        {"{a:1} before {a:1, b:2}", m.Composite(m.Prop("a", w(1))), m.Composite(m.Prop("a", w(1)), m.Prop("b", w(2))),
         -1, true},
        {"{a:1, c:5} before {b:7}", m.Composite(m.Prop("a", w(1)), m.Prop("c", w(5))), m.Composite(m.Prop("b", w(7))),
         -1, true},
        {"{a:2} after {a:1}", m.Composite(m.Prop("a", w(2))), m.Composite(m.Prop("a", w(1))), 1, true},
        {"one-sided names before values", m.Composite(m.Prop("a", w(9))),
         m.Composite(m.Prop("a", w(1)), m.Prop("b", w(1))), -1, true},
        {"a property with the empty name counts as no name", m.Composite(m.Prop("", w(1))), m.Composite(), 0, false},
        {"{\"\":1, x:1} after {}", m.Composite(m.Prop("", w(1)), m.Prop("x", w(1))), m.Composite(), 1, true},
        {"insertion order does not matter", m.Composite(m.Prop("b", w(1)), m.Prop("a", w(2))),
         m.Composite(m.Prop("a", w(2)), m.Prop("b", w(1))), 0, true},
    };
    Check(cases, std::size(cases));
}

TEST_F(UnitOrdering, AOneSidedEmptyNameEndsTheCompositeWalk)
{
    // CompareUnits' composite walk: the right pass stops at the first right-only property once
    // a left-only name is recorded, even when that property's name is empty,
    // so "d" is never seen in the second comparison and both answer 1.
    UnitPtr a = m.Composite(m.Prop("", m.Nil()), m.Prop("d", m.Nil()));
    UnitPtr b = m.Composite(m.Prop("c", m.Nil()));
    EXPECT_EQ(CompareUnits(*a, *b), 1);
    EXPECT_EQ(CompareUnits(*b, *a), 1);
    EXPECT_EQ(CompareUnitKeys(*a, *b), -CompareUnitKeys(*b, *a));
}

TEST_F(UnitOrdering, ValuesBeforeTraits)
{
    auto withTraits = [&](std::initializer_list<std::pair<const char*, unsigned short>> traits) {
        UnitPtr unit = m.Nil();
        for (const auto& [name, value] : traits)
            unit = m.With(std::move(unit), Por::Name(std::string(name)), m.Word(value));
        return unit;
    };
    Case cases[] = {
        {"word 1 with a trait before word 2", m.With(m.Word(1), "Z", m.Nil()), m.Word(2), -1, true},
        {"{A=1} after none", withTraits({{"A", 1}}), withTraits({}), 1, true},
        {"{A=1} before {B=1}", withTraits({{"A", 1}}), withTraits({{"B", 1}}), -1, true},
        {"{A=2} after {A=1}", withTraits({{"A", 2}}), withTraits({{"A", 1}}), 1, true},
        {"repeats change nothing", withTraits({{"A", 1}, {"A", 1}}), withTraits({{"A", 1}}), 0, true},
        {"candidates A=1 and A=2", withTraits({{"A", 1}, {"A", 3}}), withTraits({{"A", 2}}), -1, true},
        {"candidate of the first one-sided name", withTraits({{"B", 5}, {"A", 9}}), withTraits({{"B", 7}}), -1, true},
    };
    Check(cases, std::size(cases));
}

TEST_F(UnitOrdering, NaNTraitsAreNeverPaired)
{
    UnitPtr a = m.With(m.Nil(), "A", m.Double(kNaN));
    UnitPtr b = m.With(m.Nil(), "A", m.Double(kNaN));
    EXPECT_EQ(CompareUnits(*a, *b), 1);
    EXPECT_EQ(CompareUnits(*b, *a), 1);
}

TEST_F(UnitOrdering, AUnitThatVisitsNoKindOrdersLast)
{
    PorTesting::KindlessUnit kindless;
    PorTesting::KindlessUnit other;
    EXPECT_EQ(CompareUnits(*m.Composite(), kindless), -1);
    EXPECT_EQ(CompareUnits(kindless, *m.Nil()), 1);
    EXPECT_EQ(CompareUnits(kindless, other), 0);
    EXPECT_EQ(CompareUnitKeys(kindless, *m.Nil()), 1);
}

} // namespace
