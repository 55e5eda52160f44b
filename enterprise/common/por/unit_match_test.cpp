// Pattern matching: the operator table and the matching rules.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/unit_match.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;
using Por::MatchUnit;
using PorTesting::UnitPtr;

constexpr const char* kUnitMatch = "enterprise/common/por/unit_match";

class PatternMatching : public ::testing::Test
{
protected:
    // A pattern of `value`'s kind carrying one operator trait.
    UnitPtr Op(UnitPtr value, const char* name, UnitPtr operand)
    {
        return m.With(std::move(value), Por::Name(std::string(name)), std::move(operand));
    }
    UnitPtr Range(UnitPtr from, UnitPtr to)
    {
        return m.Composite(m.Prop("From", std::move(from)), m.Prop("To", std::move(to)));
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(PatternMatching, OperatorTable)
{
    struct Case
    {
        const char* what;
        UnitPtr unit;
        UnitPtr pattern;
        bool matches;
    };
    auto s = [&](const char16_t* text) { return m.String(text); };
    Case cases[] = {
        {"AnyValue", m.DWord(3), Op(m.DWord(0), "AnyValue", m.Nil()), true},
        {"AnyValue needs the kind", m.QWord(3), Op(m.DWord(0), "AnyValue", m.Nil()), false},
        {"EqualValue", m.With(m.DWord(3), "t", m.Nil()), Op(m.DWord(0), "EqualValue", m.DWord(3)), true},
        {"EqualValue other value", m.DWord(3), Op(m.DWord(0), "EqualValue", m.DWord(4)), false},
        {"Less", m.DWord(3), Op(m.DWord(0), "Less", m.DWord(4)), true},
        {"Less equal", m.DWord(4), Op(m.DWord(0), "Less", m.DWord(4)), false},
        {"LessEqual", m.DWord(4), Op(m.DWord(0), "LessEqual", m.DWord(4)), true},
        {"Greater", m.DWord(5), Op(m.DWord(0), "Greater", m.DWord(4)), true},
        {"Greater of another kind", m.DWord(5), Op(m.DWord(0), "Greater", m.QWord(4)), false},
        {"GreaterEqual", m.DWord(4), Op(m.DWord(0), "GreaterEqual", m.DWord(4)), true},
        {"GreaterEqual below", m.DWord(3), Op(m.DWord(0), "GreaterEqual", m.DWord(4)), false},
        {"Between lower end", m.DWord(1), Op(m.DWord(0), "Between", Range(m.DWord(1), m.DWord(5))), true},
        {"Between upper end", m.DWord(5), Op(m.DWord(0), "Between", Range(m.DWord(1), m.DWord(5))), true},
        {"Between below", m.DWord(0), Op(m.DWord(0), "Between", Range(m.DWord(1), m.DWord(5))), false},
        {"Between above", m.DWord(6), Op(m.DWord(0), "Between", Range(m.DWord(1), m.DWord(5))), false},
        {"In", m.DWord(2), Op(m.DWord(0), "In", m.Array(m.DWord(1), m.DWord(2))), true},
        {"In needs equal traits", m.With(m.DWord(2), "t", m.Nil()), Op(m.DWord(0), "In", m.Array(m.DWord(2))), false},
        {"In a non-array", m.DWord(2), Op(m.DWord(0), "In", m.DWord(2)), false},
        {"ValueIn ignores traits", m.With(m.DWord(2), "t", m.Nil()), Op(m.DWord(0), "ValueIn", m.Array(m.DWord(2))),
         true},
        {"IncludedInArray", m.Array(m.DWord(1)), Op(m.Array(), "IncludedInArray", m.DWord(1)), true},
        {"IncludedInArray with traits", m.Array(m.With(m.DWord(1), "t", m.Nil())),
         Op(m.Array(), "IncludedInArray", m.DWord(1)), false},
        {"ValueIncludedInArray", m.Array(m.With(m.DWord(1), "t", m.Nil())),
         Op(m.Array(), "ValueIncludedInArray", m.DWord(1)), true},
        {"HasIntersection", m.Array(m.DWord(1), m.DWord(2)),
         Op(m.Array(), "HasIntersection", m.Array(m.DWord(2), m.DWord(3))), true},
        {"HasIntersection empty", m.Array(m.DWord(1)), Op(m.Array(), "HasIntersection", m.Array()), false},
        {"Is", m.With(m.DWord(0), "Is", m.String(u"x")), Op(m.DWord(0), "Is", s(u"x")), true},
        {"PrimaryKey", m.With(m.DWord(0), "PrimaryKey", m.With(m.DWord(7), "u", m.Nil())),
         Op(m.DWord(0), "PrimaryKey", m.With(m.DWord(7), "v", m.Nil())), true},
        {"PrimaryKey of another kind", m.With(m.DWord(0), "PrimaryKey", m.QWord(7)),
         Op(m.DWord(0), "PrimaryKey", m.DWord(7)), false},
        {"ForeignKey", m.With(m.DWord(0), "ForeignKey", m.DWord(1)), Op(m.DWord(0), "ForeignKey", m.DWord(1)), true},
        {"Source any value", m.With(m.DWord(0), "Source", m.Word(9)),
         Op(m.DWord(0), "Source", m.With(m.Nil(), "AnyValue", m.Nil())), true},
        {"Source value", m.With(m.DWord(0), "Source", m.Word(9)), Op(m.DWord(0), "Source", m.Word(8)), false},
        {"Like prefix", s(u"abc"), Op(s(u"x"), "Like", s(u"ab%")), true},
        {"Like empty pattern", s(u"abc"), Op(s(u"x"), "Like", s(u"")), true},
        {"Like %a", s(u"ab"), Op(s(u"x"), "Like", s(u"%a")), false},
        {"Like _b", s(u"ab"), Op(s(u"x"), "Like", s(u"_b")), true},
        {"Like _b short", s(u"b"), Op(s(u"x"), "Like", s(u"_b")), false},
        {"Like on an unsearchable array", m.Array(s(u"abc")), Op(m.Array(), "Like", s(u"a%")), false},
        {"Like on a searchable array", m.With(m.Array(m.DWord(7), s(u"abc")), "Searchable", m.Nil()),
         Op(m.Array(), "Like", s(u"a%")), true},
        {"DirectRelative child", s(u"a/b/c"), Op(s(u""), "DirectRelative", s(u"a/b")), true},
        {"DirectRelative prefix text", s(u"a/bc"), Op(s(u""), "DirectRelative", s(u"a/b")), true},
        {"DirectRelative shorter", s(u"a"), Op(s(u""), "DirectRelative", s(u"a/b")), false},
        {"Not", m.DWord(1), Op(m.DWord(0), "Not", m.DWord(2)), true},
        {"Not of a match", m.DWord(2), Op(m.DWord(0), "Not", m.DWord(2)), false},
        {"Or empty", m.DWord(1), Op(m.DWord(0), "Or", m.Array()), true},
        {"Or of a non-array", m.DWord(1), Op(m.DWord(0), "Or", m.DWord(9)), true},
        {"Or of patterns", m.DWord(3), Op(m.DWord(0), "Or", m.Array(m.DWord(2), m.DWord(3))), true},
        {"Or without a match", m.DWord(4), Op(m.DWord(0), "Or", m.Array(m.DWord(2), m.DWord(3))), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchUnit(*c.unit, *c.pattern), c.matches) << c.what;
}

TEST_F(PatternMatching, PatternsWithoutOperators)
{
    EXPECT_TRUE(MatchUnit(*m.Composite(m.Prop("a", m.Word(1))), *m.Nil()));
    EXPECT_FALSE(MatchUnit(*m.Word(1), *Op(m.Nil(), "AnyValue", m.Nil())));
    EXPECT_TRUE(MatchUnit(*m.With(m.DWord(5), "t", m.Nil()), *m.DWord(5)));
    EXPECT_FALSE(MatchUnit(*m.SDWord(5), *m.DWord(5)));
    EXPECT_TRUE(MatchUnit(*m.Composite(m.Prop("a", m.Word(1))), *m.Composite()));
    EXPECT_TRUE(
        MatchUnit(*m.Composite(m.Prop("a", m.Word(1)), m.Prop("b", m.Word(2))), *m.Composite(m.Prop("a", m.Word(1)))));
    EXPECT_FALSE(MatchUnit(*m.Composite(m.Prop("b", m.Word(2))), *m.Composite(m.Prop("a", m.Word(1)))));
    // A Composite pattern with traits: its operators and its properties.
    UnitPtr pattern = Op(m.Composite(m.Prop("a", Op(m.Word(0), "Greater", m.Word(3)))), "Not",
                         m.Composite(m.Prop("b", m.Nil())));
    EXPECT_TRUE(MatchUnit(*m.Composite(m.Prop("a", m.Word(4))), *pattern));
    EXPECT_FALSE(MatchUnit(*m.Composite(m.Prop("a", m.Word(4)), m.Prop("b", m.Word(1))), *pattern));
    EXPECT_FALSE(MatchUnit(*m.Composite(m.Prop("a", m.Word(2))), *pattern));
}

TEST_F(PatternMatching, Errors)
{
    using PorTesting::ThrownBy;
    const PorTesting::Thrown unknown = ThrownBy([&] { (void)MatchUnit(*m.Word(1), *Op(m.Word(0), "Foo", m.Nil())); });
    EXPECT_TRUE(unknown.isModuleError);
    EXPECT_THAT(unknown.error,
                AllOf(ErrorIs(0xFA000E), HasText(u"POR: Name 'Foo' of the trait is not registered for pattern."),
                      RaisedAt(kUnitMatch, "GetPatternByName", 312), HasLineTag(0x7579DF73E32DA1FBull)));
    // An earlier failing trait ends the walk before the unknown one ("EqualValue" < "Foo").
    EXPECT_FALSE(MatchUnit(*m.Word(1), *Op(Op(m.Word(0), "Foo", m.Nil()), "EqualValue", m.Word(2))));

    const auto expectError = [&](UnitPtr unit, UnitPtr pattern, const char16_t* text, const char* function,
                                 unsigned line, uint64_t lineTag) {
        const PorTesting::Thrown thrown = ThrownBy([&] { (void)MatchUnit(*unit, *pattern); });
        EXPECT_TRUE(thrown.isModuleError) << function;
        EXPECT_THAT(thrown.error,
                    AllOf(ErrorIs(0xFA000E), HasText(text), RaisedAt(kUnitMatch, function, line), HasLineTag(lineTag)));
    };
    const char16_t* mismatch = u"POR: Object internal structure mismatch.";
    expectError(m.DWord(3), Op(m.DWord(0), "Between", Range(m.DWord(1), m.String(u"z"))),
                u"POR: Failed to check range inclusion.", "ValidateBetweenPattern", 60, 0x7579DF73E32DA0FFull);
    expectError(m.DWord(3), Op(m.DWord(0), "Like", m.DWord(1)), mismatch, "ValidateLikePattern", 144,
                0x7579DF73E32DA153ull);
    expectError(m.String(u"a"), Op(m.String(u""), "DirectRelative", m.DWord(1)), mismatch, "DirectRelativePattern", 201,
                0x7579DF73E32DA18Cull);
    expectError(m.DWord(1), Op(m.DWord(0), "HasIntersection", m.Array()), mismatch, "HasIntersectionPattern", 264,
                0x7579DF73E32DA1CBull);
    expectError(m.Array(), Op(m.Array(), "HasIntersection", m.DWord(1)), mismatch, "HasIntersectionPattern", 267,
                0x7579DF73E32DA1CEull);
    EXPECT_THAT(ThrownBy([&] { (void)MatchUnit(*m.DWord(1), *Op(m.DWord(0), "Between", m.Composite())); }).error,
                AllOf(ErrorIs(0xFA0020), HasText(u"POR: Element 'To' cannot be found.")));
    // A DirectRelative over a non-String unit is false, without an error.
    EXPECT_FALSE(
        MatchUnit(*m.String(u"x"), *Op(m.String(u""), "Not", Op(m.String(u""), "DirectRelative", m.String(u"x")))));
}

} // namespace
