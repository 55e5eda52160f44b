#include "core/common/guid.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>

namespace {

Common::Guid Sample()
{
    return Common::Guid{0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
}

TEST(Guid, LayoutIsSixteenLittleEndianBytes)
{
    const Common::Guid guid = Sample();
    unsigned char bytes[16];
    std::memcpy(bytes, &guid, sizeof bytes);
    const unsigned char expected[16] = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07,
                                        0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    EXPECT_EQ(std::memcmp(bytes, expected, 16), 0);
}

TEST(Guid, FormatsUpperCaseGroups)
{
    char buffer[37];
    std::memset(buffer, 'z', sizeof buffer);
    Common::FormatGuid(buffer, Sample());
    EXPECT_STREQ(buffer, "01020304-0506-0708-090A-0B0C0D0E0F10");
    EXPECT_EQ(Common::GuidToString(Common::Guid{0xFFFFFFFF, 0xABCD, 0, {0xFF, 0, 0, 0, 0, 0, 0, 0xEE}}),
              "FFFFFFFF-ABCD-0000-FF00-0000000000EE");
}

TEST(Guid, ParsesItsTextFormLowerCaseAndTrailingText)
{
    for (const char* text : {"01020304-0506-0708-090A-0B0C0D0E0F10", "01020304-0506-0708-090a-0b0c0d0e0f10",
                             "01020304-0506-0708-090A-0B0C0D0E0F10} and more"}) {
        Common::Guid guid{};
        EXPECT_TRUE(Common::ParseGuid(guid, text)) << text;
        EXPECT_EQ(guid, Sample()) << text;
    }
}

TEST(Guid, FailedParseLeavesTheGuidUnchanged)
{
    const Common::Guid before{0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    for (const char* text : {"{01020304-0506-0708-090A-0B0C0D0E0F10}", "01020304-0506-0708-090A",
                             "01020304-0506-0708-090A-", "", "not a guid", "01020304:0506-0708-090A-0B0C0D0E0F10"}) {
        Common::Guid guid = before;
        EXPECT_FALSE(Common::ParseGuid(guid, text)) << text;
        EXPECT_EQ(guid, before) << text;
    }
}

TEST(Guid, NullTextAndUnknownMethodAnswerFalse)
{
    Common::Guid guid = Sample();
    EXPECT_FALSE(Common::ParseGuid(guid, nullptr));
    EXPECT_FALSE(Common::GenerateGuid(guid, 1));
    EXPECT_EQ(guid, Sample());
}

TEST(Guid, GeneratedGuidsAreVersion4Variant1AndDistinct)
{
    std::set<std::string> texts;
    for (int i = 0; i < 1000; ++i) {
        Common::Guid guid{};
        ASSERT_TRUE(Common::GenerateGuid(guid, 0));
        const std::string text = Common::GuidToString(guid);
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        Common::Guid parsed{};
        ASSERT_TRUE(Common::ParseGuid(parsed, text.c_str()));
        EXPECT_EQ(parsed, guid);
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 1000u);
}

} // namespace

namespace {

// The text form and its reading agree with the C library's formatted
// printing and scanning for random GUIDs in either case.
TEST(Guid, TextFormAgreesWithFormattedPrintingAndScanning)
{
    const char* format = "%08X-%04hX-%04hX-%02X%02X-%02X%02X%02X%02X%02X%02X";
    std::mt19937_64 random(7);
    for (int round = 0; round < 2000; ++round) {
        Common::Guid guid;
        const uint64_t a = random(), b = random();
        guid.first = static_cast<uint32_t>(a);
        guid.second = static_cast<uint16_t>(a >> 32);
        guid.third = static_cast<uint16_t>(a >> 48);
        std::memcpy(guid.last, &b, sizeof guid.last);
        char expected[64];
        std::snprintf(expected, sizeof expected, format, static_cast<unsigned>(guid.first), guid.second, guid.third,
                      guid.last[0], guid.last[1], guid.last[2], guid.last[3], guid.last[4], guid.last[5], guid.last[6],
                      guid.last[7]);
        char text[Common::kGuidTextLength + 1];
        Common::FormatGuid(text, guid);
        ASSERT_STREQ(text, expected);
        if (round % 2 == 1)
            for (char& c : text)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Common::Guid parsed{};
        ASSERT_TRUE(Common::ParseGuid(parsed, text)) << text;
        EXPECT_EQ(parsed, guid) << text;
    }
}

} // namespace
