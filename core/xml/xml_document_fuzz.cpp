// Fuzz target of the document loader: any byte string must load or fail
// without a crash, an out-of-bounds access or a leak, and every tree left in
// the slot keeps one text piece more than it has children.

#include <cstdint>
#include <cstdlib>

#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"
#include "core/xml/xml_test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    buf_ifile<char> source(reinterpret_cast<const char*>(data), size);
    xml_tag* root = nullptr;
    int32_t line = 0;
    int32_t column = 0;
    load_xml_document(root, source, line, column);
    if (line < 1 || column < 1)
        std::abort();
    if (root != nullptr) {
        if (XmlTest::FindShapeFault(*root) != nullptr)
            std::abort();
        free_xml_tag(root);
        delete root;
    }
    return 0;
}
