#include "core/xml/xml_tag.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "core/common/text_conversion.h"

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

// Blocks of document stores: from the calling thread's cache, else from the
// heap, rounded up to their size class when the class is kept.
void* TakeBlock(size_t& bytes)
{
    const size_t sizeClass = BlockCache::ClassOf(bytes);
    if (sizeClass > BlockCache::kLargestClass)
        return ::operator new(bytes);
    bytes = size_t{1} << sizeClass;
    if (void* block = t_blockCache.Take(sizeClass))
        return block;
    return ::operator new(bytes);
}

void GiveBlock(void* block, size_t bytes) noexcept
{
    const size_t sizeClass = BlockCache::ClassOf(bytes);
    static_cast<void>(&t_blockCacheEnd); // the thread's end empties what is kept
    if (sizeClass <= BlockCache::kLargestClass && (size_t{1} << sizeClass) == bytes &&
        t_blockCache.Keep(block, sizeClass))
        return;
    ::operator delete(block);
}

} // namespace

xml_tag::DocumentStore::~DocumentStore()
{
    while (m_blocks != nullptr) {
        Block* block = m_blocks;
        m_blocks = block->next;
        GiveBlock(block, block->size);
    }
}

const char* xml_tag::DocumentStore::Keep(const char* data, size_t size)
{
    char* copy = static_cast<char*>(Take(size));
    if (size != 0)
        std::memcpy(copy, data, size);
    Refer(copy, size);
    return copy;
}

void* xml_tag::DocumentStore::NewBlock(size_t bytes, bool own)
{
    // A block of the piece's own, or the next block to hand pieces out from,
    // twice the size of the one before.
    size_t size = own ? bytes + kBlockHeader : std::max(m_nextBlock, bytes + kBlockHeader);
    auto* block = static_cast<Block*>(TakeBlock(size));
    block->next = m_blocks;
    block->size = size;
    m_blocks = block;
    char* room = reinterpret_cast<char*>(block) + kBlockHeader;
    if (own)
        return room;
    m_cursor = room + bytes;
    m_end = reinterpret_cast<char*>(block) + size;
    m_nextBlock = size * 2;
    return room;
}

std::ostream& operator<<(std::ostream& out, const xml_name& name)
{
    return out << name.view();
}

std::u16string xml_text::str() const
{
    if (m_wide)
        return std::u16string(wide());
    std::u16string units(m_size, u'\0');
    const auto* bytes = static_cast<const unsigned char*>(m_data);
    for (size_t i = 0; i < m_size; ++i)
        units[i] = bytes[i];
    return units;
}

bool operator==(const xml_text& a, std::u16string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    if (a.m_wide)
        return a.wide() == b;
    const auto* bytes = static_cast<const unsigned char*>(a.m_data);
    for (size_t i = 0; i < b.size(); ++i) {
        if (bytes[i] != b[i])
            return false;
    }
    return true;
}

bool operator==(const xml_text& a, const xml_text& b) noexcept
{
    if (a.size() != b.size())
        return false;
    if (!a.m_wide && !b.m_wide)
        return a.narrow() == b.narrow();
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

std::ostream& operator<<(std::ostream& out, const xml_text& text)
{
    std::string utf8;
    const std::u16string units = text.str();
    (void)Common::ConvertUtf16ToUtf8(utf8, units.data(), units.size()); // lone surrogates become U+FFFD
    return out << utf8;
}

const xml_attribute* xml_attribute_list::find(std::string_view name) const noexcept
{
    size_t low = 0;
    size_t high = size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if ((*this)[middle].name.view() < name)
            low = middle + 1;
        else
            high = middle;
    }
    return low < size() && (*this)[low].name.view() == name ? &(*this)[low] : nullptr;
}

xml_tag::xml_tag(std::string_view tagName, xml_tag* parentTag) : xml_tag()
{
    name = CopyName(tagName);
    parent = parentTag;
}

xml_tag::~xml_tag()
{
    free_xml_tag(this);
}

void* xml_tag::Allocate(size_t bytes)
{
    if (DocumentStore* store = Store())
        return store->Take(bytes);
    return ::operator new(bytes);
}

void xml_tag::Release(const void* block, size_t bytes) noexcept
{
    // What a store handed out goes back with the store.
    if (bytes != 0 && Store() == nullptr)
        ::operator delete(const_cast<void*>(block));
}

void xml_tag::ReleaseName(const xml_name& text) noexcept
{
    if (text.m_size != 0)
        Release(text.m_data, text.m_size);
}

template <typename Item>
void xml_tag::Grow(xml_list<Item>& list, size_t capacity)
{
    // Lists count their items in 32 bits.
    if (capacity > UINT32_MAX)
        capacity = UINT32_MAX;
    if (capacity <= list.m_size)
        throw std::length_error("xml_tag: too many items");
    Item* items = static_cast<Item*>(Allocate(capacity * sizeof(Item)));
    if (list.m_size != 0)
        std::memcpy(static_cast<void*>(items), list.m_items, list.m_size * sizeof(Item));
    if (list.m_items != nullptr && static_cast<const void*>(list.m_items) != &Text.m_first)
        Release(list.m_items, list.m_capacity * sizeof(Item));
    list.m_items = items;
    list.m_capacity = static_cast<uint32_t>(capacity);
}

void xml_tag::InsertChild(size_t position, xml_tag* child)
{
    if (position > Text.size())
        position = Text.size();
    // Behind the last piece the child goes last, wherever the pieces stand.
    size_t index = position == Text.size() ? children.size() : position == 0 ? 0 : position - 1;
    if (index > children.size())
        index = children.size();
    // Room for the new piece and child first (growing geometrically), so
    // that nothing can fail once the child has been inserted.
    GrowForChild();
    xml_tag** items = children.m_items;
    std::memmove(items + index + 1, items + index, (children.m_size - index) * sizeof(xml_tag*));
    items[index] = child;
    ++children.m_size;
    xml_text* pieces = Text.m_items;
    std::memmove(static_cast<void*>(pieces + position + 1), pieces + position,
                 (Text.m_size - position) * sizeof(xml_text));
    pieces[position] = xml_text();
    ++Text.m_size;
    child->parent = this;
    if (m_home != nullptr && child->m_home == nullptr)
        m_home->holdsHeapElements = true;
}

void xml_tag::SetText(size_t piece, std::u16string_view text)
{
    if (piece >= Text.size())
        return;
    const xml_text copy = CopyText(text.data(), text.size(), true);
    ReleaseText(Text.m_items[piece]);
    Text.m_items[piece] = copy;
}

void xml_tag::InsertAttribute(size_t index, std::string_view attributeName, const xml_text& value)
{
    if (attributes.m_size == attributes.m_capacity)
        Grow(attributes, size_t{attributes.m_size} * 2 + 1);
    const xml_name copy = CopyName(attributeName);
    xml_attribute* items = attributes.m_items;
    std::memmove(static_cast<void*>(items + index + 1), items + index,
                 (attributes.m_size - index) * sizeof(xml_attribute));
    items[index] = xml_attribute{copy, value};
    ++attributes.m_size;
}

namespace {

// The place of `name` among the sorted attributes: the index of the first
// one not before it.
size_t LowerBound(const xml_attribute_list& attributes, std::string_view name)
{
    size_t low = 0;
    size_t high = attributes.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (attributes[middle].name.view() < name)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

} // namespace

bool xml_tag::AddAttribute(std::string_view attributeName, std::u16string_view value)
{
    return AddAttributeText(attributeName, value.data(), value.size(), true);
}

bool xml_tag::AddAttribute(std::string_view attributeName, std::string_view bytes)
{
    return AddAttributeText(attributeName, bytes.data(), bytes.size(), false);
}

bool xml_tag::AddAttributeText(std::string_view attributeName, const void* units, size_t size, bool wide)
{
    const size_t index = LowerBound(attributes, attributeName);
    if (index < attributes.size() && attributes[index].name == attributeName)
        return false;
    const xml_text copy = CopyText(units, size, wide);
    try {
        InsertAttribute(index, attributeName, copy);
    } catch (...) {
        ReleaseText(copy);
        throw;
    }
    return true;
}

void xml_tag::SetAttribute(std::string_view attributeName, std::u16string_view value)
{
    const size_t index = LowerBound(attributes, attributeName);
    if (index < attributes.size() && attributes[index].name == attributeName) {
        const xml_text copy = CopyText(value.data(), value.size(), true);
        ReleaseText(attributes.m_items[index].value);
        attributes.m_items[index].value = copy;
        return;
    }
    (void)AddAttribute(attributeName, value);
}

void xml_tag::ReleaseContents() noexcept
{
    ReleaseName(name);
    name = xml_name();
    for (size_t i = 0; i < Text.m_size; ++i)
        ReleaseText(Text.m_items[i]);
    if (Text.m_items != &Text.m_first)
        Release(Text.m_items, Text.m_capacity * sizeof(xml_text));
    Text.m_items = &Text.m_first;
    Text.m_first = xml_text();
    Text.m_size = 0;
    Text.m_capacity = 1;
    for (size_t i = 0; i < attributes.m_size; ++i) {
        ReleaseName(attributes.m_items[i].name);
        ReleaseText(attributes.m_items[i].value);
    }
    if (attributes.m_items != nullptr)
        Release(attributes.m_items, attributes.m_capacity * sizeof(xml_attribute));
    attributes.m_items = nullptr;
    attributes.m_size = 0;
    attributes.m_capacity = 0;
    if (children.m_items != nullptr)
        Release(children.m_items, children.m_capacity * sizeof(xml_tag*));
    children.m_items = nullptr;
    children.m_size = 0;
    children.m_capacity = 0;
}

void xml_tag::UseDocumentStore(size_t sizeHint)
{
    if (m_store != nullptr)
        return;
    const bool fromHeap = m_home == nullptr;
    auto store = std::make_unique<DocumentStore>(std::max(sizeHint, kMinimumStoreBlock));
    // What the element holds moves into the store: copied there first, then
    // given back to the heap it came from.
    auto move = [&](const void* data, size_t bytes) -> void* {
        void* copy = store->Take(bytes);
        std::memcpy(copy, data, bytes);
        if (fromHeap)
            ::operator delete(const_cast<void*>(data));
        return copy;
    };
    auto textBytes = [](const xml_text& text) { return text.m_wide ? text.m_size * sizeof(char16_t) : text.m_size; };
    if (name.m_size != 0)
        name.m_data = static_cast<const char*>(move(name.m_data, name.m_size));
    for (size_t i = 0; i < Text.m_size; ++i) {
        xml_text& text = Text.m_items[i];
        if (text.m_size != 0)
            text.m_data = move(text.m_data, textBytes(text));
    }
    for (size_t i = 0; i < attributes.m_size; ++i) {
        xml_attribute& attribute = attributes.m_items[i];
        if (attribute.name.m_size != 0)
            attribute.name.m_data = static_cast<const char*>(move(attribute.name.m_data, attribute.name.m_size));
        if (attribute.value.m_size != 0)
            attribute.value.m_data = move(attribute.value.m_data, textBytes(attribute.value));
    }
    auto moveList = [&](auto& list) {
        using Item = std::remove_reference_t<decltype(*list.m_items)>;
        if (list.m_items == nullptr || static_cast<const void*>(list.m_items) == &Text.m_first)
            return;
        list.m_items = static_cast<Item*>(move(list.m_items, list.m_capacity * sizeof(Item)));
    };
    moveList(Text);
    moveList(attributes);
    moveList(children);
    m_store = std::move(store);
}

void xml_tag::SetName(std::string_view tagName)
{
    const xml_name copy = CopyName(tagName);
    ReleaseName(name);
    name = copy;
}

const char* xml_tag::KeepDocumentText(const char* data, size_t size)
{
    return m_store != nullptr ? m_store->Keep(data, size) : nullptr;
}

bool xml_tag::ReferDocumentText(const char* data, size_t size)
{
    if (m_store == nullptr)
        return false;
    m_store->Refer(data, size);
    return true;
}

xml_tag* xml_tag::NewElementOnNewStore(std::string_view tagName)
{
    UseDocumentStore(kMinimumStoreBlock);
    return NewElementIn(m_store.get(), tagName);
}

void xml_tag::GrowForChild()
{
    if (Text.m_size == Text.m_capacity)
        Grow(Text, size_t{Text.m_size} * 2 + 3);
    if (children.m_size == children.m_capacity)
        Grow(children, std::max<size_t>(Text.m_capacity - 1, size_t{children.m_size} + 1));
}

xml_text xml_tag::CopyTextSlow(const void* units, size_t size, bool wide)
{
    const size_t bytes = wide ? size * sizeof(char16_t) : size;
    void* block = Allocate(bytes);
    std::memcpy(block, units, bytes);
    xml_text text;
    text.m_data = block;
    text.m_size = size;
    text.m_wide = wide;
    return text;
}

xml_name xml_tag::CopyNameSlow(std::string_view text)
{
    char* block = static_cast<char*>(Allocate(text.size()));
    std::memcpy(block, text.data(), text.size());
    xml_name copy;
    copy.m_data = block;
    copy.m_size = text.size();
    return copy;
}

xml_tag* xml_tag::InsertNewChild(std::string_view tagName)
{
    xml_tag* child = NewElement(tagName);
    InsertChild(Text.size(), child);
    return child;
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
    tag->children.m_size = 0;
    while (!pending.empty()) {
        xml_tag* child = pending.back();
        pending.pop_back();
        if (child == nullptr)
            continue;
        if (child->m_home != nullptr) {
            // An element of a store: released with the store.
            if (walkStore)
                pending.insert(pending.end(), child->children.begin(), child->children.end());
            continue;
        }
        // A heap element that owns a store releases its own tree, whose
        // elements go with that store.
        if (child->m_store == nullptr) {
            pending.insert(pending.end(), child->children.begin(), child->children.end());
            child->children.m_size = 0;
        }
        delete child;
    }
    tag->ReleaseContents();
    tag->m_store = nullptr;
}
