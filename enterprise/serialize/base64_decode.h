// Base64 decoding of element texts (UTF-16, or bytes each one character) through a 128-entry class table
// that maps each character code to its 6-bit value (0-63) or to one of the
// classes below. White space may stand anywhere, the fill "=" ends the data.
//
// Threading: free function and constant data; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Serialization {

inline constexpr uint8_t kBase64Invalid = 64; // not part of a Base64 text
inline constexpr uint8_t kBase64Skip = 65;    // TAB, LF, CR and blank: skipped anywhere
inline constexpr uint8_t kBase64Fill = 66;    // "="

namespace Detail {
constexpr std::array<uint8_t, 128> MakeBase64ClassTable()
{
    std::array<uint8_t, 128> table{};
    for (auto& entry : table)
        entry = kBase64Invalid;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t value = 0; value < 64; ++value)
        table[static_cast<unsigned char>(alphabet[value])] = value;
    table['\t'] = kBase64Skip;
    table['\n'] = kBase64Skip;
    table['\r'] = kBase64Skip;
    table[' '] = kBase64Skip;
    table['='] = kBase64Fill;
    return table;
}
} // namespace Detail

// The standard alphabet "A"-"Z", "a"-"z", "0"-"9", "+", "/" with the classes
// above; pass kBase64ClassTable.data() to DecodeBase64.
inline constexpr std::array<uint8_t, 128> kBase64ClassTable = Detail::MakeBase64ClassTable();

// Largest number of bytes that a text of `length` units can decode to, and
// that DecodeBase64 may write for it.
inline constexpr size_t Base64DecodedCapacity(size_t length)
{
    return (3 * length + 6) / 4;
}

// Decodes [begin, end) into `out`, which has room for
// Base64DecodedCapacity(end - begin) bytes. Returns the pointer just past the
// last byte written, or null for a text that is not valid Base64 (a character
// above U+007F or outside the table's classes, a fill after fewer than two
// characters of a group, a single fill after two, anything but white space
// after the fill, or a group cut short without fill). An empty text decodes to
// no bytes.
uint8_t* DecodeBase64(uint8_t* out, const char16_t* begin, const char16_t* end, const uint8_t* table);
// The same over bytes, each taken as one character (U+0000-U+00FF).
uint8_t* DecodeBase64(uint8_t* out, const char* begin, const char* end, const uint8_t* table);

// The number of bytes that DecodeBase64 would write for [begin, end), or
// false for a text it refuses; nothing is written.
bool MeasureBase64(const char16_t* begin, const char16_t* end, const uint8_t* table, uint64_t& size);
bool MeasureBase64(const char* begin, const char* end, const uint8_t* table, uint64_t& size);

// Decodes a text that MeasureBase64 accepted from its start, any number of
// bytes at a time, so that no whole copy of the bytes need be held.
template <typename Unit>
class Base64Stream
{
public:
    Base64Stream(const Unit* begin, const Unit* end, const uint8_t* table) noexcept
        : m_next(begin), m_end(end), m_table(table)
    {
    }

    // The next `count` bytes into `out`; fewer (the number is returned) only
    // where the data ends.
    size_t Read(uint8_t* out, size_t count);

private:
    // Decodes the next group (3 bytes, or the 1 or 2 of the last one) into `out`.
    unsigned NextGroup(uint8_t* out);

    const Unit* m_next;
    const Unit* m_end;
    const uint8_t* m_table;
    uint8_t m_pending[3] = {};
    unsigned m_held = 0;
    unsigned m_heldCount = 0;
};

extern template class Base64Stream<char>;
extern template class Base64Stream<char16_t>;

} // namespace Serialization
