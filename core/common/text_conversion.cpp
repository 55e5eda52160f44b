#include "core/common/text_conversion.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__GNUC__)
// The shuffle (SSSE3) is used behind a check of the processor, in functions
// compiled for it alone.
#define TEXT_CONVERSION_SHUFFLE 1
#include <tmmintrin.h>
#endif
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

// The fast loops stop this far before the end of the input, so that a whole
// sequence or a block of eight or sixteen can be read without a check of
// what is left; the rest goes through the checked loops.
constexpr size_t kReadMargin = 16;

// Room the fast loops keep beyond their bound for the output, for the blocks
// they store whole and then partly write over.
constexpr size_t kStoreMargin = 32;

// Below this many elements of room the output grows to the bound for the
// whole rest of the text instead of running a fast loop on a short stretch.
constexpr size_t kShortStretch = 64;

inline bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

constexpr char16_t kReplacement = 0xFFFD;

#if TEXT_CONVERSION_SHUFFLE
// Off only for tests (AllowByteShuffle).
std::atomic<bool> shuffleAllowed{true};

// Whether to take the shuffle paths: the processor has SSSE3 and they are
// allowed.
bool UseShuffle()
{
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return present && shuffleAllowed.load(std::memory_order_relaxed);
}
#endif

// UTF-8 of the unit at `read`, or of the pair starting there when the next
// unit, before `end`, completes it; a lone surrogate takes three bytes like
// any unit of its range. Moves both pointers on.
inline void EncodeUnit(const char16_t*& read, char*& write, const char16_t* end)
{
    const uint32_t unit = *read;
    if (unit < 0x80) {
        write[0] = static_cast<char>(unit);
        write += 1;
        read += 1;
    } else if (unit < 0x800) {
        write[0] = static_cast<char>(0xC0 | unit >> 6);
        write[1] = static_cast<char>(0x80 | (unit & 0x3F));
        write += 2;
        read += 1;
    } else if ((unit & 0xFC00) == 0xD800 && end - read >= 2 && (read[1] & 0xFC00) == 0xDC00) {
        const uint32_t cp = ((unit & 0x3FF) << 10 | (read[1] & 0x3FF)) + 0x10000;
        write[0] = static_cast<char>(0xF0 | cp >> 18);
        write[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        write[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        write[3] = static_cast<char>(0x80 | (cp & 0x3F));
        write += 4;
        read += 2;
    } else {
        write[0] = static_cast<char>(0xE0 | unit >> 12);
        write[1] = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
        write[2] = static_cast<char>(0x80 | (unit & 0x3F));
        write += 3;
        read += 1;
    }
}

#if defined(__SSE2__)
inline __m128i Splat(int value)
{
    return _mm_set1_epi16(static_cast<short>(value));
}

// Lanes below 0x80.
inline __m128i AsciiLanes(__m128i units)
{
    return _mm_cmpeq_epi16(_mm_and_si128(units, Splat(0xFF80)), _mm_setzero_si128());
}

// The ASCII run at `read`, sixteen units at a time while at least sixteen
// are left before `stop`: all sixteen are packed and stored, and both sides
// move over the ASCII ones.
inline void PackAsciiRun(const char16_t*& read, char*& write, const char16_t* stop)
{
    while (stop - read >= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(write), _mm_packus_epi16(a, b));
        const unsigned ascii = static_cast<unsigned>(_mm_movemask_epi8(AsciiLanes(a))) |
            static_cast<unsigned>(_mm_movemask_epi8(AsciiLanes(b))) << 16;
        if (ascii != 0xFFFFFFFF) {
            const size_t run = static_cast<size_t>(__builtin_ctz(~ascii)) / 2;
            write += run;
            read += run;
            return;
        }
        write += 16;
        read += 16;
    }
}

// The ASCII run at `read`, sixteen bytes at a time while at least sixteen are
// left before `stop`: all sixteen are widened and stored (the write never
// passes the read), and both sides move over the ASCII ones.
inline void WidenAsciiRun(const unsigned char*& read, char16_t*& write, const unsigned char* stop)
{
    const __m128i zero = _mm_setzero_si128();
    // Thirty-two at a time while all are ASCII, then sixteen to find the end.
    while (stop - read >= 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read + 16));
        if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(write), _mm_unpacklo_epi8(a, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(write + 8), _mm_unpackhi_epi8(a, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(write + 16), _mm_unpacklo_epi8(b, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(write + 24), _mm_unpackhi_epi8(b, zero));
        read += 32;
        write += 32;
    }
    while (stop - read >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(write), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(write + 8), _mm_unpackhi_epi8(chunk, zero));
        const int other = _mm_movemask_epi8(chunk);
        if (other != 0) {
            const size_t run = static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(other)));
            write += run;
            read += run;
            return;
        }
        write += 16;
        read += 16;
    }
}
#endif

// UTF-16 -> UTF-8 from `read` until it reaches `stop`, at least kReadMargin
// units before the end `end`, with room for three bytes per unit and
// kStoreMargin more. The last step may go a little past `stop`.
void EncodeStretch(const char16_t*& readAt, char*& writeAt, const char16_t* stop, const char16_t* end)
{
    // Worked on in locals: a store of a vector may alias anything, and
    // pointers behind references would be read again after each one.
    const char16_t* read = readAt;
    char* write = writeAt;
    while (read < stop) {
        if (*read >= 0x80) {
            EncodeUnit(read, write, end);
            continue;
        }
#if defined(__SSE2__)
        // A run of eight or more ASCII units goes packed.
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read));
        if (_mm_movemask_epi8(AsciiLanes(units)) == 0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(write), _mm_packus_epi16(units, units));
            read += 8;
            write += 8;
            PackAsciiRun(read, write, stop);
            continue;
        }
#endif
        do
            *write++ = static_cast<char>(*read++);
        while (read < stop && *read < 0x80);
    }
    readAt = read;
    writeAt = write;
}

#if TEXT_CONVERSION_SHUFFLE
// Byte selections for four units, each given as a 32-bit word of candidate
// bytes [lead, low byte of the unit, second, last] (see EightUnits): by the
// key of their ASCII lanes (bits 0-3) and of their lanes below 0x800 (bits
// 4-7), the bytes to take in order and their number.
struct ShuffleTable
{
    alignas(16) uint8_t select[256][16];
    uint8_t length[256];
};

constexpr ShuffleTable MakeShuffleTable()
{
    ShuffleTable table{};
    for (unsigned key = 0; key < 256; ++key) {
        unsigned length = 0;
        for (unsigned lane = 0; lane < 4; ++lane) {
            const uint8_t word = static_cast<uint8_t>(4 * lane);
            if (key >> lane & 1) {
                table.select[key][length++] = word + 1;
            } else if (key >> (4 + lane) & 1) {
                table.select[key][length++] = word;
                table.select[key][length++] = word + 3;
            } else {
                table.select[key][length++] = word;
                table.select[key][length++] = word + 2;
                table.select[key][length++] = word + 3;
            }
        }
        for (unsigned i = length; i < 16; ++i)
            table.select[key][i] = 0x80;
        table.length[key] = static_cast<uint8_t>(length);
    }
    return table;
}

constexpr ShuffleTable kShuffleTable = MakeShuffleTable();

// Eight units at a time with the shuffle. Each unit has its candidate bytes
// in a 32-bit word, [lead, low byte of the unit, second, last], the key of
// its form picks them, and four words at a time are shuffled into place:
//   ASCII            low byte
//   below 0x800      lead C0 | u >> 6, last 80 | u & 3F
//   others           lead E0 | u >> 12, second 80 | u >> 6 & 3F, last 80 | u & 3F
// A pair gives its four bytes as two of the second form, two for each
// surrogate, so that a pair split between two blocks needs nothing more (nor
// between the blocks and the checked loop at the end, which looks back for
// it): the high one gives F0 | plane >> 8 and 80 | plane >> 2 & 3F, plane
// being the code point >> 10, and the low one 80 | (plane & 3) << 4 | low >>
// 6 & F and 80 | low & 3F.
struct EightUnits
{
    __m128i units;
    __m128i ascii; // lanes set where ASCII
    __m128i small; // lanes set where taking two bytes or one
    __m128i lead;
    __m128i tail; // second, last
};

// Marks the pairs among the units at `read` and gives them their bytes;
// `text` is the start of the text, before which nothing is read.
inline void TakePairs(EightUnits& block, const char16_t* read, const char16_t* text)
{
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read + 1));
    const __m128i previous = read != text ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(read - 1))
                                          : _mm_slli_si128(block.units, 2);
    const __m128i kind = _mm_and_si128(block.units, Splat(0xFC00));
    const __m128i pairHigh = _mm_and_si128(_mm_cmpeq_epi16(kind, Splat(0xD800)),
                                           _mm_cmpeq_epi16(_mm_and_si128(next, Splat(0xFC00)), Splat(0xDC00)));
    const __m128i pairLow = _mm_and_si128(_mm_cmpeq_epi16(kind, Splat(0xDC00)),
                                          _mm_cmpeq_epi16(_mm_and_si128(previous, Splat(0xFC00)), Splat(0xD800)));
    const __m128i plane = _mm_add_epi16(_mm_and_si128(block.units, Splat(0x3FF)), Splat(0x40));
    const __m128i highLead = _mm_or_si128(_mm_srli_epi16(plane, 8), Splat(0xF0));
    const __m128i highLast = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(plane, 2), Splat(0x3F)), 8);
    const __m128i lowLead = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(previous, Splat(0x3)), 4),
                                                      _mm_and_si128(_mm_srli_epi16(block.units, 6), Splat(0xF))),
                                         Splat(0x80));
    block.lead = _mm_or_si128(_mm_or_si128(_mm_and_si128(pairHigh, highLead), _mm_and_si128(pairLow, lowLead)),
                              _mm_andnot_si128(_mm_or_si128(pairHigh, pairLow), block.lead));
    // The last byte of a high surrogate's two: 80 is there already.
    block.tail = _mm_or_si128(_mm_andnot_si128(_mm_and_si128(pairHigh, Splat(0x3F00)), block.tail),
                              _mm_and_si128(pairHigh, highLast));
    block.small = _mm_or_si128(block.small, _mm_or_si128(pairHigh, pairLow));
}

// Stores the bytes of the block at `write` (sixteen at each of two steps)
// and moves it over them.
__attribute__((target("ssse3"))) inline void ShuffleEight(char*& write, const EightUnits& block)
{
    const __m128i head = _mm_or_si128(block.lead, _mm_slli_epi16(block.units, 8));
    // Keys of the lanes 0-3 in the low byte, of the lanes 4-7 in the next.
    const unsigned keys = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_unpacklo_epi64(block.ascii, block.small), _mm_unpackhi_epi64(block.ascii, block.small))));
    const unsigned low = keys & 0xFF;
    const unsigned high = keys >> 8;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(write),
                     _mm_shuffle_epi8(_mm_unpacklo_epi16(head, block.tail),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(kShuffleTable.select[low]))));
    write += kShuffleTable.length[low];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(write),
                     _mm_shuffle_epi8(_mm_unpackhi_epi16(head, block.tail),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(kShuffleTable.select[high]))));
    write += kShuffleTable.length[high];
}

// EncodeStretch in blocks of eight units with the shuffle; ASCII blocks are
// packed. A pair may be split at the end: its low surrogate is at `read` then
// and its high one has given its two bytes.
__attribute__((target("ssse3"))) void ShuffleStretch(const char16_t*& readAt, char*& writeAt, const char16_t* stop,
                                                     const char16_t* text)
{
    // Worked on in locals: a store of a vector may alias anything, and
    // pointers behind references would be read again after each one.
    const char16_t* read = readAt;
    char* write = writeAt;
    while (read < stop) {
        EightUnits block;
        block.units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read));
        block.ascii = AsciiLanes(block.units);
        if (_mm_movemask_epi8(block.ascii) == 0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(write), _mm_packus_epi16(block.units, block.units));
            read += 8;
            write += 8;
            PackAsciiRun(read, write, stop);
            continue;
        }
        const __m128i top5 = _mm_and_si128(block.units, Splat(0xF800));
        const __m128i above6 = _mm_srli_epi16(block.units, 6);
        block.small = _mm_cmpeq_epi16(top5, _mm_setzero_si128());
        block.lead = _mm_or_si128(
            _mm_and_si128(block.small, _mm_or_si128(above6, Splat(0xC0))),
            _mm_andnot_si128(block.small, _mm_or_si128(_mm_srli_epi16(block.units, 12), Splat(0xE0))));
        block.tail = _mm_or_si128(_mm_or_si128(_mm_and_si128(above6, Splat(0x3F)),
                                               _mm_slli_epi16(_mm_and_si128(block.units, Splat(0x3F)), 8)),
                                  Splat(0x8080));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(top5, Splat(0xD800))) != 0)
            TakePairs(block, read, text);
        ShuffleEight(write, block);
        read += 8;
    }
    readAt = read;
    writeAt = write;
}

#endif

// UTF-8 -> UTF-16 of the sequence at `read`, checked against `end`: moves
// both pointers on and returns false when the sequence is not well-formed.
// Overlong forms are decoded all the same, surrogates are stored as they
// are, and a byte that starts no complete sequence gives U+FFFD alone.
inline bool DecodeSequence(const unsigned char*& read, char16_t*& write, const unsigned char* end)
{
    const uint32_t lead = *read;
    const size_t left = static_cast<size_t>(end - read);
    if (lead < 0x80) {
        *write++ = static_cast<char16_t>(lead);
        ++read;
        return true;
    }
    if ((lead & 0xE0) == 0xC0 && left >= 2 && IsContinuation(read[1])) {
        const uint32_t value = (lead & 0x1F) << 6 | (read[1] & 0x3F);
        *write++ = static_cast<char16_t>(value);
        read += 2;
        return value >= 0x80;
    }
    if ((lead & 0xF0) == 0xE0 && left >= 3 && IsContinuation(read[1]) && IsContinuation(read[2])) {
        const uint32_t value = (lead & 0x0F) << 12 | (read[1] & 0x3F) << 6 | (read[2] & 0x3F);
        *write++ = static_cast<char16_t>(value);
        read += 3;
        return value >= 0x800;
    }
    if ((lead & 0xF8) == 0xF0 && left >= 4 && IsContinuation(read[1]) && IsContinuation(read[2]) &&
        IsContinuation(read[3])) {
        const uint32_t value = (lead & 0x07) << 18 | (read[1] & 0x3F) << 12 | (read[2] & 0x3F) << 6 | (read[3] & 0x3F);
        read += 4;
        if (value <= 0xFFFF) {
            *write++ = static_cast<char16_t>(value);
            return false;
        }
        if (value > 0x10FFFF) {
            *write++ = kReplacement;
            return false;
        }
        *write++ = static_cast<char16_t>(0xD800 | (value - 0x10000) >> 10);
        *write++ = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
        return true;
    }
    *write++ = kReplacement;
    ++read;
    return false;
}

// UTF-8 -> UTF-16 of the sequence at `read`, which does not start with an
// ASCII byte and has at least four bytes after it: as DecodeSequence, the
// three-byte form first, as in most text beyond Latin, and the continuation
// bytes checked together.
inline bool DecodeMultiByte(const unsigned char*& read, char16_t*& write)
{
    const uint32_t lead = read[0];
    const uint32_t b1 = read[1];
    if (lead >= 0xE0) {
        const uint32_t b2 = read[2];
        if (lead < 0xF0) {
            if (((b1 & 0xC0) | (b2 & 0xC0) << 8) == 0x8080) {
                const uint32_t value = (lead & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
                *write++ = static_cast<char16_t>(value);
                read += 3;
                return value >= 0x800;
            }
        } else if (lead < 0xF8) {
            const uint32_t b3 = read[3];
            if (((b1 & 0xC0) | (b2 & 0xC0) << 8 | (b3 & 0xC0) << 16) == 0x808080) {
                const uint32_t value = (lead & 0x07) << 18 | (b1 & 0x3F) << 12 | (b2 & 0x3F) << 6 | (b3 & 0x3F);
                read += 4;
                if (value - 0x10000 <= 0x10FFFF - 0x10000) {
                    write[0] = static_cast<char16_t>(0xD800 | (value - 0x10000) >> 10);
                    write[1] = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
                    write += 2;
                    return true;
                }
                *write++ = value <= 0xFFFF ? static_cast<char16_t>(value) : kReplacement;
                return false;
            }
        }
    } else if (lead >= 0xC0 && (b1 & 0xC0) == 0x80) {
        const uint32_t value = (lead & 0x1F) << 6 | (b1 & 0x3F);
        *write++ = static_cast<char16_t>(value);
        read += 2;
        return value >= 0x80;
    }
    *write++ = kReplacement;
    ++read;
    return false;
}

// UTF-8 -> UTF-16 from `read` until it reaches `stop`, at least kReadMargin
// bytes before the end, with room for one unit per byte and kStoreMargin
// more; the last step may go a little past `stop`. Returns false when
// something read was not well-formed.
bool DecodeStretch(const unsigned char*& readAt, char16_t*& writeAt, const unsigned char* stop)
{
    // Worked on in locals: a store of a vector may alias anything, and
    // pointers behind references would be read again after each one.
    const unsigned char* read = readAt;
    char16_t* write = writeAt;
    bool wellFormed = true;
    while (read < stop) {
        uint32_t lead = *read;
        if (lead < 0x80) {
            // Up to eight ASCII bytes one at a time: the short runs of mixed
            // text end there. A longer run goes on sixteen at a time.
            const unsigned char* const streakEnd = read + 8;
            do {
                *write++ = static_cast<char16_t>(lead);
                ++read;
            } while (read < streakEnd && (lead = *read) < 0x80);
            if (read == streakEnd) {
#if defined(__SSE2__)
                WidenAsciiRun(read, write, stop);
#endif
                continue;
            }
        }
        wellFormed &= DecodeMultiByte(read, write);
    }
    readAt = read;
    writeAt = write;
    return wellFormed;
}

#if TEXT_CONVERSION_SHUFFLE
// Unit selections for eight 16-bit lanes: by the key of the lanes to keep,
// those lanes in order, and their number.
struct UnitShuffleTable
{
    alignas(16) uint8_t select[256][16];
    uint8_t count[256];
};

constexpr UnitShuffleTable MakeUnitShuffleTable()
{
    UnitShuffleTable table{};
    for (unsigned key = 0; key < 256; ++key) {
        unsigned count = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            if (key >> lane & 1) {
                table.select[key][2 * count] = static_cast<uint8_t>(2 * lane);
                table.select[key][2 * count + 1] = static_cast<uint8_t>(2 * lane + 1);
                ++count;
            }
        }
        for (unsigned i = 2 * count; i < 16; ++i)
            table.select[key][i] = 0x80;
        table.count[key] = static_cast<uint8_t>(count);
    }
    return table;
}

constexpr UnitShuffleTable kUnitShuffleTable = MakeUnitShuffleTable();

// Stores the lanes of `units` selected by `key` at `write`, eight units in
// all, and moves `write` over the selected ones.
__attribute__((target("ssse3"))) inline void StoreSelected(char16_t*& write, __m128i units, unsigned key)
{
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(write),
        _mm_shuffle_epi8(units, _mm_load_si128(reinterpret_cast<const __m128i*>(kUnitShuffleTable.select[key]))));
    write += kUnitShuffleTable.count[key];
}

// DecodeStretch sixteen bytes at a time with the shuffle. The bytes before
// the last one among bytes 12-15 that starts a sequence are taken when their
// sequences are whole and in order: every lead byte followed by just as many
// continuation bytes as it asks for, no continuation byte elsewhere, no byte
// F8-FF, and four-byte forms within U+10000-U+10FFFF. Each sequence's value
// is built at its last byte from the payload bits of up to three bytes, and
// the last bytes are kept; a four-byte form keeps its third byte too, for the
// high surrogate, and its last byte gives the low one. Overlong forms are
// decoded all the same and only marked. Other blocks go one sequence at a
// time.
__attribute__((target("ssse3"))) bool ShuffleDecodeStretch(const unsigned char*& readAt, char16_t*& writeAt,
                                                           const unsigned char* stop)
{
    // Worked on in locals: a store of a vector may alias anything, and
    // pointers behind references would be read again after each one.
    const unsigned char* read = readAt;
    char16_t* write = writeAt;
    // By the high half of each byte: the payload bits, and the number of
    // continuation bytes a lead byte asks for.
    const __m128i payloadMasks = _mm_setr_epi8(0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x3F, 0x3F, 0x3F, 0x3F,
                                               0x1F, 0x1F, 0x0F, 0x07);
    const __m128i continuations = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3);
    const __m128i zero = _mm_setzero_si128();
    auto bytesOf = [](int value) { return _mm_set1_epi8(static_cast<char>(value)); };
    bool wellFormed = true;
    while (read < stop) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read));
        if (_mm_movemask_epi8(bytes) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(write), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(write + 8), _mm_unpackhi_epi8(bytes, zero));
            read += 16;
            write += 16;
            WidenAsciiRun(read, write, stop);
            continue;
        }
        // Where the next block starts, from bytes 12-15 read on their own:
        // the sooner known, the sooner the next block is read.
        uint32_t lastFour;
        std::memcpy(&lastFour, read + 12, sizeof lastFour);
        const uint32_t lastStarts = ~(lastFour & ~(lastFour << 1)) & 0x80808080u;
        const unsigned taken = lastStarts != 0 ? 12 + (31 - static_cast<unsigned>(__builtin_clz(lastStarts))) / 8 : 0;
        const unsigned before = (1u << taken) - 1;

        // Continuation bytes (80-BF) where they are not expected, and other
        // bytes where one is, up to and with the next block's start.
        const __m128i continuation = _mm_cmplt_epi8(bytes, bytesOf(0xC0));
        const __m128i nibbles = _mm_and_si128(_mm_srli_epi16(bytes, 4), bytesOf(0x0F));
        const __m128i asked = _mm_shuffle_epi8(continuations, nibbles);
        const __m128i expected = _mm_or_si128(
            _mm_or_si128(_mm_slli_si128(asked, 1), _mm_subs_epu8(_mm_slli_si128(asked, 2), bytesOf(1))),
            _mm_subs_epu8(_mm_slli_si128(asked, 3), bytesOf(2)));
        unsigned rejected = static_cast<unsigned>(
                                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_cmpeq_epi8(expected, zero), continuation))) &
            (before << 1 | 1);
        const __m128i fourLeads = _mm_cmpeq_epi8(nibbles, bytesOf(0x0F));
        const unsigned fours = static_cast<unsigned>(_mm_movemask_epi8(fourLeads)) & before;
        const __m128i next = _mm_srli_si128(bytes, 1);
        if (fours != 0) {
            // F8-FF, and four-byte forms whose code point >> 16 is not 1-16.
            const __m128i plane = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(bytes, bytesOf(0x07)), 2),
                                               _mm_and_si128(_mm_srli_epi16(next, 4), bytesOf(0x03)));
            rejected |= static_cast<unsigned>(_mm_movemask_epi8(
                            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(plane, zero), _mm_cmpgt_epi8(plane, bytesOf(16))),
                                         _mm_cmpeq_epi8(_mm_max_epu8(bytes, bytesOf(0xF8)), bytes)))) &
                fours;
        }
        if (taken == 0 || rejected != 0) {
            // Up to twelve bytes, so that the last sequence is still within
            // the sixteen.
            const unsigned char* const blockEnd = read + 12;
            while (read < blockEnd) {
                if (*read < 0x80)
                    *write++ = static_cast<char16_t>(*read++);
                else
                    wellFormed &= DecodeMultiByte(read, write);
            }
            continue;
        }
        // Overlong: C0 and C1, and E0 before 80-9F.
        const __m128i twoOverlong = _mm_cmpeq_epi8(_mm_and_si128(bytes, bytesOf(0xFE)), bytesOf(0xC0));
        const __m128i threeLead = _mm_cmpeq_epi8(bytes, bytesOf(0xE0));
        if ((static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(twoOverlong, threeLead))) & before) != 0) {
            const __m128i overlong = _mm_or_si128(
                twoOverlong, _mm_and_si128(threeLead, _mm_cmpeq_epi8(_mm_and_si128(next, bytesOf(0x20)), zero)));
            wellFormed &= (static_cast<unsigned>(_mm_movemask_epi8(overlong)) & before) == 0;
        }

        // value = payload | payload1 << 6 | payload2 << 12, payload1 and
        // payload2 being those of the bytes before where they belong to the
        // same sequence; as low and high bytes.
        const __m128i payload = _mm_and_si128(bytes, _mm_shuffle_epi8(payloadMasks, nibbles));
        const __m128i payload1 = _mm_and_si128(_mm_slli_si128(payload, 1), continuation);
        const __m128i payload2 = _mm_and_si128(_mm_slli_si128(payload, 2),
                                               _mm_and_si128(continuation, _mm_slli_si128(continuation, 1)));
        __m128i low = _mm_or_si128(payload, _mm_slli_epi16(_mm_and_si128(payload1, bytesOf(0x03)), 6));
        __m128i high = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(payload1, 2), bytesOf(0x3F)),
                                    _mm_and_si128(_mm_slli_epi16(payload2, 4), bytesOf(0xF0)));
        // The last byte of each sequence before the next block's start.
        unsigned keep = (~static_cast<unsigned>(_mm_movemask_epi8(continuation)) & 0xFFFF) >> 1 & before;
        __m128i valuesLow = _mm_unpacklo_epi8(low, high);
        __m128i valuesHigh = _mm_unpackhi_epi8(low, high);
        if (fours != 0) {
            // Third byte: D800 + (code point >> 10) - 0x40, the code point >>
            // 10 being payload2 << 8 | payload1 << 2 | payload >> 4. Last
            // byte: DC00 | the low ten bits of the value.
            const __m128i third = _mm_slli_si128(fourLeads, 2);
            const __m128i last = _mm_slli_si128(fourLeads, 3);
            const __m128i planeLow = _mm_or_si128(_mm_slli_epi16(payload1, 2),
                                                  _mm_and_si128(_mm_srli_epi16(payload, 4), bytesOf(0x0F)));
            low = _mm_or_si128(_mm_and_si128(third, planeLow), _mm_andnot_si128(third, low));
            high = _mm_or_si128(
                _mm_or_si128(_mm_and_si128(third, payload2),
                             _mm_and_si128(last, _mm_or_si128(_mm_and_si128(high, bytesOf(0x03)), bytesOf(0xDC)))),
                _mm_andnot_si128(_mm_or_si128(third, last), high));
            const __m128i base = _mm_set1_epi16(static_cast<short>(0xD7C0));
            valuesLow = _mm_add_epi16(_mm_unpacklo_epi8(low, high),
                                      _mm_and_si128(_mm_unpacklo_epi8(third, third), base));
            valuesHigh = _mm_add_epi16(_mm_unpackhi_epi8(low, high),
                                       _mm_and_si128(_mm_unpackhi_epi8(third, third), base));
            keep |= fours << 2;
        }
        StoreSelected(write, valuesLow, keep & 0xFF);
        StoreSelected(write, valuesHigh, keep >> 8);
        read += taken;
    }
    readAt = read;
    writeAt = write;
    return wellFormed;
}
#endif

} // namespace

bool ConvertUtf16ToUtf8(std::string& out, const char16_t* source, size_t length)
{
    if (source == nullptr) {
        out.clear();
        return true;
    }
    const char16_t* read = source;
    const char16_t* const end = source + EffectiveLength(source, length);
    // At most three bytes per unit (a pair gives four bytes for two units).
    // Room the string already has is written over, not cleared first, and it
    // grows to that bound only when the rest may not fit: converting into the
    // same string again fills no more than a short stretch near the end.
    size_t written = 0;
#if TEXT_CONVERSION_SHUFFLE
    const bool shuffle = UseShuffle();
#endif
    for (;;) {
        const size_t readLeft = static_cast<size_t>(end - read);
        if (readLeft <= kReadMargin)
            break;
        const size_t roomLeft = out.size() - written;
        const size_t fit = roomLeft > kStoreMargin ? (roomLeft - kStoreMargin) / 3 : 0;
        if (fit < readLeft - kReadMargin && fit < kShortStretch) {
            out.resize(written + readLeft * 3 + kStoreMargin);
            continue;
        }
        const char16_t* const stop = read + std::min(readLeft - kReadMargin, fit);
        char* write = out.data() + written;
#if TEXT_CONVERSION_SHUFFLE
        if (shuffle)
            ShuffleStretch(read, write, stop, source);
        else
#endif
            EncodeStretch(read, write, stop, end);
        written = static_cast<size_t>(write - out.data());
    }
    // The last units, each checked against the end; first the end of a pair
    // the blocks split.
    const size_t readLeft = static_cast<size_t>(end - read);
    if (out.size() - written < readLeft * 3)
        out.resize(written + readLeft * 3);
    char* write = out.data() + written;
    if (read != source && read != end && (read[-1] & 0xFC00) == 0xD800 && (read[0] & 0xFC00) == 0xDC00) {
        *write++ = static_cast<char>(0x80 | (read[-1] & 0x3) << 4 | (read[0] >> 6 & 0xF));
        *write++ = static_cast<char>(0x80 | (read[0] & 0x3F));
        ++read;
    }
    while (read < end)
        EncodeUnit(read, write, end);
    out.resize(static_cast<size_t>(write - out.data()));
    return true;
}

bool ConvertUtf8ToUtf16(std::u16string& out, const char* source, size_t length)
{
    if (source == nullptr) {
        out.clear();
        return true;
    }
    const auto* read = reinterpret_cast<const unsigned char*>(source);
    const unsigned char* const end = read + EffectiveLength(read, length);
    // At most one unit per byte (four bytes give at most two units). Room the
    // string already has is written over, not cleared first, and it grows to
    // that bound only when the rest may not fit: converting into the same
    // string again fills no more than a short stretch near the end.
    bool wellFormed = true;
    size_t written = 0;
#if TEXT_CONVERSION_SHUFFLE
    const bool shuffle = UseShuffle();
#endif
    for (;;) {
        const size_t readLeft = static_cast<size_t>(end - read);
        if (readLeft <= kReadMargin)
            break;
        const size_t roomLeft = out.size() - written;
        const size_t fit = roomLeft > kStoreMargin ? roomLeft - kStoreMargin : 0;
        if (fit < readLeft - kReadMargin && fit < kShortStretch) {
            out.resize(written + readLeft + kStoreMargin);
            continue;
        }
        const unsigned char* const stop = read + std::min(readLeft - kReadMargin, fit);
        char16_t* write = out.data() + written;
#if TEXT_CONVERSION_SHUFFLE
        if (shuffle)
            wellFormed &= ShuffleDecodeStretch(read, write, stop);
        else
#endif
            wellFormed &= DecodeStretch(read, write, stop);
        written = static_cast<size_t>(write - out.data());
    }
    // The last bytes, each sequence checked against the end.
    const size_t readLeft = static_cast<size_t>(end - read);
    if (out.size() - written < readLeft)
        out.resize(written + readLeft);
    char16_t* write = out.data() + written;
    while (read < end)
        wellFormed &= DecodeSequence(read, write, end);
    out.resize(static_cast<size_t>(write - out.data()));
    return wellFormed;
}

void AllowByteShuffle(bool allowed)
{
#if TEXT_CONVERSION_SHUFFLE
    shuffleAllowed.store(allowed, std::memory_order_relaxed);
#else
    (void)allowed;
#endif
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
