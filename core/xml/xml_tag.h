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
// Threading: a tree is plain data; one tree must not be changed by one thread
// while another reads it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

class xml_tag
{
public:
    // An element without name, attributes or children and with one empty piece.
    xml_tag();
    explicit xml_tag(std::string tagName, xml_tag* parentTag = nullptr);
    xml_tag(const xml_tag&) = delete;
    xml_tag& operator=(const xml_tag&) = delete;
    ~xml_tag();

    // Sets the child's parent, inserts the child into `children` at index
    // position - 1 (0 for the first piece) and an empty piece into `Text` at
    // `position`. A position beyond the last piece stands for the end, which
    // appends the child and one empty piece. The element takes the child over.
    void InsertChild(size_t position, xml_tag* child);

    // Element name as narrow bytes.
    std::string name;
    // Attribute name to value, ordered by byte-wise comparison of the names.
    std::map<std::string, std::u16string> attributes;
    // Owned child elements in document order.
    std::vector<xml_tag*> children;
    // Text pieces: children.size() + 1 of them.
    std::vector<std::u16string> Text;
    // Enclosing element; null for the root.
    xml_tag* parent = nullptr;
};

// Releases the contents of `tag`: destroys and frees each child (at any depth,
// without recursion), then releases the text pieces, the attributes and the
// name. The tag object itself stays; null does nothing.
void free_xml_tag(xml_tag* tag);
