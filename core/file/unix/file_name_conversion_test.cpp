#include "core/file/unix/file_name_conversion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// The machine's character set is UTF-8 (ICU reads the C locale as UTF-8 too).
TEST(FileNameConversion, UndecodableBytesRoundTripThroughThePrivateRange)
{
    struct Case
    {
        std::string native;
        std::u16string text;
    } cases[] = {
        {"a\xff"
         "b",
         u"a\uF8FF"
         "b"},
        {"\x80", u"\uF880"},
        {"plain.txt", u"plain.txt"},
        {"caf\xc3\xa9", u"caf\u00e9"},
        {"\xe6\x97\xa5\xe6\x9c\xac", u"\u65e5\u672c"},
        {"\xf0\x9f\x98\x80", u"\U0001F600"},
        // A truncated sequence: each byte goes through the private range.
        {"x\xe6\x97", u"x\uF8E6\uF897"},
        // An overlong encoding of '/' must not turn into a separator.
        {"\xc0\xaf", u"\uF8C0\uF8AF"},
        {"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NativeToUnicodeName(c.native.c_str()), c.text) << c.native;
        EXPECT_EQ(UnicodeToNativeName(c.text.c_str()), c.native) << c.native;
    }
}

TEST(FileNameConversion, PrivateRangeCharacterInAValidNameComesBackAsItsByte)
{
    EXPECT_EQ(NativeToUnicodeName("\xef\xa3\xbf"), u"\uF8FF");
    EXPECT_EQ(UnicodeToNativeName(u"\uF8FF"), "\xff");
}

TEST(FileNameConversion, PrivateUnitsBetweenConvertedRuns)
{
    EXPECT_EQ(UnicodeToNativeName(u"\u00e9\uF880\u00e9\uF8FF"), "\xc3\xa9\x80\xc3\xa9\xff");
    // Units just outside the private byte range are ordinary characters.
    EXPECT_EQ(UnicodeToNativeName(u"\uF87F"), "\xef\xa1\xbf");
    EXPECT_EQ(UnicodeToNativeName(u"\uF900"), "\xef\xa4\x80");
}

TEST(FileNameConversion, UnrepresentableCharacterGivesTheEmptyName)
{
    const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0};
    const char16_t loneLow[] = {0xDC00, 0};
    const char16_t afterPrivate[] = {0xF880, 0xD800, 0};
    EXPECT_EQ(UnicodeToNativeName(loneHigh), "");
    EXPECT_EQ(UnicodeToNativeName(loneLow), "");
    EXPECT_EQ(UnicodeToNativeName(afterPrivate), "");
    // The converter stays usable after a failed conversion.
    EXPECT_EQ(UnicodeToNativeName(u"\u00e9"), "\xc3\xa9");
}

// Whether the converter is open is process-wide state, so the fast path is
// checked in a fresh child process where nothing has opened it.
class FileNameConversionFresh : public ::testing::Test
{
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FileNameConversionFresh, AsciiAndPrivateNamesConvertWithoutOpeningTheConverter)
{
    EXPECT_EXIT(
        {
            bool ok = !FileNameDetail::IsFileNameConverterOpen();
            ok = ok && UnicodeToNativeName(u"\uF880") == "\x80";
            ok = ok &&
                UnicodeToNativeName(u"dir/a\uF8FF"
                                    "b") ==
                    "dir/a\xff"
                    "b";
            ok = ok && UnicodeToNativeName(u"") == "";
            ok = ok && !FileNameDetail::IsFileNameConverterOpen();
            // The first other character opens it; later names go through it.
            ok = ok && UnicodeToNativeName(u"\u00e9") == "\xc3\xa9";
            ok = ok && FileNameDetail::IsFileNameConverterOpen();
            ok = ok && UnicodeToNativeName(u"\uF880") == "\x80";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

void ConvertConcurrently()
{
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 200; ++i) {
                // Half of the threads open the converter, half take the fast path.
                if ((t + i) % 2 == 0) {
                    if (UnicodeToNativeName(u"name\uF8FF.txt") != "name\xff.txt")
                        ++failures[t];
                } else if (UnicodeToNativeName(u"\u65e5\uF880") != "\xe6\x97\xa5\x80" ||
                           NativeToUnicodeName("x\xff") != u"x\uF8FF") {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int count : failures)
        if (count != 0)
            std::exit(1);
}

TEST(FileNameConversionThreads, FastPathRacesTheOpeningOfTheConverter)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ConvertConcurrently();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FileNameConversionThreads, ConversionsFromManyThreadsAgree)
{
    ConvertConcurrently();
    SUCCEED();
}

} // namespace
