#include "enterprise/serialize/xml_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using Serialization::Detail::AppendXmlText;

// Units that the text rules treat differently, drawn at random.
char16_t RandomUnit(uint64_t& state)
{
    static const char16_t kUnits[] = {u'a', u'Z', u'0', u' ',   u' ',   u'<',   u'&',   u'>',   u']',   u'\t', u'\r',
                                      0x01, 0x7F, 0xE9, 0x4E2D, 0xD83D, 0xDE00, 0xDC00, 0xFFFE, 0xFFFF, u'"'};
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return kUnits[(state >> 33) % (sizeof kUnits / sizeof kUnits[0])];
}

template <typename Text>
std::string Appended(const Text& text)
{
    std::string out = "<v>";
    AppendXmlText(out, text.data(), text.size());
    return out;
}

TEST(XmlText, ShortAndLongTextsFollowTheSameRules)
{
    // A short text without line feed is written in one pass; a long one is
    // planned first. Followed by a long plain tail, a text that does not end
    // in a blank must come out as on its own, followed by the tail.
    const std::u16string tail(5000, u'x');
    const std::string narrowTail(5000, 'x');
    uint64_t state = 7;
    for (int round = 0; round < 2000; ++round) {
        std::u16string text;
        const size_t length = 1 + round % 40;
        while (text.size() < length)
            text.push_back(RandomUnit(state));
        if (text.back() == u' ')
            text.back() = u'y';
        EXPECT_EQ(Appended(text + tail), Appended(text) + std::string(tail.begin(), tail.end())) << round;

        std::string narrow;
        for (char16_t unit : text)
            narrow.push_back(static_cast<char>(unit & 0xFF));
        EXPECT_EQ(Appended(narrow + narrowTail), Appended(narrow) + narrowTail) << round;
    }
}

TEST(XmlText, PlainTextsAcrossBlocksOfSixteen)
{
    // The usual text goes out as it stands; two blanks in a row, also where
    // one block of sixteen ends and the next begins, make it referenced.
    const struct
    {
        std::u16string text;
        std::string expected;
    } cases[] = {
        {u"0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef"},
        {u"0123456789abcde f0123456789abcde", "0123456789abcde f0123456789abcde"},
        {u"0123456789abcde  123456789abcdef", "0123456789abcde &#32;123456789abcdef"},
        {u"0123456789abcdef  23456789abcdef", "0123456789abcdef &#32;23456789abcdef"},
        {u"0123456789abcde\u00e9 123456789abcdef", "0123456789abcde\xC3\xA9 123456789abcdef"},
        {u"0123456789abcdef0123456789<bcdef", "0123456789abcdef0123456789&lt;bcdef"},
        {u"0123456789abcdef\u01000123456789abcdef",
         "0123456789abcdef\xC4\x80"
         "0123456789abcdef"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Appended(c.text), "<v>" + c.expected);
        const std::string narrow(c.text.begin(), c.text.end());
        if (c.text.find_first_of(u"\u00e9\u0100") == std::u16string::npos) {
            EXPECT_EQ(Appended(narrow), "<v>" + c.expected);
        }
    }
}

} // namespace
