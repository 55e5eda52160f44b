// the_identifier: the file identifier of the POSIX implementation. It names a
// directory entry by its UTF-16 name and carries extra bytes, in this system
// the entry's native name with its NUL, which the directory operations use.
//
// The name and the extra bytes live in one block shared by reference count
// between an identifier and its clones; the block never changes after it is
// made. Every identifier with an empty name and no extra bytes shares one
// static block that is never freed.
//
// Threading: identifiers sharing a block may live on different threads; the
// count changes atomically. One identifier object is used by one thread at a
// time.
#pragma once

#include <cstdint>

#include "core/include/file/dir.h"

class the_identifier : public file_identifier
{
public:
    struct block;

    // `name` may be null (the empty name); `extra` holds `extraLength` bytes.
    // Allocation failure throws std::bad_alloc.
    the_identifier(const char16_t* name, const void* extra, uint32_t extraLength);
    ~the_identifier() override;
    the_identifier(const the_identifier&) = delete;
    the_identifier& operator=(const the_identifier&) = delete;

    // A new identifier sharing the block; null when it cannot be allocated.
    file_identifier* Clone() const override;

    // The name (never null; empty for the empty name).
    const char16_t* GetName() const noexcept;
    // The extra bytes, or null when there are none.
    const void* GetExtra() const noexcept;
    // The extra bytes read as a native name, or null when there are none.
    const char* GetNativeName() const noexcept { return static_cast<const char*>(GetExtra()); }

    // True when both identifiers share one block (tests and diagnostics).
    bool SharesBlockWith(const the_identifier& other) const noexcept { return m_block == other.m_block; }
    // The number of identifiers sharing this identifier's block.
    uint64_t GetShareCount() const noexcept;

private:
    explicit the_identifier(block* shared) noexcept : m_block(shared) {}

    block* m_block;
};

// The native name an identifier carries: the extra bytes of a the_identifier,
// or null for a null identifier, another kind, or one without extra bytes.
const char* GetIdentifierNativeName(const file_identifier* id) noexcept;
