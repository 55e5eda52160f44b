// The element tree that the XML readers build: one xml_tag per element, with
// its attributes, its child elements and the text pieces around them.
//
// Shape: `Text` always holds exactly one piece more than `children`. Piece 0 is
// the character data before the first child, piece i (from 1) the character
// data after child i; an element without children has one piece, empty when it
// has no text. An element owns its children; `parent` does not own.
//
// A tree is held through one pointer to its root (the root slot). The owner of
// the root releases the contents with free_xml_tag and deletes the root
// object; deleting an element also releases what it still holds.
//
// Texts (pieces and attribute values) are sequences of UTF-16 units; a text
// whose units are all below U+0100 may be kept one byte per unit (see
// xml_text). Names are narrow bytes.
//
// The members are views that the element fills: they are read directly, and
// changed through the element (InsertChild, SetText, AddAttribute,
// SetAttribute), which takes whatever it is given into its own storage.
//
// Storage: an element made with `new xml_tag(...)` keeps what it holds on the
// heap. A root may own a document store: the elements made for it with
// NewElement, and everything they hold, come from that store and are given
// back all at once when the root's contents are released, without a walk
// through their destructors. An element of a store stays in its own
// document: it goes (through InsertChild) only below elements of that
// document, and only heap elements are put there from outside.
//
// Threading: a tree is plain data; one tree must not be changed by one thread
// while another reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <new>
#include <string>
#include <string_view>

// An element or attribute name: narrow bytes held by the element.
class xml_name
{
public:
    const char* data() const noexcept { return m_data; }
    size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }
    std::string_view view() const noexcept { return std::string_view(m_data, m_size); }
    operator std::string_view() const noexcept { return view(); }

    friend bool operator==(const xml_name& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const xml_name& a, const xml_name& b) noexcept { return a.view() == b.view(); }

private:
    friend class xml_tag;

    const char* m_data = "";
    size_t m_size = 0;
};

std::ostream& operator<<(std::ostream& out, const xml_name& name);

// A text of the tree: a sequence of UTF-16 units. When every unit is below
// U+0100 the text may be kept as one byte per unit (narrow); otherwise, or at
// the writer's choice, as the units themselves (wide). Both forms of one
// sequence are the same text: size, comparison and str() see only the units.
class xml_text
{
public:
    size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }
    bool is_narrow() const noexcept { return !m_wide; }
    // The units as bytes, when is_narrow().
    std::string_view narrow() const noexcept { return std::string_view(static_cast<const char*>(m_data), m_size); }
    // The units, when !is_narrow().
    std::u16string_view wide() const noexcept
    {
        return std::u16string_view(static_cast<const char16_t*>(m_data), m_size);
    }
    char16_t operator[](size_t index) const noexcept
    {
        return m_wide ? static_cast<const char16_t*>(m_data)[index]
                      : static_cast<char16_t>(static_cast<const unsigned char*>(m_data)[index]);
    }
    // The units as a string.
    std::u16string str() const;
    // Calls `f` with the text in the form it is kept in: a std::string_view
    // of bytes (each one unit) or a std::u16string_view.
    template <typename F>
    decltype(auto) visit(F&& f) const
    {
        return m_wide ? f(wide()) : f(narrow());
    }

    friend bool operator==(const xml_text& a, std::u16string_view b) noexcept;
    friend bool operator==(const xml_text& a, const xml_text& b) noexcept;

private:
    friend class xml_tag;

    const void* m_data = "";
    uint64_t m_size : 63 = 0;
    uint64_t m_wide : 1 = 0;
};

std::ostream& operator<<(std::ostream& out, const xml_text& text);

class xml_tag;
void free_xml_tag(xml_tag* tag);

// The read side of the arrays an element holds: `size` items in order.
template <typename Item>
class xml_list
{
public:
    size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }
    const Item& operator[](size_t index) const noexcept { return m_items[index]; }
    const Item& front() const noexcept { return m_items[0]; }
    const Item& back() const noexcept { return m_items[m_size - 1]; }
    const Item* data() const noexcept { return m_items; }
    const Item* begin() const noexcept { return m_items; }
    const Item* end() const noexcept { return m_items + m_size; }

private:
    friend class xml_tag;
    friend void free_xml_tag(xml_tag* tag);

    Item* m_items = nullptr;
    uint32_t m_size = 0;
    uint32_t m_capacity = 0;
};

struct xml_attribute
{
    xml_name name;
    xml_text value;
};

// Attributes in byte-wise order of their names (on equal prefixes the
// shorter first); names are unique.
class xml_attribute_list : public xml_list<xml_attribute>
{
public:
    // The attribute of that name, or null.
    const xml_attribute* find(std::string_view name) const noexcept;
};

// The text pieces. The first piece is kept in the list itself, so that an
// element without children needs no array of pieces.
class xml_text_list : public xml_list<xml_text>
{
private:
    friend class xml_tag;

    xml_text m_first;
};

class xml_tag
{
public:
    // An element without name, attributes or children and with one empty piece.
    xml_tag() noexcept
    {
        Text.m_items = &Text.m_first;
        Text.m_size = 1;
        Text.m_capacity = 1;
    }
    explicit xml_tag(std::string_view tagName, xml_tag* parentTag = nullptr);
    xml_tag(const xml_tag&) = delete;
    xml_tag& operator=(const xml_tag&) = delete;
    ~xml_tag();

    // Sets the child's parent, inserts the child into `children` at index
    // position - 1 (0 for the first piece) and an empty piece into `Text` at
    // `position`. A position beyond the last piece stands for the end, which
    // appends the child and one empty piece. The element takes the child over.
    void InsertChild(size_t position, xml_tag* child);

    // Replaces piece `piece` of `Text` (an index below Text.size()) by a copy
    // of the text: UTF-16 units, or bytes each taken as one unit (U+0000 to
    // U+00FF).
    void SetText(size_t piece, std::u16string_view text);
    void SetText(size_t piece, std::string_view bytes);
    // Adds the attribute, unless the element has one of that name: then
    // nothing changes and the answer is false.
    bool AddAttribute(std::string_view attributeName, std::u16string_view value);
    bool AddAttribute(std::string_view attributeName, std::string_view bytes);
    // Adds the attribute or replaces the value of the one of that name.
    void SetAttribute(std::string_view attributeName, std::u16string_view value);

    // Replaces the element's name.
    void SetName(std::string_view tagName);

    // Gives this element a document store whose first block holds about
    // `sizeHint` bytes, unless it has one already. What the element holds
    // moves into the store.
    void UseDocumentStore(size_t sizeHint);
    // Keeps a copy of the `size` bytes at `data` (a document's text) in the
    // element's document store and returns where the copy lies. Names and
    // narrow texts that elements of the store are given from within the copy
    // are taken where they lie instead of being copied again. Null when the
    // element has no document store.
    const char* KeepDocumentText(const char* data, size_t size);
    // The same without the copy: the `size` bytes at `data` are taken where
    // they lie, and must outlive the element's document store. False when
    // the element has no document store.
    bool ReferDocumentText(const char* data, size_t size);
    // A new element named `tagName` in the document store this element lives
    // in or owns (an element of neither is given one). It lives as long as
    // the store: insert it into the tree below this element, or leave it to
    // the store; it is never deleted on its own.
    xml_tag* NewElement(std::string_view tagName);
    // A new element of the store, as NewElement makes it, appended as this
    // element's last child (InsertChild at the end).
    xml_tag* AppendNewChild(std::string_view tagName);

    // Element name as narrow bytes.
    xml_name name;
    xml_attribute_list attributes;
    // Owned child elements in document order.
    xml_list<xml_tag*> children;
    // Text pieces: children.size() + 1 of them.
    xml_text_list Text;
    // Enclosing element; null for the root.
    xml_tag* parent = nullptr;

private:
    friend void free_xml_tag(xml_tag* tag);

    // The store of one document: blocks that are handed out piece by piece
    // and given back all at once. It notes when an element from the heap is
    // put below one of its elements, so that only then its release walks the
    // tree, and it may keep a copy of the document's text.
    class DocumentStore
    {
    public:
        explicit DocumentStore(size_t firstBlock) noexcept : m_nextBlock(firstBlock) {}
        DocumentStore(const DocumentStore&) = delete;
        DocumentStore& operator=(const DocumentStore&) = delete;
        ~DocumentStore();

        void* Take(size_t bytes)
        {
            bytes = Aligned(bytes);
            if (static_cast<size_t>(m_end - m_cursor) < bytes)
                return NewBlock(bytes, bytes >= m_nextBlock / 4); // a large piece gets a block of its own
            void* piece = m_cursor;
            m_cursor += bytes;
            return piece;
        }
        // Keeps a copy of the bytes; returns where it lies.
        const char* Keep(const char* data, size_t size);
        // Takes the bytes where they lie as the kept text, without a copy.
        void Refer(const char* data, size_t size) noexcept
        {
            m_kept = data;
            m_keptSize = size;
        }
        // Whether [data, data + size) lies within the kept copy.
        bool HoldsKept(const void* data, size_t size) const noexcept
        {
            const auto* begin = static_cast<const char*>(data);
            return m_kept != nullptr && begin >= m_kept && size <= m_keptSize &&
                static_cast<size_t>(begin - m_kept) <= m_keptSize - size;
        }

        bool holdsHeapElements = false;

    private:
        struct Block
        {
            Block* next;
            size_t size;
        };
        static constexpr size_t kAlignment = alignof(std::max_align_t);
        static constexpr size_t kBlockHeader = (sizeof(Block) + kAlignment - 1) & ~(kAlignment - 1);
        static constexpr size_t Aligned(size_t bytes) { return (bytes + kAlignment - 1) & ~(kAlignment - 1); }

        // A new block with room for `bytes`, the piece's own or the next one
        // to hand pieces out from; returns the piece.
        void* NewBlock(size_t bytes, bool own);

        Block* m_blocks = nullptr;
        char* m_cursor = nullptr;
        char* m_end = nullptr;
        size_t m_nextBlock;
        const char* m_kept = nullptr;
        size_t m_keptSize = 0;
    };

    xml_tag(std::string_view tagName, DocumentStore* store) : xml_tag()
    {
        m_home = store;
        name = CopyName(tagName);
    }
    static xml_tag* NewElementIn(DocumentStore* store, std::string_view tagName)
    {
        return ::new (store->Take(sizeof(xml_tag))) xml_tag(tagName, store);
    }
    xml_tag* NewElementOnNewStore(std::string_view tagName);
    // Room for one more child and piece, where either list is full.
    void GrowForChild();
    xml_text CopyTextSlow(const void* units, size_t size, bool wide);
    xml_name CopyNameSlow(std::string_view text);

    // Room for what the element holds, from its store or the heap.
    void* Allocate(size_t bytes);
    void Release(const void* block, size_t bytes) noexcept;
    // A copy of the units or bytes in the element's storage.
    xml_text CopyText(const void* units, size_t size, bool wide);
    xml_name CopyName(std::string_view text);
    void ReleaseText(const xml_text& text) noexcept
    {
        // What a store handed out goes back with the store.
        if (text.m_size != 0 && Store() == nullptr)
            ::operator delete(const_cast<void*>(text.m_data));
    }
    void ReleaseName(const xml_name& name) noexcept;
    template <typename Item>
    void Grow(xml_list<Item>& list, size_t capacity);
    // NewElement and InsertChild at the end.
    xml_tag* InsertNewChild(std::string_view tagName);
    // AddAttribute over units (wide) or bytes.
    bool AddAttributeText(std::string_view attributeName, const void* units, size_t size, bool wide);
    // Inserts an attribute at `index` of the sorted list.
    void InsertAttribute(size_t index, std::string_view attributeName, const xml_text& value);
    // Releases what the element holds (name, pieces, attributes, the arrays)
    // and leaves it empty, with no piece.
    void ReleaseContents() noexcept;
    // The store that the element's contents come from: its document store,
    // or the store it lives in; null for the heap.
    DocumentStore* Store() const noexcept { return m_store != nullptr ? m_store.get() : m_home; }

    // The document store this root owns, if any.
    std::unique_ptr<DocumentStore> m_store;
    // The store this element lives in; null for a heap element.
    DocumentStore* m_home = nullptr;
};

inline xml_text xml_tag::CopyText(const void* units, size_t size, bool wide)
{
    if (size == 0)
        return xml_text();
    DocumentStore* store = Store();
    if (wide || store == nullptr || !store->HoldsKept(units, size))
        return CopyTextSlow(units, size, wide);
    // Within the document's text, which the store keeps: taken where it lies.
    xml_text text;
    text.m_data = units;
    text.m_size = size;
    return text;
}

inline xml_name xml_tag::CopyName(std::string_view text)
{
    if (text.empty())
        return xml_name();
    DocumentStore* store = Store();
    if (store == nullptr || !store->HoldsKept(text.data(), text.size()))
        return CopyNameSlow(text);
    xml_name copy;
    copy.m_data = text.data();
    copy.m_size = text.size();
    return copy;
}

inline void xml_tag::SetText(size_t piece, std::string_view bytes)
{
    if (piece >= Text.size())
        return;
    const xml_text copy = CopyText(bytes.data(), bytes.size(), false);
    ReleaseText(Text.m_items[piece]);
    Text.m_items[piece] = copy;
}

inline xml_tag* xml_tag::NewElement(std::string_view tagName)
{
    if (DocumentStore* store = m_home != nullptr ? m_home : m_store.get())
        return NewElementIn(store, tagName);
    return NewElementOnNewStore(tagName);
}

inline xml_tag* xml_tag::AppendNewChild(std::string_view tagName)
{
    if (Text.m_size != children.m_size + 1)
        return InsertNewChild(tagName);
    if (Text.m_size == Text.m_capacity || children.m_size == children.m_capacity)
        GrowForChild();
    xml_tag* child = NewElement(tagName);
    children.m_items[children.m_size++] = child;
    Text.m_items[Text.m_size++] = xml_text();
    child->parent = this;
    return child;
}

// Releases the contents of `tag`: destroys and frees each child (at any depth,
// without recursion), then releases the text pieces, the attributes, the name
// and the document store. The tag object itself stays, with no piece; null
// does nothing.
void free_xml_tag(xml_tag* tag);
