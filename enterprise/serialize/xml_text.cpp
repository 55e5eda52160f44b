#include "enterprise/serialize/xml_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/common/assertion.h"

namespace Serialization::Detail {

namespace {

// One character of the text. `unit` marks a UTF-16 unit that is no character
// on its own (a lone surrogate, U+FFFE, U+FFFF): it is always a reference.
struct Character
{
    uint32_t value;
    bool unit;
};

inline Character NextCharacter(const char*& position, const char*)
{
    return Character{static_cast<unsigned char>(*position++), false};
}

inline Character NextCharacter(const char16_t*& position, const char16_t* end)
{
    uint32_t first = *position++;
    if (first >= 0xD800 && first <= 0xDBFF && position != end && *position >= 0xDC00 && *position <= 0xDFFF) {
        uint32_t second = *position++;
        return Character{0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), false};
    }
    bool unit = (first >= 0xD800 && first <= 0xDFFF) || first == 0xFFFE || first == 0xFFFF;
    return Character{first, unit};
}

inline size_t Utf8Length(uint32_t value)
{
    return value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
}

inline size_t DecimalLength(uint32_t value)
{
    size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

inline char* PutUtf8(char* out, uint32_t value)
{
    if (value < 0x80) {
        *out++ = static_cast<char>(value);
    } else if (value < 0x800) {
        *out++ = static_cast<char>(0xC0 | (value >> 6));
        *out++ = static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (value >> 12));
        *out++ = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (value & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (value >> 18));
        *out++ = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (value & 0x3F));
    }
    return out;
}

inline char* PutReference(char* out, uint32_t value)
{
    char digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    *out++ = '&';
    *out++ = '#';
    while (count != 0)
        *out++ = digits[--count];
    *out++ = ';';
    return out;
}

inline char* PutLiteral(char* out, const char* literal, size_t length)
{
    std::memcpy(out, literal, length);
    return out + length;
}

constexpr char kCdataOpen[] = "<![CDATA[";
constexpr char kCdataClose[] = "]]>";
constexpr size_t kCdataOpenLength = sizeof(kCdataOpen) - 1;
constexpr size_t kCdataCloseLength = sizeof(kCdataClose) - 1;

// What one scan of the text finds: the form to use and its exact length.
struct Plan
{
    bool cdata;
    size_t length;
};

template <typename Unit>
Plan PlanText(const Unit* text, const Unit* end)
{
    bool hasLineFeed = false;
    bool cdataAllowed = true;
    size_t cdataLength = kCdataOpenLength + kCdataCloseLength;
    size_t referencedLength = 0;
    bool afterPlainBlank = true;
    uint32_t previous = 0;
    uint32_t beforePrevious = 0;

    for (const Unit* position = text; position != end;) {
        Character c = NextCharacter(position, end);
        bool last = position == end;

        if (c.unit)
            cdataAllowed = false;
        else if (c.value == '\n')
            hasLineFeed = true, cdataLength += 2;
        else if (c.value < 0x20 && c.value != '\t')
            cdataAllowed = false;
        else
            cdataLength += Utf8Length(c.value);
        if (c.value == '>' && previous == ']' && beforePrevious == ']')
            cdataAllowed = false;
        beforePrevious = previous;
        previous = c.value;

        if (c.value == ' ') {
            if (!afterPlainBlank && !last) {
                referencedLength += 1;
                afterPlainBlank = true;
                continue;
            }
            referencedLength += 5;
        } else if (c.unit || c.value < 0x20)
            referencedLength += 3 + DecimalLength(c.value);
        else if (c.value == '<')
            referencedLength += 4;
        else if (c.value == '&')
            referencedLength += 5;
        else
            referencedLength += Utf8Length(c.value);
        afterPlainBlank = false;
    }

    if (hasLineFeed && cdataAllowed)
        return Plan{true, cdataLength};
    return Plan{false, referencedLength};
}

template <typename Unit>
char* PutCdata(char* out, const Unit* text, const Unit* end)
{
    out = PutLiteral(out, kCdataOpen, kCdataOpenLength);
    for (const Unit* position = text; position != end;) {
        Character c = NextCharacter(position, end);
        if (c.value == '\n') {
            *out++ = '\r';
            *out++ = '\n';
        } else {
            out = PutUtf8(out, c.value);
        }
    }
    return PutLiteral(out, kCdataClose, kCdataCloseLength);
}

template <typename Unit>
char* PutReferenced(char* out, const Unit* text, const Unit* end)
{
    bool afterPlainBlank = true;
    for (const Unit* position = text; position != end;) {
        Character c = NextCharacter(position, end);
        if (c.value == ' ') {
            if (!afterPlainBlank && position != end) {
                *out++ = ' ';
                afterPlainBlank = true;
                continue;
            }
            out = PutReference(out, c.value);
        } else if (c.unit || c.value < 0x20)
            out = PutReference(out, c.value);
        else if (c.value == '<')
            out = PutLiteral(out, "&lt;", 4);
        else if (c.value == '&')
            out = PutLiteral(out, "&amp;", 5);
        else
            out = PutUtf8(out, c.value);
        afterPlainBlank = false;
    }
    return out;
}

#if defined(__SSE2__)
// Sixteen units of the text as bytes; false when one of them lies above FF.
inline bool LoadBytes(const char* text, __m128i& bytes)
{
    bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    return true;
}

inline bool LoadBytes(const char16_t* text, __m128i& bytes)
{
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 8));
    const __m128i high = _mm_or_si128(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, _mm_setzero_si128())) != 0xFFFF)
        return false;
    bytes = _mm_packus_epi16(first, second);
    return true;
}
#endif

char* CharsOf(std::string& out)
{
    return out.data();
}

char* CharsOf(PacketText& out)
{
    return out.data();
}

// The usual text: printable ASCII other than '<' and '&', with single
// blanks between other characters. Its referenced form is the text as it
// stands; false (nothing appended) for any other text.
template <typename Out, typename Unit>
bool AppendPlain(Out& out, const Unit* text, size_t length)
{
    if (text[0] == ' ' || text[length - 1] == ' ')
        return false;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen units at a time; a blank may not follow a blank, also across
    // two blocks.
    unsigned previousBlank = 0;
    for (; length - i >= 16; i += 16) {
        __m128i bytes;
        if (!LoadBytes(text + i, bytes))
            return false;
        const __m128i blank = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
        // Signed: bytes from 80 count as below 21 as well.
        const __m128i low = _mm_andnot_si128(blank, _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x21)));
        const __m128i markup = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')),
                                            _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')));
        if (_mm_movemask_epi8(_mm_or_si128(low, markup)) != 0)
            return false;
        const unsigned blanks = static_cast<unsigned>(_mm_movemask_epi8(blank));
        if ((blanks & ((blanks << 1) | previousBlank)) != 0)
            return false;
        previousBlank = blanks >> 15;
    }
#endif
    for (; i < length; ++i) {
        const uint32_t c = static_cast<std::make_unsigned_t<Unit>>(text[i]);
        if (c == ' ') {
            if (text[i - 1] == ' ')
                return false;
        } else if (c < 0x21 || c > 0x7F || c == '<' || c == '&') {
            return false;
        }
    }
    if constexpr (sizeof(Unit) == 1) {
        out.append(text, length);
    } else {
        const size_t start = out.size();
        if (length > out.max_size() - start)
            throw std::length_error("basic_string::append");
        out.resize(start + length);
        char* target = CharsOf(out) + start;
        for (size_t j = 0; j < length; ++j)
            target[j] = static_cast<char>(text[j]);
    }
    return true;
}

// Longest referenced form of one unit: "&#65534;".
constexpr size_t kMaxReferencedBytes = 8;
// Texts up to this length are written without planning when they need no
// CDATA section.
constexpr size_t kUnplannedLength = 4096;

template <typename Unit>
bool HasLineFeed(const Unit* text, const Unit* end)
{
    for (; text != end; ++text)
        if (*text == '\n')
            return true;
    return false;
}

template <typename Out, typename Unit>
void AppendText(Out& out, const Unit* text, size_t length)
{
    if (length == 0 || AppendPlain(out, text, length))
        return;
    const Unit* end = text + length;
    if (length <= kUnplannedLength && !HasLineFeed(text, end)) {
        // Without a line feed the referenced form is the one: written into
        // room for the longest it can be, then cut to what it took. The
        // resize zeroes that room first: at most 32 KiB, for a text this
        // short.
        const size_t start = out.size();
        out.resize(start + length * kMaxReferencedBytes);
        const char* last = PutReferenced(CharsOf(out) + start, text, end);
        out.resize(static_cast<size_t>(last - CharsOf(out)));
        return;
    }
    Plan plan = PlanText(text, end);
    size_t start = out.size();
    if (plan.length > out.max_size() - start)
        throw std::length_error("basic_string::append");
    out.resize(start + plan.length);
    char* first = CharsOf(out) + start;
    char* last = plan.cdata ? PutCdata(first, text, end) : PutReferenced(first, text, end);
    COMMON_ASSERT(last == first + plan.length);
}

} // namespace

void PacketText::Grow(size_t size)
{
    // The room is at most max_size (below half of SIZE_MAX): doubling it
    // cannot wrap, and reserve refuses what lies beyond max_size.
    constexpr size_t kFirstRoom = 64;
    m_bytes.reserve(std::max(size, std::max(kFirstRoom, 2 * m_bytes.capacity())));
}

void AppendXmlText(std::string& out, const char* text, size_t length)
{
    AppendText(out, text, length);
}

void AppendXmlText(std::string& out, const char16_t* text, size_t length)
{
    AppendText(out, text, length);
}

void AppendXmlText(PacketText& out, const char* text, size_t length)
{
    AppendText(out, text, length);
}

void AppendXmlText(PacketText& out, const char16_t* text, size_t length)
{
    AppendText(out, text, length);
}

} // namespace Serialization::Detail
