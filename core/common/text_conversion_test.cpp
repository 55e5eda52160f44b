#include "core/common/text_conversion.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Common::kWholeText;

std::string Bytes(std::initializer_list<unsigned char> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

struct Utf16Case
{
    const char* name;
    std::u16string source;
    size_t length;
    std::string expected;
};

TEST(Utf16ToUtf8, ConvertsTable)
{
    const std::vector<Utf16Case> cases = {
        {"ascii", u"A", kWholeText, Bytes({0x41})},
        {"two bytes", u"\u00E9", kWholeText, Bytes({0xC3, 0xA9})},
        {"three bytes", u"\u20AC", kWholeText, Bytes({0xE2, 0x82, 0xAC})},
        {"pair", std::u16string{char16_t(0xD83D), char16_t(0xDE00)}, kWholeText, Bytes({0xF0, 0x9F, 0x98, 0x80})},
        {"lone high", std::u16string{char16_t(0xD800)}, kWholeText, Bytes({0xED, 0xA0, 0x80})},
        {"lone low then ascii", std::u16string{char16_t(0xDC00), u'a'}, kWholeText, Bytes({0xED, 0xB0, 0x80, 0x61})},
        {"reversed pair", std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, kWholeText,
         Bytes({0xED, 0xB8, 0x80, 0xED, 0xA0, 0xBD})},
        // The low surrogate lies beyond the given length: the high one stands alone.
        {"high at the length boundary", std::u16string{u'a', char16_t(0xD83D), char16_t(0xDE00)}, 2,
         Bytes({0x61, 0xED, 0xA0, 0xBD})},
        {"stops at 0", std::u16string{u'a', 0, u'b'}, 3, "a"},
        {"length 0", u"abc", 0, ""},
        {"last two-byte and first three-byte", u"\u07FF\u0800", kWholeText, Bytes({0xDF, 0xBF, 0xE0, 0xA0, 0x80})},
        {"U+FFFF", u"\uFFFF", kWholeText, Bytes({0xEF, 0xBF, 0xBF})},
    };
    for (const auto& c : cases) {
        std::string out = "previous content";
        EXPECT_TRUE(Common::ConvertUtf16ToUtf8(out, c.source.c_str(), c.length)) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(Utf16ToUtf8, ReadsNoUnitBeyondTheLength)
{
    // Exactly two units, no terminator: the second unit is a high surrogate.
    auto units = std::make_unique<char16_t[]>(2);
    units[0] = u'x';
    units[1] = 0xD83D;
    std::string out;
    Common::ConvertUtf16ToUtf8(out, units.get(), 2);
    EXPECT_EQ(out, Bytes({0x78, 0xED, 0xA0, 0xBD}));
}

struct Utf8Case
{
    const char* name;
    std::string source;
    size_t length;
    std::u16string expected;
    bool wellFormed;
};

TEST(Utf8ToUtf16, ConvertsTableWithItsFlag)
{
    const std::vector<Utf8Case> cases = {
        {"ascii", "Az", kWholeText, u"Az", true},
        {"two bytes", Bytes({0xC3, 0xA9}), kWholeText, u"\u00E9", true},
        {"three bytes", Bytes({0xE2, 0x82, 0xAC}), kWholeText, u"\u20AC", true},
        {"four bytes", Bytes({0xF0, 0x9F, 0x98, 0x80}), kWholeText, std::u16string{char16_t(0xD83D), char16_t(0xDE00)},
         true},
        {"largest code point", Bytes({0xF4, 0x8F, 0xBF, 0xBF}), kWholeText,
         std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)}, true},
        {"overlong NUL", std::string("\xC0\x80", 2), 2, std::u16string(1, char16_t(0)), false},
        {"overlong three bytes", Bytes({0xE0, 0x81, 0x81}), kWholeText, u"A", false},
        {"overlong four bytes", Bytes({0xF0, 0x80, 0x81, 0x81}), kWholeText, u"A", false},
        {"surrogate stored", Bytes({0xED, 0xA0, 0x80}), kWholeText, std::u16string{char16_t(0xD800)}, true},
        {"invalid lead", Bytes({0xFF, 0x41}), kWholeText, u"\uFFFDA", false},
        {"beyond U+10FFFF", Bytes({0xF4, 0x90, 0x80, 0x80}), kWholeText, u"\uFFFD", false},
        {"cut by the length", Bytes({0xE2, 0x82, 0xAC}), 2, u"\uFFFD\uFFFD", false},
        {"stray continuation", Bytes({0x80, 0x41}), kWholeText, u"\uFFFDA", false},
        {"wrong continuation", Bytes({0xC3, 0x41}), kWholeText, u"\uFFFDA", false},
        {"cut by a 0 byte", std::string("\xE2\x82\0\x41", 4), 4, u"\uFFFD\uFFFD", false},
        {"length 0", "abc", 0, u"", true},
    };
    for (const auto& c : cases) {
        std::u16string out = u"previous content";
        EXPECT_EQ(Common::ConvertUtf8ToUtf16(out, c.source.c_str(), c.length), c.wellFormed) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(Utf8ToUtf16, ReadsNoByteBeyondTheLength)
{
    // A four-byte lead as the last byte of an unterminated buffer.
    auto bytes = std::make_unique<char[]>(2);
    bytes[0] = 'a';
    bytes[1] = static_cast<char>(0xF0);
    std::u16string out;
    EXPECT_FALSE(Common::ConvertUtf8ToUtf16(out, bytes.get(), 2));
    EXPECT_EQ(out, u"a\uFFFD");
}

TEST(UtfRoundTrip, WellFormedTextSurvives)
{
    const std::u16string text = u"plain \u00E9\u20AC \U0001F600 \U0010FFFF end";
    std::string utf8;
    Common::ConvertUtf16ToUtf8(utf8, text.data(), text.size());
    std::u16string back;
    EXPECT_TRUE(Common::ConvertUtf8ToUtf16(back, utf8.data(), utf8.size()));
    EXPECT_EQ(back, text);
}

TEST(WholeTextConversions, NullGivesEmpty)
{
    EXPECT_EQ(Common::ToUtf8(nullptr), "");
    EXPECT_EQ(Common::FromUtf8(nullptr), u"");
    EXPECT_EQ(Common::ToUtf8(u"\u00E9t\u00E9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Common::FromUtf8("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
}

TEST(ByteWiseCopies, WidenAndNarrowUnitByUnit)
{
    EXPECT_EQ(Common::WidenCString(nullptr), nullptr);
    EXPECT_EQ(Common::NarrowCString(nullptr), nullptr);

    std::unique_ptr<char16_t[]> wide(Common::WidenCString("a\xC3\xA9"));
    EXPECT_EQ(std::u16string(wide.get()), (std::u16string{u'a', char16_t(0xC3), char16_t(0xA9)}));

    std::unique_ptr<char[]> narrow(Common::NarrowCString(u"x\u20AC"));
    EXPECT_EQ(std::string(narrow.get()), "x\xAC");

    std::unique_ptr<char16_t[]> empty(Common::WidenCString(""));
    EXPECT_EQ(empty[0], 0);
}

TEST(ClearString, EmptiesInPlace)
{
    std::u16string text = u"abc";
    Common::ClearString(text);
    EXPECT_TRUE(text.empty());
}

} // namespace

namespace {

// Long ASCII runs go sixteen at a time: a character of every width, a 0 unit
// and a malformed byte at each position around the block boundaries, in
// output strings that hold more than the result beforehand.
TEST(UtfConversion, EveryPositionAroundAsciiBlocks)
{
    struct Insert
    {
        const char* what;
        std::u16string wide; // inserted into the UTF-16 text
        std::string utf8;    // the same in UTF-8
    };
    const Insert inserts[] = {
        {"two bytes", u"\u00E9", "\xC3\xA9"},
        {"three bytes", u"\u4E2D", "\xE4\xB8\xAD"},
        {"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"DEL", u"\x7F", "\x7F"},
    };
    for (const Insert& insert : inserts) {
        for (size_t at = 0; at <= 40; ++at) {
            const std::u16string head(at, u'a');
            const std::u16string tail(40 - at, u'b');
            const std::u16string wide = head + insert.wide + tail;
            const std::string utf8 = std::string(at, 'a') + insert.utf8 + std::string(40 - at, 'b');
            std::string narrowOut(200, 'x');
            Common::ConvertUtf16ToUtf8(narrowOut, wide.data(), wide.size());
            EXPECT_EQ(narrowOut, utf8) << insert.what << " at " << at;
            std::u16string wideOut(200, u'x');
            EXPECT_TRUE(Common::ConvertUtf8ToUtf16(wideOut, utf8.data(), utf8.size()));
            EXPECT_EQ(wideOut, wide) << insert.what << " at " << at;
        }
    }
    for (size_t at = 0; at <= 40; ++at) {
        // A 0 ends the text at any position, with the length given or not.
        std::u16string wide(41, u'a');
        wide[at] = 0;
        std::string narrowOut;
        Common::ConvertUtf16ToUtf8(narrowOut, wide.data(), wide.size());
        EXPECT_EQ(narrowOut, std::string(at, 'a'));
        std::string utf8(41, 'a');
        utf8[at] = '\0';
        std::u16string wideOut(100, u'x');
        EXPECT_TRUE(Common::ConvertUtf8ToUtf16(wideOut, utf8.data(), utf8.size()));
        EXPECT_EQ(wideOut, std::u16string(at, u'a'));
        EXPECT_TRUE(Common::ConvertUtf8ToUtf16(wideOut, utf8.c_str(), Common::kWholeText));
        EXPECT_EQ(wideOut, std::u16string(at, u'a'));
        // A malformed byte gives U+FFFD in its place and the false flag.
        utf8[at] = '\xFF';
        std::u16string expected(41, u'a');
        expected[at] = 0xFFFD;
        EXPECT_FALSE(Common::ConvertUtf8ToUtf16(wideOut, utf8.data(), utf8.size()));
        EXPECT_EQ(wideOut, expected) << at;
    }
}

} // namespace
