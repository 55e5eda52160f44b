#include "core/xml/xml_document.h"

#include <memory>
#include <vector>

#include "core/include/file/file.h"
#include "core/xml/binary_xml_load.h"

namespace {

// Appends a text token to a piece; the first token of a piece is taken over
// rather than copied.
void AppendText(std::u16string& piece, std::u16string& token)
{
    if (piece.empty())
        piece.swap(token);
    else
        piece += token;
}

enum class OpenResult
{
    Failed,
    Complete, // "/>": no content
    Content,  // ">": content follows
};

// Reads the attributes and the end of the start tag of `element`. `preserve`
// enters as the inherited setting and leaves as the element's own.
OpenResult ReadStartTag(xml_tag* element, xml_text_tokenizer& tokenizer, bool& preserve)
{
    while (tokenizer.token() == xml_text_tokenizer::token_attribute_name) {
        auto slot = element->attributes.lower_bound(tokenizer.name());
        if (slot != element->attributes.end() && slot->first == tokenizer.name())
            return OpenResult::Failed;
        std::string name = tokenizer.name();
        tokenizer.advance();
        if (tokenizer.token() != xml_text_tokenizer::token_value_open)
            return OpenResult::Failed;
        tokenizer.advance();
        // The element is not touched between the look-up and here.
        std::u16string& value = element->attributes.emplace_hint(slot, name, std::u16string())->second;
        while (tokenizer.token() == xml_text_tokenizer::token_text) {
            AppendText(value, tokenizer.text());
            tokenizer.advance();
        }
        if (name == "xml:space" && value == u"preserve") {
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
    std::vector<OpenElement> open;
    open.push_back({element, preserve});
    while (!open.empty()) {
        xml_tag* current = open.back().element;
        switch (tokenizer.token()) {
        case xml_text_tokenizer::token_text:
            AppendText(current->Text.back(), tokenizer.text());
            tokenizer.advance();
            break;
        case xml_text_tokenizer::token_start_tag: {
            if (open.size() >= kMaxXmlDepth)
                return false;
            auto owned = std::make_unique<xml_tag>(tokenizer.name());
            xml_tag* child = owned.get();
            current->InsertChild(current->Text.size(), child);
            owned.release();
            tokenizer.advance();
            bool childPreserve = open.back().preserve;
            switch (ReadStartTag(child, tokenizer, childPreserve)) {
            case OpenResult::Failed:
                return false;
            case OpenResult::Complete:
                tokenizer.set_preserve(open.back().preserve);
                break;
            case OpenResult::Content:
                open.push_back({child, childPreserve});
                break;
            }
            break;
        }
        case xml_text_tokenizer::token_end_tag:
            if (tokenizer.name() != current->name)
                return false;
            tokenizer.advance();
            if (tokenizer.token() != xml_text_tokenizer::token_tag_close)
                return false;
            tokenizer.advance();
            open.pop_back();
            if (!open.empty())
                tokenizer.set_preserve(open.back().preserve);
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
    xml_text_tokenizer tokenizer;
    tokenizer.start(&source);
    line = tokenizer.line();
    column = static_cast<int32_t>(tokenizer.column() + 1);

    bool result = false;
    switch (tokenizer.token()) {
    case xml_text_tokenizer::token_start_tag:
        root = new xml_tag(tokenizer.name());
        tokenizer.advance();
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
