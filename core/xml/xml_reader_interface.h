// Receiver of document events. The binary XML readers emit these events and a
// tree-building receiver turns them into xml_tag elements. Every event has an
// empty default, so a receiver overrides only what it needs.
//
// Threading: a receiver is used by the one thread that runs the reader.
#pragma once

#include <string>

class xml_reader_interface
{
public:
    virtual ~xml_reader_interface() = default;

    virtual void StartDocument() {}
    virtual void EndDocument() {}
    virtual void StartElement(std::string name) { static_cast<void>(name); }
    virtual void EndElement() {}
    virtual void Attribute(std::string name, std::u16string value)
    {
        static_cast<void>(name);
        static_cast<void>(value);
    }
    virtual void Text(std::u16string text) { static_cast<void>(text); }
    virtual void NarrowText(std::string text) { static_cast<void>(text); }
};
