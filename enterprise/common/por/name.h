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

#include <array>
#include <bit>
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
    constexpr Name(const char (&literal)[N]) noexcept : m_text(literal)
    {
        const auto hash = std::bit_cast<std::array<char, sizeof(uint64_t)>>(ComputeNameHash(literal, int(N)));
        for (size_t i = 0; i < hash.size(); ++i)
            m_storage[i] = hash[i];
        m_storage[kKindByte] = kLiteral;
    }

    // A writable char array is a buffer, not a literal: borrowing it would
    // leave the name (and every copy of it) pointing into storage that
    // changes or dies. Make such names from a std::string_view.
    template <size_t N>
    Name(char (&buffer)[N]) = delete;

    // From runtime text (UTF-8, or UTF-16 converted to UTF-8): the name owns
    // a copy; hash 0. A literal argument still takes the literal constructor.
    // Texts of up to 15 bytes are held inside the name; longer ones take one
    // allocation.
    explicit Name(std::string_view utf8);
    explicit Name(std::u16string_view utf16);

    // The empty runtime name.
    Name() noexcept : m_text(m_storage) {}

    Name(const Name& other) : m_text(other.m_text)
    {
        std::memcpy(m_storage, other.m_storage, sizeof m_storage);
        if (GetKind() == kInline)
            m_text = m_storage;
        else if (GetKind() == kHeap)
            Own(other.m_text, std::strlen(other.m_text));
    }

    // The source keeps a literal; an owning source is left the empty runtime
    // name.
    Name(Name&& other) noexcept : m_text(other.m_text)
    {
        std::memcpy(m_storage, other.m_storage, sizeof m_storage);
        TakeOver(other);
    }

    Name& operator=(const Name& other);
    Name& operator=(Name&& other) noexcept;

    constexpr ~Name()
    {
        if (GetKind() == kHeap)
            delete[] m_text;
    }

    const char* GetText() const noexcept { return m_text; }
    uint64_t GetHash() const noexcept
    {
        uint64_t hash = 0;
        if (GetKind() == kLiteral)
            std::memcpy(&hash, m_storage, sizeof hash);
        return hash;
    }
    bool OwnsText() const noexcept { return GetKind() != kLiteral; }

    // The UTF-16 form of the text (for message arguments).
    std::u16string ToUtf16() const;

    friend bool operator==(const Name& a, const Name& b) noexcept { return std::strcmp(a.m_text, b.m_text) == 0; }
    friend bool operator<(const Name& a, const Name& b) noexcept { return std::strcmp(a.m_text, b.m_text) < 0; }

private:
    // The longest owned text held inside the name.
    static constexpr size_t kInlineLength = 15;

    // What m_storage holds, told by its last byte:
    // - kInline: the owned text and its NUL; m_text points at m_storage. The
    //   kind byte is 0, so it is also the NUL of a text of kInlineLength bytes.
    // - kHeap: nothing else; m_text points at an owned new[] copy.
    // - kLiteral: the hash in its first bytes; m_text points at the literal.
    static constexpr size_t kKindByte = kInlineLength;
    static constexpr char kInline = 0;
    static constexpr char kHeap = 1;
    static constexpr char kLiteral = 2;

    constexpr char GetKind() const noexcept { return m_storage[kKindByte]; }

    // Makes this name own a copy of `length` bytes of `text` plus a NUL,
    // inline or on the heap; changes nothing if the allocation throws. A heap
    // text this name held before is the caller's to release.
    void Own(const char* text, size_t length);

    // After m_text and m_storage were copied from `other`: points m_text at
    // this name's own storage where the text is inline, and leaves an owning
    // `other` the empty name.
    void TakeOver(Name& other) noexcept
    {
        if (GetKind() == kLiteral)
            return;
        if (GetKind() == kInline)
            m_text = m_storage;
        other.m_storage[0] = 0;
        other.m_storage[kKindByte] = kInline;
        other.m_text = other.m_storage;
    }

    const char* m_text;      // the literal, m_storage, or the heap copy
    char m_storage[16] = {}; // see GetKind
};

static_assert(sizeof(Name) <= 24, "a pointer and 16 bytes");

// strcmp of the two texts (bytes compared as unsigned).
inline int CompareNames(const Name& a, const Name& b) noexcept
{
    return std::strcmp(a.GetText(), b.GetText());
}

} // namespace Por
