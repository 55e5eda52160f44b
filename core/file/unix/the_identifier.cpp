#include "core/file/unix/the_identifier.h"

#include <atomic>
#include <cstring>
#include <new>

struct the_identifier::block
{
    std::atomic<uint64_t> count;
    const unsigned char* extra;
    // The name follows the header: units and a NUL, then the extra bytes.
    char16_t* Name() noexcept { return reinterpret_cast<char16_t*>(this + 1); }
};

namespace {

static_assert(sizeof(the_identifier::block) % alignof(char16_t) == 0);

// The shared block of every identifier with an empty name and no extra bytes.
// Its count starts at 1, so it is never freed.
struct EmptyBlock
{
    the_identifier::block header;
    char16_t name[1];
};

EmptyBlock g_emptyBlock{{{1}, nullptr}, {0}};

void FreeBlock(the_identifier::block* shared) noexcept
{
    shared->~block();
    ::operator delete(static_cast<void*>(shared));
}

} // namespace

the_identifier::the_identifier(const char16_t* name, const void* extra, uint32_t extraLength)
{
    static const char16_t kEmpty[] = {0};
    if (!name)
        name = kEmpty;
    size_t units = 0;
    while (name[units])
        ++units;
    if (units == 0 && extraLength == 0) {
        g_emptyBlock.header.count.fetch_add(1, std::memory_order_relaxed);
        m_block = &g_emptyBlock.header;
        return;
    }
    const size_t nameBytes = (units + 1) * sizeof(char16_t);
    void* memory = ::operator new(sizeof(block) + nameBytes + extraLength);
    block* shared = new (memory) block{{1}, nullptr};
    std::memcpy(shared->Name(), name, nameBytes);
    if (extraLength > 0) {
        unsigned char* bytes = reinterpret_cast<unsigned char*>(shared->Name()) + nameBytes;
        std::memcpy(bytes, extra, extraLength);
        shared->extra = bytes;
    }
    m_block = shared;
}

the_identifier::~the_identifier()
{
    if (m_block->count.fetch_sub(1, std::memory_order_acq_rel) == 1)
        FreeBlock(m_block);
}

file_identifier* the_identifier::Clone() const
{
    the_identifier* clone = new (std::nothrow) the_identifier(m_block);
    if (clone)
        m_block->count.fetch_add(1, std::memory_order_relaxed);
    return clone;
}

const char16_t* the_identifier::GetName() const noexcept
{
    return m_block->Name();
}

const void* the_identifier::GetExtra() const noexcept
{
    return m_block->extra;
}

uint64_t the_identifier::GetShareCount() const noexcept
{
    return m_block->count.load(std::memory_order_relaxed);
}

const char* GetIdentifierNativeName(const file_identifier* id) noexcept
{
    const the_identifier* own = dynamic_cast<const the_identifier*>(id);
    return own ? own->GetNativeName() : nullptr;
}
