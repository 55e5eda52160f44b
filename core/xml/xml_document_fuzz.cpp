// Fuzz target of the document loader: any byte string must load or fail
// without a crash, an out-of-bounds access or a leak, and every tree left in
// the slot keeps one text piece more than it has children.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"

namespace {

void CheckShape(const xml_tag* root)
{
    std::vector<const xml_tag*> pending{root};
    while (!pending.empty()) {
        const xml_tag* tag = pending.back();
        pending.pop_back();
        if (tag->Text.size() != tag->children.size() + 1)
            std::abort();
        for (const xml_tag* child : tag->children) {
            if (child->parent != tag)
                std::abort();
            pending.push_back(child);
        }
    }
}

} // namespace

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
        CheckShape(root);
        free_xml_tag(root);
        delete root;
    }
    return 0;
}
