#include "enterprise/serialize/xml_text.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Serialization::Detail::AppendXmlText;
using Serialization::Detail::PacketText;

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

TEST(PacketText, TextSurvivesEveryGrowth)
{
    // Appends, single bytes and resizes (a larger size then written through
    // data(), a smaller one cutting the text) from no room to megabytes:
    // after each step the text is what a string given the same steps holds,
    // and a growth at least doubles the room.
    std::mt19937_64 random(3);
    PacketText text;
    std::string expected;
    size_t growths = 0;
    std::string piece;
    while (expected.size() < (size_t{3} << 20)) {
        const size_t room = text.capacity();
        const uint64_t step = random() % 8;
        const size_t length = step == 0 ? random() % (text.capacity() + 100) : random() % 40;
        piece.assign(length, '\0');
        for (char& c : piece)
            c = static_cast<char>('a' + random() % 26);
        if (step <= 3) {
            text.append(piece.data(), piece.size());
            expected += piece;
        } else if (step <= 5) {
            text.push_back(piece.empty() ? 'z' : piece[0]);
            expected.push_back(piece.empty() ? 'z' : piece[0]);
        } else if (step == 6) {
            const size_t start = text.size();
            text.resize(start + piece.size());
            std::copy(piece.begin(), piece.end(), text.data() + start);
            expected += piece;
        } else {
            const size_t cut = expected.size() - std::min(expected.size(), piece.size() / 4);
            text.resize(cut);
            expected.resize(cut);
        }
        ASSERT_EQ(text.size(), expected.size());
        ASSERT_GE(text.capacity(), text.size());
        if (text.capacity() != room) {
            ++growths;
            ASSERT_GE(text.capacity(), 2 * room);
        }
    }
    EXPECT_EQ(std::string(text.data(), text.size()), expected);
    EXPECT_LT(growths, 40u);

    std::vector<unsigned char> out{1, 2};
    const char* bytes = text.data();
    text.TakeInto(out);
    EXPECT_EQ(reinterpret_cast<const char*>(out.data()), bytes); // handed over, not copied
    EXPECT_TRUE(std::equal(out.begin(), out.end(), expected.begin(), expected.end()));
    EXPECT_EQ(text.size(), 0u);
    EXPECT_EQ(text.capacity(), 0u);
}

// Pages of [begin, end) in memory, counted with mincore.
size_t ResidentPages(const char* begin, const char* end)
{
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
    const uintptr_t last = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
    if (last <= first)
        return 0;
    std::vector<unsigned char> pages((last - first) / page);
    if (mincore(reinterpret_cast<void*>(first), last - first, pages.data()) != 0)
        return SIZE_MAX;
    size_t resident = 0;
    for (unsigned char flags : pages)
        resident += flags & 1;
    return resident;
}

TEST(PacketText, RoomNotWrittenStaysOutOfMemory)
{
    // Fresh room of 64 MiB with a little text in front, taken by reserve
    // and by growth: the room past the text is not touched, so (apart from
    // what the heap puts at its edge) none of it is resident.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t limit = (size_t{4} << 20) / page; // an eighth of the room at most
    const std::string head(5000, 'h');

    PacketText reserved;
    reserved.append(head.data(), head.size());
    reserved.reserve(size_t{64} << 20);
    reserved.append(head.data(), head.size());
    EXPECT_LE(ResidentPages(reserved.data() + reserved.size(), reserved.data() + reserved.capacity()), limit);

    PacketText grown;
    grown.reserve(size_t{32} << 20);
    grown.resize(size_t{32} << 20); // full: the next byte doubles the room
    grown.push_back('x');
    ASSERT_GE(grown.capacity(), size_t{64} << 20);
    EXPECT_EQ(grown.data()[grown.size() - 1], 'x');
    EXPECT_LE(ResidentPages(grown.data() + grown.size(), grown.data() + grown.capacity()), limit);
}

} // namespace
