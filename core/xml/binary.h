// The receiver of binary XML events that builds the xml_tag tree, so that a
// binary document ends up in the same shape as a text one: each element with
// its attributes (the first value of a repeated name stays), its children
// and one text piece more than children. Narrow text items are not kept:
// their piece stays empty.
//
// Threading: one receiver per load, used by the loading thread only.
#pragma once

#include <string>
#include <vector>

#include "core/xml/xml_reader_interface.h"
#include "core/xml/xml_tag.h"

class binary_reader : public xml_reader_interface
{
public:
    // Builds into the caller's root slot; a tree the slot holds is freed when
    // the new root element starts.
    explicit binary_reader(xml_tag** root);

    void StartDocument() override;
    void EndDocument() override;
    void StartElement(std::string name) override;
    void EndElement() override;
    void Attribute(std::string name, std::u16string value) override;
    void Text(std::u16string text) override;

private:
    xml_tag** m_root;
    // Open elements, innermost last; not owning.
    std::vector<xml_tag*> tagStack;
};
