// Utils::UnitConstructionParser: the cursor of one text-notation read over its
// UTF-16 text (one code unit per input byte).
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
#include <string>
#include <string_view>

#include "core/common/guid.h"

namespace Utils {

class UnitConstructionParser
{
public:
    explicit UnitConstructionParser(const std::u16string& text) noexcept
        : m_text(text.data()), m_position(0), m_end(text.size())
    {
    }

    bool AtEnd() const noexcept { return m_position >= m_end; }
    size_t GetPosition() const noexcept { return m_position; }
    // The text between two positions.
    std::u16string Slice(size_t from, size_t to) const { return std::u16string(m_text + from, m_text + to); }
    std::u16string_view View(size_t from, size_t to) const noexcept
    {
        return std::u16string_view(m_text + from, to - from);
    }
    void MoveTo(size_t position) noexcept { m_position = position; }
    // Steps over one character; at the end fails with error 2.
    void Skip();

    // The current character; at the end fails with error 1.
    char16_t GetInput() const;
    void SkipBlanks() noexcept;
    // The position of the first character from the current one on that
    // satisfies `predicate`; error 2 when none does. The cursor stays.
    template <typename Predicate>
    size_t GetNext(Predicate predicate) const
    {
        for (size_t position = m_position; position < m_end; ++position) {
            if (predicate(m_text[position]))
                return position;
        }
        ThrowNotFound();
    }

    std::u16string TakeToken();
    std::u16string TakeQuotedText();
    uint64_t TakeQwordValue();
    uint64_t TakeSQwordValue();
    Common::Guid TakeGuid();

    static bool IsBlank(char16_t c) noexcept { return c == u' ' || c == u'\r' || c == u'\n' || c == u'\t'; }
    static bool IsNameCharacter(char16_t c) noexcept
    {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'-' ||
            c == u'_';
    }

private:
    [[noreturn]] static void ThrowNotFound();

    const char16_t* m_text;
    size_t m_position;
    size_t m_end;
};

} // namespace Utils
