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

// The text of a packet as it is written: its bytes lie in a byte vector that
// grows by doubling and whose room past the text is kept, so that appending
// stays inline, and the finished text can be handed over as that vector.
// Bytes a resize adds are unspecified until they are written.
class PacketText
{
public:
    size_t size() const noexcept { return m_used; }
    size_t capacity() const noexcept { return m_bytes.size(); }
    size_t max_size() const noexcept { return m_bytes.max_size(); }
    char* data() noexcept { return reinterpret_cast<char*>(m_bytes.data()); }
    const char* data() const noexcept { return reinterpret_cast<const char*>(m_bytes.data()); }

    void reserve(size_t size)
    {
        if (size > m_bytes.size())
            m_bytes.resize(size);
    }
    void resize(size_t size)
    {
        if (size > m_bytes.size())
            m_bytes.resize(std::max(size, 2 * m_bytes.size()));
        m_used = size;
    }
    void push_back(char c)
    {
        if (m_used == m_bytes.size())
            m_bytes.resize(std::max<size_t>(64, 2 * m_bytes.size()));
        m_bytes[m_used++] = static_cast<unsigned char>(c);
    }
    void append(const char* text, size_t length)
    {
        const size_t start = m_used;
        resize(start + length);
        if (length != 0)
            std::memcpy(m_bytes.data() + start, text, length);
    }
    void clear() noexcept { m_used = 0; }
    void swap(PacketText& other) noexcept
    {
        m_bytes.swap(other.m_bytes);
        std::swap(m_used, other.m_used);
    }
    // Hands the text over as `out`, without a copy; the text is then empty
    // and has no room.
    void TakeInto(std::vector<unsigned char>& out)
    {
        m_bytes.resize(m_used);
        out.swap(m_bytes);
        std::vector<unsigned char>().swap(m_bytes);
        m_used = 0;
    }

private:
    std::vector<unsigned char> m_bytes; // the text, then room
    size_t m_used = 0;
};

void AppendXmlText(PacketText& out, const char* text, size_t length);
void AppendXmlText(PacketText& out, const char16_t* text, size_t length);

} // namespace Serialization::Detail
