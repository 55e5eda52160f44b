// Utils::UnitConstructionParser: the cursor of one text-notation read over
// its text, one character per input byte (characters U+0000-U+00FF). The
// cursor works on the bytes where they lie: tokens and quoted texts are
// handed out as views into them, valid as long as the bytes.
//
// Failures are Common::Error with bare codes: 1 "Input is over!" (GetInput at
// the end), 2 "Expected symbol is not found!" (GetNext finds nothing before the
// end), 3 "Cannot convert '{0}' to qword.", 7 "Cannot convert '{0}' to
// Common::Guid.", 8 "Cannot convert '{0}' to sqword.". Nothing is read past the
// end of the text.
//
// Threading: one read's local.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/common/guid.h"

namespace Utils {

class UnitConstructionParser
{
public:
    UnitConstructionParser(const char* text, size_t size) noexcept
        : m_text(reinterpret_cast<const unsigned char*>(text)), m_position(0), m_end(size)
    {
    }

    bool AtEnd() const noexcept { return m_position >= m_end; }
    size_t GetPosition() const noexcept { return m_position; }
    // The text between two positions.
    std::string_view View(size_t from, size_t to) const noexcept
    {
        return std::string_view(reinterpret_cast<const char*>(m_text) + from, to - from);
    }
    void MoveTo(size_t position) noexcept { m_position = position; }
    // Steps over one character; at the end fails with error 2.
    void Skip()
    {
        if (AtEnd())
            ThrowNotFound();
        ++m_position;
    }

    // The current character; at the end fails with error 1.
    unsigned char GetInput() const
    {
        if (AtEnd())
            ThrowInputOver();
        return m_text[m_position];
    }
    void SkipBlanks() noexcept
    {
        while (m_position < m_end && IsBlank(m_text[m_position]))
            ++m_position;
    }
    // The position of the first `c` from the current character on; error 2
    // when there is none. The cursor stays.
    size_t GetNext(unsigned char c) const
    {
        // Statement names are short: a few characters are looked at one by
        // one before the search goes over the rest in blocks.
        const size_t near = m_position + 16 < m_end ? m_position + 16 : m_end;
        for (size_t position = m_position; position < near; ++position) {
            if (m_text[position] == c)
                return position;
        }
        const void* found = near == m_end ? nullptr : std::memchr(m_text + near, c, m_end - near);
        if (found == nullptr)
            ThrowNotFound();
        return static_cast<size_t>(static_cast<const unsigned char*>(found) - m_text);
    }

    // The run of name characters at the cursor (empty at a ")").
    std::string_view TakeToken();
    // The text between the quotes at the cursor (empty at a ")").
    std::string_view TakeQuotedText();
    uint64_t TakeQwordValue();
    uint64_t TakeSQwordValue();
    Common::Guid TakeGuid();

    static bool IsBlank(unsigned char c) noexcept { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }
    static bool IsNameCharacter(unsigned char c) noexcept
    {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
    }

private:
    [[noreturn]] static void ThrowNotFound();
    [[noreturn]] static void ThrowInputOver();

    const unsigned char* m_text;
    size_t m_position;
    size_t m_end;
};

// The characters of `text`, one UTF-16 unit per byte.
std::u16string WidenBytes(std::string_view text);
void WidenBytes(std::string_view text, std::u16string& out);

} // namespace Utils
