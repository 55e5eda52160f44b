// Fuzz target of the binary XML readers: the input is everything after the
// "BXML" signature. Any byte string must read or fail without a crash, an
// out-of-bounds access, a leak or an oversized allocation; the events stay
// nested, and the tree keeps one text piece more than it has children.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/file/buf_ifile.h"
#include "core/xml/binary.h"
#include "core/xml/simple_reader.h"
#include "core/xml/xml_document.h"
#include "core/xml/xml_test_support.h"

namespace {

// Passes every event on to the tree builder and checks the nesting.
class CheckingSink : public xml_reader_interface
{
public:
    explicit CheckingSink(xml_tag** root) : m_builder(root) {}

    void StartDocument() override { m_builder.StartDocument(); }
    void EndDocument() override
    {
        if (m_open != 0)
            std::abort();
        m_builder.EndDocument();
    }
    void StartElement(std::string name) override
    {
        if (++m_open > kMaxXmlDepth)
            std::abort();
        m_builder.StartElement(std::move(name));
    }
    void EndElement() override
    {
        if (m_open-- == 0)
            std::abort();
        m_builder.EndElement();
    }
    void Attribute(std::string name, std::u16string value) override
    {
        if (m_open == 0)
            std::abort();
        m_builder.Attribute(std::move(name), std::move(value));
    }
    void Text(std::u16string text) override
    {
        if (m_open == 0)
            std::abort();
        m_builder.Text(std::move(text));
    }
    void NarrowText(std::string text) override
    {
        if (m_open == 0)
            std::abort();
        m_builder.NarrowText(std::move(text));
    }

private:
    binary_reader m_builder;
    size_t m_open = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    buf_ifile<char> source(reinterpret_cast<const char*>(data), size);
    xml_tag* root = nullptr;
    CheckingSink sink(&root);
    const bool ok = read_binary_xml(sink, source);
    if (ok && !source.IsClear())
        std::abort();
    if (root != nullptr) {
        if (XmlTest::FindShapeFault(*root) != nullptr)
            std::abort();
        free_xml_tag(root);
        delete root;
    }
    return 0;
}
