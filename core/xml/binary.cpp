#include "core/xml/binary.h"

#include <memory>
#include <utility>

#include "core/common/assertion.h"

namespace {

constexpr const char* kSourcePath = "core/xml/binary";
// First block of the document store of a binary document.
constexpr size_t kFirstStoreBlock = 64 * 1024;

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
    if (tagStack.empty()) {
        auto element = std::make_unique<xml_tag>(name);
        element->UseDocumentStore(kFirstStoreBlock);
        if (*m_root != nullptr) {
            free_xml_tag(*m_root);
            delete *m_root;
        }
        *m_root = element.release();
        tagStack.push_back(*m_root);
        return;
    }
    // The elements below the root live in the root's document store.
    xml_tag* parent = tagStack.back();
    xml_tag* added = (*m_root)->NewElement(name);
    parent->InsertChild(parent->Text.size(), added);
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
    (void)tagStack.back()->AddAttribute(name, value); // the first value of a name stays
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
    element->SetText(element->Text.size() - 1, text);
}
