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
// Storage: an element made with `new xml_tag(...)` keeps its members on the
// heap. A root may own a document store: the elements made for it with
// NewElement, and everything they hold, come from that store and are given
// back all at once when the root's contents are released, without a walk
// through their destructors. An element of a store stays in its own
// document: it goes (through InsertChild) only below elements of that
// document, and only heap elements are put there from outside.
// Members are `std::pmr` containers, so that both kinds share one type; an
// element takes whatever text is assigned to it into its own storage.
//
// Threading: a tree is plain data; one tree must not be changed by one thread
// while another reads it.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

class xml_tag
{
public:
    // An element without name, attributes or children and with one empty piece.
    xml_tag();
    explicit xml_tag(std::string_view tagName, xml_tag* parentTag = nullptr);
    xml_tag(const xml_tag&) = delete;
    xml_tag& operator=(const xml_tag&) = delete;
    ~xml_tag();

    // Sets the child's parent, inserts the child into `children` at index
    // position - 1 (0 for the first piece) and an empty piece into `Text` at
    // `position`. A position beyond the last piece stands for the end, which
    // appends the child and one empty piece. The element takes the child over.
    void InsertChild(size_t position, xml_tag* child);

    // Gives this element a document store whose first block holds about
    // `sizeHint` bytes, unless it has one already.
    void UseDocumentStore(size_t sizeHint);
    // A new element named `tagName` in the document store this element lives
    // in or owns (an element of neither is given one). It lives as long as
    // the store: insert it into the tree below this element, or leave it to
    // the store; it is never deleted on its own.
    xml_tag* NewElement(std::string_view tagName);

    // Element name as narrow bytes.
    std::pmr::string name;
    // Attribute name to value, ordered by byte-wise comparison of the names.
    std::pmr::map<std::pmr::string, std::pmr::u16string, std::less<>> attributes;
    // Owned child elements in document order.
    std::pmr::vector<xml_tag*> children;
    // Text pieces: children.size() + 1 of them.
    std::pmr::vector<std::pmr::u16string> Text;
    // Enclosing element; null for the root.
    xml_tag* parent = nullptr;

private:
    friend void free_xml_tag(xml_tag* tag);

    class DocumentStore;

    xml_tag(std::string_view tagName, std::pmr::memory_resource* store);

    // The document store this root owns, if any.
    std::unique_ptr<DocumentStore> m_store;
    // Set on elements that live in a document store.
    bool m_inStore = false;
};

// Releases the contents of `tag`: destroys and frees each child (at any depth,
// without recursion), then releases the text pieces, the attributes, the name
// and the document store. The tag object itself stays; null does nothing.
void free_xml_tag(xml_tag* tag);
