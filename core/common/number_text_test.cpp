#include "core/common/number_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(NumberText, DecimalAndHex)
{
    EXPECT_EQ(Common::ToDecimalText(0), u"0");
    EXPECT_EQ(Common::ToDecimalText(1234567890), u"1234567890");
    EXPECT_EQ(Common::ToDecimalText(UINT64_MAX), u"18446744073709551615");
    EXPECT_EQ(Common::ToHexText(0), u"0x0");
    EXPECT_EQ(Common::ToHexText(0x4000E), u"0x4000e");
    EXPECT_EQ(Common::ToHexText(UINT64_MAX), u"0xffffffffffffffff");
}

TEST(ParseDecimal, ReadsAtMostTheLengthAnd63Characters)
{
    EXPECT_EQ(Common::ParseDecimal64("12345", 3), 123u);
    EXPECT_EQ(Common::ParseDecimal64("42", 2), 42u);
    EXPECT_EQ(Common::ParseDecimal32("4294967296", 10), 0u);
    EXPECT_EQ(Common::ParseDecimal32("4294967297", 10), 1u);
    // 63 zeros then a 7: the 7 lies beyond what is read.
    const std::string zeros = std::string(63, '0') + "7";
    EXPECT_EQ(Common::ParseDecimal64(zeros.c_str(), zeros.size()), 0u);
    EXPECT_EQ(Common::ParseDecimal64(nullptr, 5), 0u);
}

struct ParseCase
{
    std::u16string text;
    bool ok;
    uint64_t value; // checked only when ok
};

TEST(ParseUInt64, Base10Table)
{
    const std::vector<ParseCase> cases = {
        {u"123", true, 123},
        {u" 42 ", true, 42},
        {u"0", true, 0},
        {u"0x1F", true, 31},
        {u"0X1f", true, 31},
        {u"00x10", true, 16},
        {u"1Fh", true, 31},
        {u"1fH ", true, 31},
        {u"ffh", true, 255},
        {u"18446744073709551615", true, UINT64_MAX},
        {u"0xffffffffffffffff", true, UINT64_MAX},
        {u"12 3", false, 0},
        {u"-1", false, 0},
        {u"+1", false, 0},
        {u"\t", false, 0},
        {u"1\t", false, 0},
        {u"", false, 0},
        {u"   ", false, 0},
        {u"0x", false, 0},
        {u"0x ", false, 0},
        {u"x1", false, 0},
        {u"1x1", false, 0},
        {u"0x0x1", false, 0},
        {u"0x1Fh", false, 0},
        {u"h", false, 0},
        {u"1h2", false, 0},
        {u"1F", false, 0},
        {u"1.5", false, 0},
        {u"1g", false, 0},
        {u"12\u00E9", false, 0},
        {u"18446744073709551616", false, 0},
        {u"99999999999999999999", false, 0},
        {u"0x10000000000000000", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t value = 12345;
        EXPECT_EQ(Common::ParseUInt64(value, c.text.c_str(), 10), c.ok) << std::string(c.text.begin(), c.text.end());
        if (c.ok) {
            EXPECT_EQ(value, c.value) << std::string(c.text.begin(), c.text.end());
        }
    }
}

TEST(ParseUInt64, OtherBasesHaveNoPrefixOrSuffix)
{
    uint64_t value = 0;
    EXPECT_TRUE(Common::ParseUInt64(value, u"ff", 16));
    EXPECT_EQ(value, 255u);
    EXPECT_FALSE(Common::ParseUInt64(value, u"0x1", 16));
    EXPECT_TRUE(Common::ParseUInt64(value, u"101", 2));
    EXPECT_EQ(value, 5u);
    EXPECT_FALSE(Common::ParseUInt64(value, u"12", 2));
    EXPECT_TRUE(Common::ParseUInt64(value, u"zz", 36));
    EXPECT_EQ(value, 35u * 36 + 35);
}

TEST(ParseUInt64, AdditionOverflowKeepsTheProduct)
{
    uint64_t value = 0;
    EXPECT_FALSE(Common::ParseUInt64(value, u"18446744073709551616", 10));
    EXPECT_EQ(value, 18446744073709551610ull);
}

TEST(ParseUInt64, NullTextFails)
{
    uint64_t value = 7;
    EXPECT_FALSE(Common::ParseUInt64(value, nullptr, 10));
    EXPECT_EQ(value, 0u);
}

} // namespace
