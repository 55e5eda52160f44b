#include "core/xml/xml_tag.h"

#include <utility>

xml_tag::xml_tag() : Text(1)
{
}

xml_tag::xml_tag(std::string tagName, xml_tag* parentTag) : name(std::move(tagName)), Text(1), parent(parentTag)
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
    if (children.capacity() == 0)
        children.reserve(Text.capacity() - 1);
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(index), child);
    Text.insert(Text.begin() + static_cast<std::ptrdiff_t>(position), std::u16string());
    child->parent = this;
}

void free_xml_tag(xml_tag* tag)
{
    if (tag == nullptr)
        return;
    // Detach every descendant before deleting it, so that no destructor
    // recurses however deep the tree is.
    std::vector<xml_tag*> pending;
    pending.swap(tag->children);
    while (!pending.empty()) {
        xml_tag* child = pending.back();
        pending.pop_back();
        if (child == nullptr)
            continue;
        pending.insert(pending.end(), child->children.begin(), child->children.end());
        child->children.clear();
        delete child;
    }
    std::vector<std::u16string>().swap(tag->Text);
    tag->attributes.clear();
    std::string().swap(tag->name);
}
