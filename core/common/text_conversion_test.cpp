#include "core/common/text_conversion.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
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

namespace {

// The rules once more, one sequence at a time and written for clarity: the
// block paths are checked against these.
std::string ReferenceUtf8(const std::u16string& text)
{
    std::string out;
    auto put = [&out](uint32_t byte) { out += static_cast<char>(byte); };
    const size_t size = text.find(u'\0') == std::u16string::npos ? text.size() : text.find(u'\0');
    for (size_t i = 0; i < size; ++i) {
        const uint32_t unit = text[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < size && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF;
        if (unit < 0x80) {
            put(unit);
        } else if (unit < 0x800) {
            put(0xC0 | unit >> 6);
            put(0x80 | (unit & 0x3F));
        } else if (pair) {
            const uint32_t cp = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
            put(0xF0 | cp >> 18);
            put(0x80 | (cp >> 12 & 0x3F));
            put(0x80 | (cp >> 6 & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xE0 | unit >> 12);
            put(0x80 | (unit >> 6 & 0x3F));
            put(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

struct Decoded
{
    std::u16string text;
    bool wellFormed;
};

Decoded ReferenceUtf16(const std::string& bytes)
{
    Decoded out{u"", true};
    const size_t size = bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0');
    auto at = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])); };
    size_t i = 0;
    while (i < size) {
        const uint32_t lead = at(i);
        const size_t more = lead >= 0xC0 && lead <= 0xDF ? 1
            : lead >= 0xE0 && lead <= 0xEF               ? 2
            : lead >= 0xF0 && lead <= 0xF7               ? 3
                                                         : 0;
        bool whole = more > 0 && i + more < size;
        for (size_t k = 1; whole && k <= more; ++k)
            whole = (at(i + k) & 0xC0) == 0x80;
        if (lead < 0x80) {
            out.text += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        if (!whole) {
            out.text += u'\uFFFD';
            out.wellFormed = false;
            ++i;
            continue;
        }
        uint32_t value = lead & (0x3F >> more);
        for (size_t k = 1; k <= more; ++k)
            value = value << 6 | (at(i + k) & 0x3F);
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (value < least[more])
            out.wellFormed = false;
        if (value > 0x10FFFF) {
            out.text += u'\uFFFD';
            out.wellFormed = false;
        } else if (value > 0xFFFF) {
            out.text += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            out.text += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            out.text += static_cast<char16_t>(value);
        }
        i += more + 1;
    }
    return out;
}

// Runs `check` with the byte shuffle allowed and again with it off.
template <typename Check>
void OnBothPaths(Check check)
{
    struct Restore
    {
        ~Restore() { Common::AllowByteShuffle(true); }
    } restore;
    for (const bool shuffle : {true, false}) {
        Common::AllowByteShuffle(shuffle);
        check(shuffle ? "shuffle" : "plain");
    }
}

// Text of `length` elements made of `filler`, padded in front with ASCII so
// that any length can be had.
template <typename Text>
Text Fill(const Text& filler, size_t length)
{
    Text text(length % filler.size(), 'a');
    while (text.size() < length)
        text += filler;
    return text;
}

// Every form of a sequence, well-formed or not, at every byte offset around
// the blocks of eight, twelve and sixteen, amid text of each width and with
// text of every length after it (so that it is met by the block paths and by
// the checked ones near the end).
TEST(Utf8ToUtf16Blocks, EveryFormAtEveryOffsetMatchesTheReference)
{
    const std::pair<const char*, std::string> forms[] = {
        {"ascii", "A"},
        {"DEL", "\x7F"},
        {"two bytes", Bytes({0xC3, 0xA9})},
        {"smallest two bytes", Bytes({0xC2, 0x80})},
        {"three bytes", Bytes({0xE4, 0xB8, 0xAD})},
        {"smallest three bytes", Bytes({0xE0, 0xA0, 0x80})},
        {"four bytes", Bytes({0xF0, 0x9F, 0x98, 0x80})},
        {"largest code point", Bytes({0xF4, 0x8F, 0xBF, 0xBF})},
        {"smallest four bytes", Bytes({0xF0, 0x90, 0x80, 0x80})},
        {"overlong two", Bytes({0xC1, 0xBF})},
        {"overlong three", Bytes({0xE0, 0x9F, 0xBF})},
        {"overlong four", Bytes({0xF0, 0x8F, 0xBF, 0xBF})},
        {"beyond U+10FFFF", Bytes({0xF4, 0x90, 0x80, 0x80})},
        {"lead F7", Bytes({0xF7, 0xBF, 0xBF, 0xBF})},
        {"surrogate", Bytes({0xED, 0xA0, 0x80})},
        {"F8 with continuations", Bytes({0xF8, 0xA0, 0x80, 0x80})},
        {"FF", Bytes({0xFF})},
        {"stray continuation", Bytes({0x80})},
        {"one continuation too many", Bytes({0xC3, 0xA9, 0xA9})},
        {"three cut", Bytes({0xE4, 0xB8})},
        {"four cut", Bytes({0xF0, 0x9F, 0x98})},
        {"lead alone", Bytes({0xC3})},
    };
    const std::string fillers[] = {"a", Bytes({0xC3, 0xA9}), Bytes({0xE4, 0xB8, 0xAD}),
                                   Bytes({0xF0, 0x9F, 0x98, 0x80})};
    OnBothPaths([&](const char* path) {
        for (const auto& [name, form] : forms) {
            for (const std::string& filler : fillers) {
                for (size_t at = 0; at <= 40; ++at) {
                    for (size_t after = 0; after <= 24; after += 3) {
                        const std::string text = Fill(filler, at) + form + Fill(filler, after);
                        const Decoded expected = ReferenceUtf16(text);
                        std::u16string out = u"previous content";
                        EXPECT_EQ(Common::ConvertUtf8ToUtf16(out, text.data(), text.size()), expected.wellFormed)
                            << path << ", " << name << " at " << at << " amid " << filler.size() << "-byte text";
                        EXPECT_EQ(out, expected.text)
                            << path << ", " << name << " at " << at << " amid " << filler.size() << "-byte text";
                    }
                }
            }
        }
    });
}

// The same for units: pairs split at every offset, lone and reversed
// surrogates, the edges of each width.
TEST(Utf16ToUtf8Blocks, EveryFormAtEveryOffsetMatchesTheReference)
{
    const std::pair<const char*, std::u16string> forms[] = {
        {"ascii", u"A"},
        {"last one-byte, first two-byte", std::u16string{0x7F, 0x80}},
        {"last two-byte, first three-byte", std::u16string{0x7FF, 0x800}},
        {"U+FFFF", std::u16string{0xFFFF}},
        {"pair", std::u16string{0xD83D, 0xDE00}},
        {"largest pair", std::u16string{0xDBFF, 0xDFFF}},
        {"lone high", std::u16string{0xD800}},
        {"lone low", std::u16string{0xDC00}},
        {"reversed pair", std::u16string{0xDE00, 0xD83D}},
        {"two highs, one low", std::u16string{0xD800, 0xD83D, 0xDE00}},
    };
    const std::u16string fillers[] = {u"a", u"\u00E9", u"\u4E2D", u"\U0001F600"};
    OnBothPaths([&](const char* path) {
        for (const auto& [name, form] : forms) {
            for (const std::u16string& filler : fillers) {
                for (size_t at = 0; at <= 40; ++at) {
                    for (size_t after = 0; after <= 24; after += 3) {
                        const std::u16string text = Fill(filler, at) + form + Fill(filler, after);
                        std::string out = "previous content";
                        EXPECT_TRUE(Common::ConvertUtf16ToUtf8(out, text.data(), text.size()));
                        EXPECT_EQ(out, ReferenceUtf8(text))
                            << path << ", " << name << " at " << at << " amid " << filler.size() << "-unit text";
                    }
                }
            }
        }
    });
}

// Long texts of random sequences, mostly well-formed, converted into new
// strings, into the string of the text before (room enough or not) and into
// one far too large: the results are those of the reference.
TEST(UtfConversionRandomText, MatchesTheReferenceWhateverTheOutputHeld)
{
    std::mt19937 random(20240611);
    auto pick = [&random](uint32_t count) { return static_cast<uint32_t>(random() % count); };
    const std::vector<std::string> tokens = {
        "a",
        " ",
        "text",
        Bytes({0xC3, 0xA9}),
        Bytes({0xD0, 0x96}),
        Bytes({0xE2, 0x82, 0xAC}),
        Bytes({0xE4, 0xB8, 0xAD}),
        Bytes({0xF0, 0x9F, 0x98, 0x80}),
        Bytes({0xF4, 0x8F, 0xBF, 0xBF}),
        Bytes({0xED, 0xB0, 0x80}),
        Bytes({0xC0, 0x80}),
        Bytes({0xE0, 0x80, 0x80}),
        Bytes({0xF0, 0x80, 0x80, 0x80}),
        Bytes({0xF5, 0x80, 0x80, 0x80}),
        Bytes({0xBF}),
        Bytes({0xFE}),
        Bytes({0xE2, 0x82}),
        Bytes({0xF0, 0x9F}),
    };
    OnBothPaths([&](const char* path) {
        std::u16string reusedWide;
        std::string reusedNarrow;
        for (int round = 0; round < 300; ++round) {
            std::string text;
            const uint32_t length = pick(4) == 0 ? pick(2000) : pick(200);
            while (text.size() < length)
                text += tokens[pick(4) == 0 ? pick(static_cast<uint32_t>(tokens.size())) : pick(9)];
            const Decoded expected = ReferenceUtf16(text);
            std::u16string fresh;
            std::u16string large(5000, u'x');
            for (std::u16string* out : {&fresh, &reusedWide, &large}) {
                EXPECT_EQ(Common::ConvertUtf8ToUtf16(*out, text.data(), text.size()), expected.wellFormed)
                    << path << ", round " << round;
                EXPECT_EQ(*out, expected.text) << path << ", round " << round;
            }

            // The units decoded, with a lone surrogate now and then, back.
            std::u16string units = expected.text;
            if (!units.empty() && pick(3) == 0)
                units[pick(static_cast<uint32_t>(units.size()))] = static_cast<char16_t>(0xD800 + pick(0x800));
            const std::string narrowExpected = ReferenceUtf8(units);
            std::string freshNarrow;
            std::string largeNarrow(9000, 'x');
            for (std::string* out : {&freshNarrow, &reusedNarrow, &largeNarrow}) {
                EXPECT_TRUE(Common::ConvertUtf16ToUtf8(*out, units.data(), units.size()));
                EXPECT_EQ(*out, narrowExpected) << path << ", round " << round;
            }
        }
    });
}

} // namespace
