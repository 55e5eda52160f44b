#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/location.h"
#include "enterprise/common/por/error_ordering.h"
#include "enterprise/common/por/test_support/fake_errors.h"

namespace {

using Por::Util::CompareErrorRecords;
using PorTesting::Fake;
using PorTesting::FakeParameter;
using PorTesting::FakeParameters;

constexpr Common::SourceFile kHere("enterprise/common/por/error_ordering_test");

Common::Error Posix(unsigned code, int errnoValue)
{
    Common::Error error(code, kHere.At("Posix", 1));
    (void)error.AddPosixError(errnoValue);
    return error;
}

Common::Error PosixFirst(int errnoValue)
{
    Common::Error error;
    (void)error.AddPosixError(errnoValue);
    return error;
}

// Both directions: compare(a, b) == expected and compare(b, a) == -expected.
void ExpectOrder(const Common::Error& a, const Common::Error& b, int expected)
{
    EXPECT_EQ(CompareErrorRecords(a, b), expected);
    EXPECT_EQ(CompareErrorRecords(b, a), -expected);
}

TEST(ErrorOrdering, CodesDecideFirst)
{
    const FakeParameters none{"", {}};
    ExpectOrder(Common::Success, Common::Success, 0);
    ExpectOrder(Common::Success, Fake(0, none), 0);
    ExpectOrder(Common::Success, Common::Error(0x4000E, kHere.At("f", 1)), -1);
    ExpectOrder(Common::Error(0x4000E, kHere.At("f", 1)), Common::Error(0xFA0001, kHere.At("f", 1)), -1);
}

TEST(ErrorOrdering, CausesDecideBeforeParameters)
{
    ExpectOrder(Posix(0xFA0001, 2), Common::Error(0xFA0001, kHere.At("f", 1)), 1);
    // The causes' codes decide even when the first records' parameters differ.
    const FakeParameters small{"p", {{"p", nullptr, nullptr, 1}}};
    const FakeParameters large{"p", {{"p", nullptr, nullptr, 9}}};
    ExpectOrder(Fake(7, small, Common::Error(1, kHere.At("f", 1))), Fake(7, large, Common::Error(2, kHere.At("f", 1))),
                -1);
    // The deepest pair of equal codes decides before the first pair.
    ExpectOrder(Fake(7, small, Fake(8, large)), Fake(7, large, Fake(8, small)), -1);
}

TEST(ErrorOrdering, TextsAndLocationsTakeNoPart)
{
    ExpectOrder(Common::Error(0xFA0001, u"one text", kHere.At("a", 1)),
                Common::Error(0xFA0001, u"another", Common::SourceFile("elsewhere").At("b", 99)), 0);
    ExpectOrder(Common::MakeTraceLevelError(0xFA0001, u"x", kHere.At("a", 1)),
                Common::MakeTraceLevelError(0xFA0001, u"y", kHere.At("b", 2)), 0);
}

TEST(ErrorOrdering, PosixCodesTheGreaterFirst)
{
    ExpectOrder(PosixFirst(13), PosixFirst(2), -1);
    ExpectOrder(PosixFirst(13), PosixFirst(13), 0);
    // "code,$module" against "$module": the byte of '$' is the smaller.
    ExpectOrder(PosixFirst(2), Common::Error(Common::kPosixErrorCode, kHere.At("f", 1)), 1);
}

TEST(ErrorOrdering, ParameterLists)
{
    const FakeParameters twoNames{"a,b", {{"a", nullptr, "x", 0}, {"b", nullptr, "y", 0}}};
    const FakeParameters oneName{"a", {{"a", nullptr, "x", 0}}};
    const FakeParameters trailingComma{"a,", {{"a", nullptr, "x", 0}}};
    const FakeParameters noList{nullptr, {}};
    const FakeParameters shortName{"ab", {}};
    const FakeParameters longName{"abc", {}};
    ExpectOrder(Fake(5, twoNames), Fake(5, oneName), 1);
    ExpectOrder(Fake(5, trailingComma), Fake(5, oneName), 0); // an empty rest is no name
    ExpectOrder(Fake(5, oneName), Fake(5, noList), 1);
    ExpectOrder(Fake(5, noList), Fake(5, noList), 0);
    ExpectOrder(Fake(5, shortName), Fake(5, longName), -1);
}

TEST(ErrorOrdering, ParameterValues)
{
    struct Case
    {
        const char* what;
        FakeParameter left;
        FakeParameter right;
        int expected;
    };
    const Case cases[] = {
        {"shorter wide text first, whatever its content", {"p", u"zz", nullptr, 0}, {"p", u"aaa", nullptr, 0}, -1},
        {"wide units compare low byte first", {"p", u"\x0100", nullptr, 0}, {"p", u"\x0001", nullptr, 0}, -1},
        {"equal wide texts settle the name: its narrow text is not read", {"p", u"w", "a", 0}, {"p", u"w", "b", 0}, 0},
        {"the record with the wide text orders last", {"p", u"", nullptr, 0}, {"p", nullptr, "z", 0}, 1},
        {"narrow texts by strcmp", {"p", nullptr, "b", 0}, {"p", nullptr, "a", 0}, 1},
        {"the record with the text orders last", {"p", nullptr, "", 0}, {"p", nullptr, nullptr, 5}, 1},
        {"the greater integer first", {"p", nullptr, nullptr, 13}, {"p", nullptr, nullptr, 2}, -1},
        {"equal integers", {"p", nullptr, nullptr, 4}, {"p", nullptr, nullptr, 4}, 0},
    };
    for (const Case& c : cases) {
        const FakeParameters left{"p", {c.left}};
        const FakeParameters right{"p", {c.right}};
        EXPECT_EQ(CompareErrorRecords(Fake(5, left), Fake(5, right)), c.expected) << c.what;
        EXPECT_EQ(CompareErrorRecords(Fake(5, right), Fake(5, left)), -c.expected) << c.what;
    }
}

TEST(ErrorOrdering, IntegerParametersCompareByWrapAroundDifference)
{
    // Integers compare by the sign of right - left in 64 bits. 0, 0x6000.. and
    // 0xC000.. form a cycle; a difference of 2^63 answers -1 both ways.
    const FakeParameters p0{"n", {{"n", nullptr, nullptr, 0}}};
    const FakeParameters p6{"n", {{"n", nullptr, nullptr, 0x6000000000000000ull}}};
    const FakeParameters pC{"n", {{"n", nullptr, nullptr, 0xC000000000000000ull}}};
    const FakeParameters p8{"n", {{"n", nullptr, nullptr, 0x8000000000000000ull}}};
    EXPECT_EQ(CompareErrorRecords(Fake(5, p0), Fake(5, p6)), 1);
    EXPECT_EQ(CompareErrorRecords(Fake(5, p6), Fake(5, pC)), 1);
    EXPECT_EQ(CompareErrorRecords(Fake(5, pC), Fake(5, p0)), 1);
    EXPECT_EQ(CompareErrorRecords(Fake(5, p0), Fake(5, p8)), -1);
    EXPECT_EQ(CompareErrorRecords(Fake(5, p8), Fake(5, p0)), -1);

    // The total order compares them as unsigned numbers, the greater first.
    using Por::Util::Detail::IntegerOrder;
    auto total = [](const Common::Error& a, const Common::Error& b) {
        return Por::Util::Detail::CompareErrorRecords(a.GetRecord(), b.GetRecord(), IntegerOrder::Total);
    };
    EXPECT_EQ(total(Fake(5, p0), Fake(5, p6)), 1);
    EXPECT_EQ(total(Fake(5, p6), Fake(5, pC)), 1);
    EXPECT_EQ(total(Fake(5, pC), Fake(5, p0)), -1);
    EXPECT_EQ(total(Fake(5, p0), Fake(5, p8)), 1);
    EXPECT_EQ(total(Fake(5, p8), Fake(5, p0)), -1);
}

TEST(ErrorOrdering, LongChainsDoNotExhaustTheStack)
{
    const FakeParameters none{"", {}};
    Common::Error left;
    Common::Error right;
    for (int i = 0; i < 200000; ++i) {
        left = Fake(9, none, left);
        right = Fake(9, none, right);
    }
    EXPECT_EQ(CompareErrorRecords(left, right), 0);
}

} // namespace
