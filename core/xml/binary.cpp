#include "core/xml/binary.h"

#include <memory>
#include <utility>

#include "core/common/assertion.h"

namespace {

constexpr const char* kSourcePath = "core/xml/binary";

} // namespace

binary_reader::binary_reader(xml_tag** root) : m_root(root)
{
}

void binary_reader::StartDocument()
{
    tagStack.clear();
}

void binary_reader::EndDocument()
{
    if (tagStack.size())
        Common::ReportAssertion("!tagStack.size()", kSourcePath, 296);
}

void binary_reader::StartElement(std::string name)
{
    auto element = std::make_unique<xml_tag>(std::move(name));
    xml_tag* added = element.get();
    if (tagStack.empty()) {
        if (*m_root != nullptr) {
            free_xml_tag(*m_root);
            delete *m_root;
        }
        *m_root = element.release();
    } else {
        xml_tag* parent = tagStack.back();
        parent->InsertChild(parent->Text.size(), added);
        element.release();
    }
    tagStack.push_back(added);
}

void binary_reader::EndElement()
{
    if (!tagStack.empty())
        tagStack.pop_back();
}

void binary_reader::Attribute(std::string name, std::u16string value)
{
    if (!tagStack.size()) {
        Common::ReportAssertion("tagStack.size()", kSourcePath, 315);
        return;
    }
    tagStack.back()->attributes.emplace(std::move(name), std::move(value));
}

void binary_reader::Text(std::u16string text)
{
    if (!tagStack.size()) {
        Common::ReportAssertion("tagStack.size()", kSourcePath, 321);
        return;
    }
    xml_tag* element = tagStack.back();
    if (!element->Text.size()) {
        Common::ReportAssertion("tagStack.back()->Text.size()", kSourcePath, 322);
        return;
    }
    element->Text.back() = std::move(text);
}
