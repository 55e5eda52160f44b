#include "core/xml/xml_document.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "core/file/buf_ifile.h"
#include "core/include/file/file.h"
#include "core/xml/binary_xml_load.h"

namespace {

void AppendText(std::pmr::u16string& piece, std::u16string_view token)
{
    piece.append(token);
}

// Names are short: compared in place rather than through a library call.
bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

enum class OpenResult
{
    Failed,
    Complete, // "/>": no content
    Content,  // ">": content follows
};

// Reads the rest of the start tag of `element`, which the tokenizer stands
// on: its closing, or its attributes and then its closing. `preserve` enters
// as the inherited setting and leaves as the element's own.
OpenResult ReadStartTag(xml_tag* element, xml_text_tokenizer& tokenizer, bool& preserve)
{
    const xml_text_tokenizer::closing_kind closing = tokenizer.closing();
    tokenizer.advance();
    if (closing == xml_text_tokenizer::closing_content)
        return OpenResult::Content;
    if (closing == xml_text_tokenizer::closing_empty)
        return OpenResult::Complete;
    while (tokenizer.token() == xml_text_tokenizer::token_attribute_name) {
        const std::string_view name = tokenizer.name();
        auto slot = element->attributes.lower_bound(name);
        if (slot != element->attributes.end() && slot->first == name)
            return OpenResult::Failed;
        // Inserted before the tokenizer moves on from the name, and taken out
        // again when no value follows.
        const auto inserted = element->attributes.emplace_hint(slot, name, std::u16string_view());
        const bool space = name == "xml:space";
        tokenizer.advance();
        if (tokenizer.token() != xml_text_tokenizer::token_value_open) {
            element->attributes.erase(inserted);
            return OpenResult::Failed;
        }
        tokenizer.advance();
        std::pmr::u16string& value = inserted->second;
        while (tokenizer.token() == xml_text_tokenizer::token_text) {
            AppendText(value, tokenizer.text());
            tokenizer.advance();
        }
        if (space && value == u"preserve") {
            tokenizer.set_preserve(true);
            preserve = true;
        }
    }
    if (tokenizer.token() == xml_text_tokenizer::token_empty_close) {
        tokenizer.advance();
        return OpenResult::Complete;
    }
    if (tokenizer.token() != xml_text_tokenizer::token_tag_close)
        return OpenResult::Failed;
    tokenizer.advance();
    return OpenResult::Content;
}

// First block of a document's store: for an input that is one block in
// memory, room for its whole tree (a packet's tree takes several bytes per
// byte of text), within limits; a modest block for a stream.
size_t StoreSizeHint(const i_file& source)
{
    constexpr uint64_t kStreamHint = 64 * 1024;
    constexpr uint64_t kLargestHint = 64 * 1024 * 1024;
    uint64_t hint = kStreamHint;
    if (const auto* memory = dynamic_cast<const buf_ifile<char>*>(&source))
        hint = std::min(std::max(memory->Remaining() * 8, kStreamHint), kLargestHint);
    return static_cast<size_t>(hint);
}

} // namespace

bool build_xml_tree(xml_tag* element, xml_text_tokenizer& tokenizer, bool preserve)
{
    // Open elements, innermost last, each with its own white-space setting.
    // An explicit stack keeps deep documents off the call stack.
    struct OpenElement
    {
        xml_tag* element;
        bool preserve;
    };

    switch (ReadStartTag(element, tokenizer, preserve)) {
    case OpenResult::Failed:
        return false;
    case OpenResult::Complete:
        return true;
    case OpenResult::Content:
        break;
    }
    // New elements come from the document store of the tree's root.
    xml_tag* store = element;
    while (store->parent != nullptr)
        store = store->parent;
    // Room for the deepest nesting allowed, so that opening an element
    // never reallocates.
    const std::unique_ptr<OpenElement[]> open(new OpenElement[kMaxXmlDepth]);
    size_t depth = 0;
    open[depth++] = {element, preserve};
    while (depth > 0) {
        xml_tag* current = open[depth - 1].element;
        switch (tokenizer.token()) {
        case xml_text_tokenizer::token_text:
            AppendText(current->Text.back(), tokenizer.text());
            tokenizer.advance();
            break;
        case xml_text_tokenizer::token_start_tag: {
            if (depth >= kMaxXmlDepth)
                return false;
            // The element lives in the document store: nothing to give back
            // if the insertion fails.
            xml_tag* child = store->NewElement(tokenizer.name());
            current->InsertChild(current->Text.size(), child);
            bool childPreserve = open[depth - 1].preserve;
            switch (ReadStartTag(child, tokenizer, childPreserve)) {
            case OpenResult::Failed:
                return false;
            case OpenResult::Complete:
                tokenizer.set_preserve(open[depth - 1].preserve);
                break;
            case OpenResult::Content:
                open[depth++] = {child, childPreserve};
                break;
            }
            break;
        }
        case xml_text_tokenizer::token_end_tag:
            if (!SameName(tokenizer.name(), current->name))
                return false;
            if (tokenizer.closing() != xml_text_tokenizer::closing_content) {
                tokenizer.advance();
                if (tokenizer.token() != xml_text_tokenizer::token_tag_close)
                    return false;
            }
            tokenizer.advance();
            --depth;
            if (depth > 0)
                tokenizer.set_preserve(open[depth - 1].preserve);
            break;
        default:
            return false;
        }
    }
    return true;
}

bool load_xml_document(xml_tag*& root, i_file& source, int32_t& line, int32_t& column)
{
    if (root != nullptr) {
        free_xml_tag(root);
        delete root;
        root = nullptr;
    }
    // Taken before the tokenizer moves the source on.
    const size_t storeSizeHint = StoreSizeHint(source);
    xml_text_tokenizer tokenizer;
    tokenizer.start(&source);
    line = tokenizer.line();
    column = static_cast<int32_t>(tokenizer.column() + 1);

    bool result = false;
    switch (tokenizer.token()) {
    case xml_text_tokenizer::token_start_tag:
        root = new xml_tag(tokenizer.name());
        root->UseDocumentStore(storeSizeHint);
        result = build_xml_tree(root, tokenizer, false) && tokenizer.token() == xml_text_tokenizer::token_end &&
            source.IsClear();
        break;
    case xml_text_tokenizer::token_binary_magic:
        return load_binary_xml_document(root, source);
    default:
        break;
    }
    line = tokenizer.line();
    column = static_cast<int32_t>(tokenizer.column() + 1);
    return result;
}
