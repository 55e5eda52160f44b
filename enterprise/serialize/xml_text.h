// The text rules of the XML packet: how a value text becomes element content
// that survives the white-space normalisation of the packet reader (which
// drops white space next to tags and merges runs of it outside CDATA, and
// drops CR inside CDATA).
//
// A text that holds an LF, no "]]>" and only TAB, LF and characters from
// U+0020 on (for UTF-16 also: no lone surrogate, no U+FFFE/U+FFFF) becomes one
// CDATA section with every LF written as CR LF. Any other text is written with
// references: controls (and, in UTF-16, lone surrogates and U+FFFE/U+FFFF) as
// "&#N;", "<" as "&lt;", "&" as "&amp;", a blank as "&#32;" unless it follows a
// character other than a plain blank and is not the last character; all else
// in UTF-8. 8-bit text is taken as Latin-1 (each byte one character).
//
// Threading: free functions without state.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace Serialization::Detail {

// Appends the content form of the text to `out`; an empty text appends nothing.
void AppendXmlText(std::string& out, const char* text, size_t length);
void AppendXmlText(std::string& out, const char16_t* text, size_t length);

// The text of a packet as it is written, held in a byte vector: the text is
// the vector's size, the room for more its capacity, which grows by doubling.
// Room not yet written is never touched: a large fresh allocation costs
// resident memory only as the text fills it, and a growth copies the text
// alone. Appending stays inline. The finished text is handed over as that
// vector, its room with it.
class PacketText
{
public:
    size_t size() const noexcept { return m_bytes.size(); }
    size_t capacity() const noexcept { return m_bytes.capacity(); }
    size_t max_size() const noexcept { return m_bytes.max_size(); }
    char* data() noexcept { return reinterpret_cast<char*>(m_bytes.data()); }
    const char* data() const noexcept { return reinterpret_cast<const char*>(m_bytes.data()); }

    // Room for `size` bytes in all, exactly (no doubling); never shrinks.
    void reserve(size_t size) { m_bytes.reserve(size); }
    // A larger size zeroes the bytes it adds, which costs a pass over them
    // and touches them: callers size the text to what they write right
    // after, or cut it back to what they wrote.
    [[gnu::flatten]] void resize(size_t size)
    {
        if (size > m_bytes.capacity())
            Grow(size);
        if (size > m_bytes.size())
            AssumeRoom(size - m_bytes.size());
        m_bytes.resize(size);
    }
    [[gnu::flatten]] void push_back(char c)
    {
        if (m_bytes.size() == m_bytes.capacity())
            Grow(m_bytes.size() + 1);
        AssumeRoom(1);
        m_bytes.push_back(static_cast<unsigned char>(c));
    }
    // Copies the text once into the room behind the text (no zeroing first).
    [[gnu::flatten]] void append(const char* text, size_t length)
    {
        if (length > m_bytes.capacity() - m_bytes.size())
            Grow(m_bytes.size() + length);
        AssumeRoom(length);
        const auto* bytes = reinterpret_cast<const unsigned char*>(text);
        m_bytes.insert(m_bytes.end(), bytes, bytes + length);
    }
    void clear() noexcept { m_bytes.clear(); }
    void swap(PacketText& other) noexcept { m_bytes.swap(other.m_bytes); }
    // Hands the text over as `out` (its room with it), without a copy; the
    // text is then empty and has no room.
    void TakeInto(std::vector<unsigned char>& out)
    {
        out.swap(m_bytes);
        std::vector<unsigned char>().swap(m_bytes);
    }

private:
    // Room for at least `size` bytes and at least twice the room so far.
    void Grow(size_t size);
    // Tells the compiler that `length` bytes fit behind the text, in the
    // terms the vector checks them in: its growing paths then drop out of
    // the flattened members above, which come down to a store or a copy
    // and a new end, inline where the packet is written.
    [[gnu::always_inline]] void AssumeRoom(size_t length) const
    {
        const unsigned char* end = m_bytes.data() + m_bytes.size();
        const unsigned char* roomEnd = m_bytes.data() + m_bytes.capacity();
        if (static_cast<size_t>(roomEnd - end) < length)
            __builtin_unreachable();
    }

    std::vector<unsigned char> m_bytes; // the text; the room is its capacity
};

void AppendXmlText(PacketText& out, const char* text, size_t length);
void AppendXmlText(PacketText& out, const char16_t* text, size_t length);

} // namespace Serialization::Detail
