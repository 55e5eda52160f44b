#include "core/common/text_conversion.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Common {
namespace {

// Number of bytes before the first 0 among the first `length` bytes.
size_t EffectiveLength(const unsigned char* source, size_t length)
{
    if (length == kWholeText)
        return std::strlen(reinterpret_cast<const char*>(source));
    const void* zero = std::memchr(source, 0, length);
    return zero != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - source) : length;
}

// Number of units before the first 0 among the first `length` units.
size_t EffectiveLength(const char16_t* source, size_t length)
{
    // Without a length nothing may be read past the terminator.
    if (length == kWholeText)
        return std::char_traits<char16_t>::length(source);
    size_t count = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (length - count >= 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + count));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, zero));
        if (mask != 0)
            return count + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        count += 8;
    }
#endif
    while (count < length && source[count] != 0)
        ++count;
    return count;
}

// True when the next 8 bytes, or the next 4 units, are ASCII: a run long
// enough for the vector loops.
inline bool StartsAsciiRun(const unsigned char* bytes)
{
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return (word & 0x8080808080808080ull) == 0;
}

inline bool StartsAsciiRun(const char16_t* units)
{
    uint64_t word;
    std::memcpy(&word, units, sizeof word);
    return (word & 0xFF80FF80FF80FF80ull) == 0;
}

inline bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

constexpr char16_t kReplacement = 0xFFFD;

// ASCII units taken one at a time before the vector loops take over.
constexpr size_t kAsciiStreak = 8;

} // namespace

bool ConvertUtf16ToUtf8(std::string& out, const char16_t* source, size_t length)
{
    if (source == nullptr) {
        out.clear();
        return true;
    }
    const size_t count = EffectiveLength(source, length);
    // One byte per unit while the text is ASCII; at the first other unit the
    // room grows once to three bytes for every unit left (a pair gives four
    // bytes for two units), so that no later unit needs a check. Room the
    // string already has is written over, not cleared first.
    if (out.size() < count)
        out.resize(count);
    bool roomForAll = false;
    char* write = out.data();
    size_t index = 0;
    while (index < count) {
        const uint32_t unit = source[index];
        if (unit < 0x80) {
#if defined(__SSE2__)
            // Sixteen units at a time: all of them are packed and stored, and
            // the write moves over the ASCII ones; the rest is written again.
            // Short runs, as in mixed text, stay with the plain loop.
            if (count - index >= 16 && !StartsAsciiRun(source + index)) {
                do
                    *write++ = static_cast<char>(source[index++]);
                while (index < count && source[index] < 0x80);
                continue;
            }
            const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
            const __m128i zero = _mm_setzero_si128();
            while (count - index >= 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + index));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + index + 8));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(write), _mm_packus_epi16(a, b));
                const int asciiA = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero));
                const int asciiB = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(b, high), zero));
                const unsigned other = ~static_cast<unsigned>(asciiA | asciiB << 16);
                if (other != 0) {
                    const size_t run = static_cast<size_t>(__builtin_ctz(other)) / 2;
                    write += run;
                    index += run;
                    break;
                }
                write += 16;
                index += 16;
            }
#endif
            while (index < count && source[index] < 0x80)
                *write++ = static_cast<char>(source[index++]);
            continue;
        }
        if (!roomForAll) {
            const size_t written = static_cast<size_t>(write - out.data());
            if (out.size() < written + (count - index) * 3)
                out.resize(written + (count - index) * 3);
            write = out.data() + written;
            roomForAll = true;
        }
        if (unit < 0x800) {
            *write++ = static_cast<char>(0xC0 | unit >> 6);
            *write++ = static_cast<char>(0x80 | (unit & 0x3F));
            ++index;
        } else if (unit >= 0xD800 && unit <= 0xDBFF && index + 1 < count && source[index + 1] >= 0xDC00 &&
                   source[index + 1] <= 0xDFFF) {
            const uint32_t low = source[index + 1];
            const uint32_t cp = ((unit & 0x3FF) << 10 | (low & 0x3FF)) + 0x10000;
            *write++ = static_cast<char>(0xF0 | cp >> 18);
            *write++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            *write++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            *write++ = static_cast<char>(0x80 | (cp & 0x3F));
            index += 2;
        } else {
            *write++ = static_cast<char>(0xE0 | unit >> 12);
            *write++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
            *write++ = static_cast<char>(0x80 | (unit & 0x3F));
            ++index;
        }
    }
    out.resize(static_cast<size_t>(write - out.data()));
    return true;
}

bool ConvertUtf8ToUtf16(std::u16string& out, const char* source, size_t length)
{
    if (source == nullptr) {
        out.clear();
        return true;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    const size_t count = EffectiveLength(bytes, length);
    // At most one unit per byte (four bytes give at most two units). Room
    // the string already has is written over, not cleared first.
    if (out.size() < count)
        out.resize(count);
    char16_t* write = out.data();
    bool wellFormed = true;
    size_t index = 0;
    while (index < count) {
        const uint32_t lead = bytes[index];
        const size_t left = count - index;
        if (lead < 0x80) {
            // Up to eight bytes one at a time: the short runs of mixed text
            // end there.
            const size_t stop = left < kAsciiStreak ? count : index + kAsciiStreak;
            do
                *write++ = static_cast<char16_t>(bytes[index++]);
            while (index < stop && bytes[index] < 0x80);
            if (index != stop || index == count || bytes[index] >= 0x80)
                continue;
#if defined(__SSE2__)
            // A long run: sixteen bytes at a time. All of them are widened and
            // stored (the write never passes the read), and both move over
            // the ASCII ones.
            const __m128i zero = _mm_setzero_si128();
            while (count - index >= 16) {
                const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + index));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(write), _mm_unpacklo_epi8(chunk, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(write + 8), _mm_unpackhi_epi8(chunk, zero));
                const int other = _mm_movemask_epi8(chunk);
                if (other != 0) {
                    const size_t run = static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(other)));
                    write += run;
                    index += run;
                    break;
                }
                write += 16;
                index += 16;
            }
#endif
            while (index < count && bytes[index] < 0x80)
                *write++ = static_cast<char16_t>(bytes[index++]);
            continue;
        }
        if (left >= 4) {
            // Away from the end every sequence can be taken whole, without a
            // check of what is left; the three-byte form first, as in most
            // text beyond Latin.
            const uint32_t b1 = bytes[index + 1];
            const uint32_t b2 = bytes[index + 2];
            if (lead >= 0xE0) {
                if (lead < 0xF0) {
                    if (((b1 & 0xC0) | (b2 & 0xC0) << 8) == 0x8080) {
                        const uint32_t value = (lead & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
                        wellFormed &= value >= 0x800;
                        *write++ = static_cast<char16_t>(value);
                        index += 3;
                        continue;
                    }
                } else if (lead < 0xF8) {
                    const uint32_t b3 = bytes[index + 3];
                    if (((b1 & 0xC0) | (b2 & 0xC0) << 8 | (b3 & 0xC0) << 16) == 0x808080) {
                        const uint32_t value = (lead & 0x07) << 18 | (b1 & 0x3F) << 12 | (b2 & 0x3F) << 6 | (b3 & 0x3F);
                        if (value > 0xFFFF && value <= 0x10FFFF) {
                            *write++ = static_cast<char16_t>(0xD800 | (value - 0x10000) >> 10);
                            *write++ = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
                        } else {
                            wellFormed = false;
                            *write++ = value <= 0xFFFF ? static_cast<char16_t>(value) : kReplacement;
                        }
                        index += 4;
                        continue;
                    }
                }
            } else if (lead >= 0xC0 && IsContinuation(b1)) {
                const uint32_t value = (lead & 0x1F) << 6 | (b1 & 0x3F);
                wellFormed &= value >= 0x80;
                *write++ = static_cast<char16_t>(value);
                index += 2;
                continue;
            }
            wellFormed = false;
            *write++ = kReplacement;
            ++index;
            continue;
        }
        if ((lead & 0xE0) == 0xC0 && left >= 2 && IsContinuation(bytes[index + 1])) {
            const uint32_t value = (lead & 0x1F) << 6 | (bytes[index + 1] & 0x3F);
            if (value < 0x80)
                wellFormed = false;
            *write++ = static_cast<char16_t>(value);
            index += 2;
        } else if ((lead & 0xF0) == 0xE0 && left >= 3 && IsContinuation(bytes[index + 1]) &&
                   IsContinuation(bytes[index + 2])) {
            const uint32_t value = (lead & 0x0F) << 12 | (bytes[index + 1] & 0x3F) << 6 | (bytes[index + 2] & 0x3F);
            if (value < 0x800)
                wellFormed = false;
            *write++ = static_cast<char16_t>(value);
            index += 3;
        } else if ((lead & 0xF8) == 0xF0 && left >= 4 && IsContinuation(bytes[index + 1]) &&
                   IsContinuation(bytes[index + 2]) && IsContinuation(bytes[index + 3])) {
            const uint32_t value = (lead & 0x07) << 18 | (bytes[index + 1] & 0x3F) << 12 |
                (bytes[index + 2] & 0x3F) << 6 | (bytes[index + 3] & 0x3F);
            if (value <= 0xFFFF) {
                wellFormed = false;
                *write++ = static_cast<char16_t>(value);
            } else if (value <= 0x10FFFF) {
                *write++ = static_cast<char16_t>(0xD800 | (value - 0x10000) >> 10);
                *write++ = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
            } else {
                wellFormed = false;
                *write++ = kReplacement;
            }
            index += 4;
        } else {
            wellFormed = false;
            *write++ = kReplacement;
            ++index;
        }
    }
    out.resize(static_cast<size_t>(write - out.data()));
    return wellFormed;
}

std::string ToUtf8(const char16_t* text)
{
    std::string result;
    if (text != nullptr)
        ConvertUtf16ToUtf8(result, text, kWholeText);
    return result;
}

std::u16string FromUtf8(const char* text)
{
    std::u16string result;
    if (text != nullptr)
        ConvertUtf8ToUtf16(result, text, kWholeText);
    return result;
}

char16_t* WidenCString(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const size_t length = std::char_traits<char>::length(text);
    auto* result = new char16_t[length + 1];
    for (size_t i = 0; i < length; ++i)
        result[i] = static_cast<unsigned char>(text[i]);
    result[length] = 0;
    return result;
}

char* NarrowCString(const char16_t* text)
{
    if (text == nullptr)
        return nullptr;
    const size_t length = std::char_traits<char16_t>::length(text);
    auto* result = new char[length + 1];
    for (size_t i = 0; i < length; ++i)
        result[i] = static_cast<char>(text[i] & 0xFF);
    result[length] = 0;
    return result;
}

void ClearString(std::u16string& text)
{
    text.clear();
}

} // namespace Common
