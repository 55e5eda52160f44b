#include "core/xml/xml_tag.h"

#include <algorithm>
#include <new>
#include <type_traits>

namespace {

// First block of a store made on demand, and the smallest one asked for.
constexpr size_t kMinimumStoreBlock = 4096;

// Blocks of document stores, kept by the thread that gave them back for the
// next store it makes: a load after a load then writes to memory that is
// already mapped. Sizes are rounded up to powers of two from 64 KiB, so that
// a block fits any later request of its class; a thread keeps up to
// kKeptBlocks blocks of together at most kKeptBytes. A block may be given back
// on another thread than the one that took it: it goes to the cache of the
// thread at hand. Once the thread's cache has been emptied (the thread is
// ending), blocks go straight back to the heap. The cache itself is never
// destroyed, so that it may be asked at any point of the thread's end.
class BlockCache
{
public:
    static constexpr size_t kSmallestClass = 16; // 64 KiB
    static constexpr size_t kLargestClass = 24;  // 16 MiB; larger blocks are not kept
    static constexpr size_t kKeptBytes = size_t{16} << 20;
    static constexpr size_t kKeptBlocks = 8;

    void Empty() noexcept
    {
        for (size_t i = 0; i < m_count; ++i)
            ::operator delete(m_blocks[i]);
        m_count = 0;
        m_keptBytes = 0;
        m_gone = true;
    }

    static size_t ClassOf(size_t bytes)
    {
        size_t sizeClass = kSmallestClass;
        while (sizeClass <= kLargestClass && (size_t{1} << sizeClass) < bytes)
            ++sizeClass;
        return sizeClass;
    }

    void* Take(size_t sizeClass) noexcept
    {
        for (size_t i = m_count; i-- > 0;) {
            if (m_classes[i] != sizeClass)
                continue;
            void* block = m_blocks[i];
            --m_count;
            m_blocks[i] = m_blocks[m_count];
            m_classes[i] = m_classes[m_count];
            m_keptBytes -= size_t{1} << sizeClass;
            return block;
        }
        return nullptr;
    }

    // True when the block is kept.
    bool Keep(void* block, size_t sizeClass) noexcept
    {
        const size_t bytes = size_t{1} << sizeClass;
        if (m_gone || m_count == kKeptBlocks || m_keptBytes + bytes > kKeptBytes)
            return false;
        m_blocks[m_count] = block;
        m_classes[m_count] = sizeClass;
        ++m_count;
        m_keptBytes += bytes;
        return true;
    }

private:
    void* m_blocks[kKeptBlocks] = {};
    size_t m_classes[kKeptBlocks] = {};
    size_t m_count = 0;
    size_t m_keptBytes = 0;
    bool m_gone = false;
};

static_assert(std::is_trivially_destructible_v<BlockCache>);

thread_local BlockCache t_blockCache;

// Empties the thread's cache when the thread ends.
struct BlockCacheEnd
{
    ~BlockCacheEnd() { t_blockCache.Empty(); }
};

thread_local BlockCacheEnd t_blockCacheEnd;

// The upstream of every document store: blocks from the heap through the
// calling thread's cache. It holds no state of its own.
class CachedBlocks final : public std::pmr::memory_resource
{
    void* do_allocate(size_t bytes, size_t alignment) override
    {
        const size_t sizeClass = BlockCache::ClassOf(bytes);
        if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__)
            return ::operator new(bytes, std::align_val_t(alignment));
        if (sizeClass > BlockCache::kLargestClass)
            return ::operator new(bytes);
        if (void* block = t_blockCache.Take(sizeClass))
            return block;
        return ::operator new (size_t{1} << sizeClass);
    }

    void do_deallocate(void* block, size_t bytes, size_t alignment) override
    {
        if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
            ::operator delete(block, std::align_val_t(alignment));
            return;
        }
        const size_t sizeClass = BlockCache::ClassOf(bytes);
        static_cast<void>(&t_blockCacheEnd); // the thread's end empties what is kept
        if (sizeClass <= BlockCache::kLargestClass && t_blockCache.Keep(block, sizeClass))
            return;
        ::operator delete(block);
    }

    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

} // namespace

// The store of one document; it notes when an element from the heap is put
// below one of its elements, so that only then its release walks the tree.
class xml_tag::DocumentStore final : public std::pmr::monotonic_buffer_resource
{
public:
    DocumentStore(size_t firstBlock, std::pmr::memory_resource* upstream)
        : std::pmr::monotonic_buffer_resource(firstBlock, upstream)
    {
    }

    bool holdsHeapElements = false;
};

namespace {

std::pmr::memory_resource* StoreUpstream()
{
    static CachedBlocks upstream;
    return &upstream;
}

} // namespace

xml_tag::xml_tag() : Text(1)
{
}

xml_tag::xml_tag(std::string_view tagName, xml_tag* parentTag) : name(tagName), Text(1), parent(parentTag)
{
}

xml_tag::xml_tag(std::string_view tagName, std::pmr::memory_resource* store)
    : name(tagName, store), attributes(store), children(store), Text(1, store), m_inStore(true)
{
}

xml_tag::~xml_tag()
{
    free_xml_tag(this);
}

void xml_tag::InsertChild(size_t position, xml_tag* child)
{
    if (position > Text.size())
        position = Text.size();
    size_t index = position == 0 ? 0 : position - 1;
    if (index > children.size())
        index = children.size();
    // Room for the new piece first (growing geometrically), so that nothing
    // can fail once the child has been inserted.
    if (Text.size() == Text.capacity())
        Text.reserve(Text.size() * 2 + 3);
    // An element that gets one child usually gets several.
    if (children.capacity() < Text.capacity() - 1)
        children.reserve(Text.capacity() - 1);
    if (position == Text.size()) {
        // Appending, as the readers do.
        children.push_back(child);
        Text.emplace_back();
    } else {
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(index), child);
        Text.emplace(Text.begin() + static_cast<std::ptrdiff_t>(position));
    }
    child->parent = this;
    if (m_inStore && !child->m_inStore)
        static_cast<DocumentStore*>(children.get_allocator().resource())->holdsHeapElements = true;
}

void xml_tag::UseDocumentStore(size_t sizeHint)
{
    if (m_store == nullptr)
        m_store = std::make_unique<DocumentStore>(std::max(sizeHint, kMinimumStoreBlock), StoreUpstream());
}

xml_tag* xml_tag::NewElement(std::string_view tagName)
{
    std::pmr::memory_resource* store = m_inStore ? children.get_allocator().resource() : nullptr;
    if (store == nullptr) {
        UseDocumentStore(kMinimumStoreBlock);
        store = m_store.get();
    }
    void* memory = store->allocate(sizeof(xml_tag), alignof(xml_tag));
    return ::new (memory) xml_tag(tagName, store);
}

void free_xml_tag(xml_tag* tag)
{
    if (tag == nullptr)
        return;
    // Detach every descendant before deleting it, so that no destructor
    // recurses however deep the tree is. The store takes back the memory of
    // its elements as a whole; they are walked through only when elements
    // from the heap hang below them.
    const bool walkStore = tag->m_store == nullptr || tag->m_store->holdsHeapElements;
    std::vector<xml_tag*> pending(tag->children.begin(), tag->children.end());
    tag->children.clear();
    while (!pending.empty()) {
        xml_tag* child = pending.back();
        pending.pop_back();
        if (child == nullptr)
            continue;
        if (walkStore || !child->m_inStore)
            pending.insert(pending.end(), child->children.begin(), child->children.end());
        if (child->m_inStore)
            continue;
        child->children.clear();
        delete child;
    }
    tag->children.shrink_to_fit();
    tag->Text.clear();
    tag->Text.shrink_to_fit();
    tag->attributes.clear();
    tag->name.clear();
    tag->name.shrink_to_fit();
    tag->m_store.reset();
}
