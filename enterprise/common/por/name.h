// Por::Name: the name of a trait or a property.
//
// A name points at its NUL-terminated UTF-8 text. A name made from a string
// literal (or other text that outlives it) points at that text, owns nothing
// and carries Por::ComputeNameHash over the text and its NUL; a name made from
// runtime text owns a copy and carries hash 0. Copies of a name that owns its
// text own their own copy; copies of any other name share the pointer, so a
// literal name is copied without allocating.
//
// Names are equal and ordered by strcmp of their texts only; the hash takes no
// part in any comparison.
//
// Threading: a name is a value; distinct names may be used on distinct threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace Por {

// h ^= (h << 6) + (h >> 2) + 0x9E3779B9 + byte over `length` bytes, taken as
// unsigned, modulo 2^64. Callers pass the length including the NUL.
constexpr uint64_t ComputeNameHash(const char* text, int length)
{
    uint64_t hash = 0;
    for (int i = 0; i < length; ++i)
        hash ^= (hash << 6) + (hash >> 2) + 0x9E3779B9ull + static_cast<unsigned char>(text[i]);
    return hash;
}

class Name
{
public:
    // From a string literal of N bytes (letters and NUL): no copy.
    template <size_t N>
    constexpr Name(const char (&literal)[N]) noexcept : m_text(literal), m_hash(ComputeNameHash(literal, int(N)))
    {
    }

    // A writable char array is a buffer, not a literal: borrowing it would
    // leave the name (and every copy of it) pointing into storage that
    // changes or dies. Make such names from a std::string_view.
    template <size_t N>
    Name(char (&buffer)[N]) = delete;

    // From runtime text (UTF-8, or UTF-16 converted to UTF-8): the name owns
    // a copy; hash 0. A literal argument still takes the literal constructor.
    explicit Name(std::string_view utf8);
    explicit Name(std::u16string_view utf16);

    // The empty runtime name.
    Name() noexcept : m_text(m_owned.c_str()) {}

    Name(const Name& other);
    Name(Name&& other) noexcept;
    Name& operator=(const Name& other);
    Name& operator=(Name&& other) noexcept;
    ~Name() = default;

    const char* GetText() const noexcept { return m_text; }
    uint64_t GetHash() const noexcept { return m_hash; }
    bool OwnsText() const noexcept { return m_text == m_owned.c_str(); }

    // The UTF-16 form of the text (for message arguments).
    std::u16string ToUtf16() const;

    friend bool operator==(const Name& a, const Name& b) noexcept { return std::strcmp(a.m_text, b.m_text) == 0; }
    friend bool operator<(const Name& a, const Name& b) noexcept { return std::strcmp(a.m_text, b.m_text) < 0; }

private:
    std::string m_owned; // used only when the name owns its text
    const char* m_text;  // the literal, or m_owned.c_str()
    uint64_t m_hash = 0;
};

// strcmp of the two texts (bytes compared as unsigned).
inline int CompareNames(const Name& a, const Name& b) noexcept
{
    return std::strcmp(a.GetText(), b.GetText());
}

} // namespace Por
