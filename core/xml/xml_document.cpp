#include "core/xml/xml_document.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <typeinfo>
#include <vector>

#include "core/file/buf_ifile.h"
#include "core/include/file/file.h"
#include "core/xml/binary_xml_load.h"

namespace {

// The text of one piece or attribute value, gathered token by token and
// handed to the element once complete, so that the element copies it once.
// A text of one stable narrow token is not copied here at all.
class GatheredText
{
public:
    void Add(const xml_text_tokenizer& tokenizer)
    {
        // Most texts are one token that lies in place.
        if (m_form == Form::None && !tokenizer.text_is_wide() && !tokenizer.text_leading_blank() &&
            tokenizer.text_stable()) {
            m_form = Form::View;
            m_view = tokenizer.narrow_text();
            return;
        }
        AddMore(tokenizer);
    }

    void AddMore(const xml_text_tokenizer& tokenizer)
    {
        if (tokenizer.text_is_wide()) {
            Widen();
            m_wide.append(tokenizer.wide_text());
            return;
        }
        const std::string_view bytes = tokenizer.narrow_text();
        const bool blank = tokenizer.text_leading_blank();
        if (m_form == Form::None && !blank && tokenizer.text_stable()) {
            m_form = Form::View;
            m_view = bytes;
            return;
        }
        if (m_form == Form::Wide) {
            if (blank)
                m_wide.push_back(u' ');
            const size_t at = m_wide.size();
            m_wide.resize(at + bytes.size());
            for (size_t i = 0; i < bytes.size(); ++i)
                m_wide[at + i] = static_cast<unsigned char>(bytes[i]);
            return;
        }
        if (m_form == Form::View)
            m_narrow.assign(m_view);
        m_form = Form::Narrow;
        if (blank)
            m_narrow.push_back(' ');
        m_narrow.append(bytes);
    }

    bool Is(std::string_view text) const
    {
        switch (m_form) {
        case Form::None:
            return text.empty();
        case Form::View:
            return m_view == text;
        case Form::Narrow:
            return m_narrow == text;
        case Form::Wide:
            break;
        }
        if (m_wide.size() != text.size())
            return false;
        for (size_t i = 0; i < text.size(); ++i) {
            if (m_wide[i] != static_cast<unsigned char>(text[i]))
                return false;
        }
        return true;
    }

    // Sets the text into piece `piece` of the element, and starts over.
    void SetInto(xml_tag* element, size_t piece)
    {
        if (m_form == Form::None)
            return;
        if (m_form == Form::View) {
            element->SetText(piece, m_view);
            m_form = Form::None;
            return;
        }
        SetGatheredInto(element, piece);
    }

private:
    void SetGatheredInto(xml_tag* element, size_t piece)
    {
        switch (m_form) {
        case Form::None:
            return;
        case Form::View:
            element->SetText(piece, m_view);
            break;
        case Form::Narrow:
            element->SetText(piece, std::string_view(m_narrow));
            break;
        case Form::Wide:
            element->SetText(piece, std::u16string_view(m_wide));
            break;
        }
        Clear();
    }

public:
    // Adds the attribute with this text as its value, and starts over.
    void AddAttributeTo(xml_tag* element, std::string_view name)
    {
        switch (m_form) {
        case Form::None:
            (void)element->AddAttribute(name, std::string_view());
            break;
        case Form::View:
            (void)element->AddAttribute(name, m_view);
            break;
        case Form::Narrow:
            (void)element->AddAttribute(name, std::string_view(m_narrow));
            break;
        case Form::Wide:
            (void)element->AddAttribute(name, std::u16string_view(m_wide));
            break;
        }
        Clear();
    }

private:
    enum class Form
    {
        None,
        View,   // m_view, bytes that stay valid
        Narrow, // m_narrow
        Wide,   // m_wide
    };

    void Widen()
    {
        std::string_view bytes;
        if (m_form == Form::View)
            bytes = m_view;
        else if (m_form == Form::Narrow)
            bytes = m_narrow;
        else if (m_form == Form::Wide)
            return;
        m_wide.resize(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            m_wide[i] = static_cast<unsigned char>(bytes[i]);
        m_narrow.clear();
        m_form = Form::Wide;
    }

    void Clear()
    {
        if (m_form == Form::Narrow)
            m_narrow.clear();
        else if (m_form == Form::Wide)
            m_wide.clear();
        m_form = Form::None;
    }

    Form m_form = Form::None;
    std::string_view m_view;
    std::string m_narrow;
    std::u16string m_wide;
};

// Whether the tokenizer takes `name` as a name: a name start (':', letters,
// '_'), then name characters (those, '-', '.', digits).
bool IsXmlName(std::string_view name)
{
    auto start = [](char c) { return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (name.empty() || !start(name[0]))
        return false;
    for (const char c : name) {
        if (!start(c) && c != '-' && c != '.' && !(c >= '0' && c <= '9'))
            return false;
    }
    return true;
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
// as the inherited setting and leaves as the element's own. `value` and
// `name` are room for an attribute's value and name.
OpenResult ReadStartTag(xml_tag* element, xml_text_tokenizer& tokenizer, bool& preserve, GatheredText& value,
                        std::string& name)
{
    const xml_text_tokenizer::closing_kind closing = tokenizer.closing();
    tokenizer.advance();
    if (closing == xml_text_tokenizer::closing_content)
        return OpenResult::Content;
    if (closing == xml_text_tokenizer::closing_empty)
        return OpenResult::Complete;
    while (tokenizer.token() == xml_text_tokenizer::token_attribute_name) {
        if (element->attributes.find(tokenizer.name()) != nullptr)
            return OpenResult::Failed;
        // The name is kept before the tokenizer moves on from it, unless the
        // input lies in place.
        std::string_view attributeName = tokenizer.name();
        if (!tokenizer.in_place()) {
            name.assign(attributeName);
            attributeName = name;
        }
        tokenizer.advance();
        if (tokenizer.token() != xml_text_tokenizer::token_value_open)
            return OpenResult::Failed;
        tokenizer.advance();
        while (tokenizer.token() == xml_text_tokenizer::token_text) {
            value.Add(tokenizer);
            tokenizer.advance();
        }
        const bool space = attributeName == "xml:space" && value.Is("preserve");
        value.AddAttributeTo(element, attributeName);
        if (space) {
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
// memory, room for its elements (a packet of small values takes about three
// bytes of elements per byte of text; a large text takes a block of its own),
// within limits; a modest block for a stream. Later blocks double.
size_t StoreSizeHint(const i_file& source)
{
    constexpr uint64_t kStreamHint = 64 * 1024;
    constexpr uint64_t kLargestHint = 4 * 1024 * 1024;
    uint64_t hint = kStreamHint;
    if (const auto* memory = dynamic_cast<const buf_ifile<char>*>(&source))
        hint = std::min(std::max(memory->Remaining() * 3, kStreamHint), kLargestHint);
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
        bool scannedName; // a name the tokenizer could have taken
    };

    GatheredText value;
    std::string attributeName;
    switch (ReadStartTag(element, tokenizer, preserve, value, attributeName)) {
    case OpenResult::Failed:
        return false;
    case OpenResult::Complete:
        return true;
    case OpenResult::Content:
        break;
    }
    // Room for the deepest nesting allowed, so that opening an element
    // never reallocates.
    const std::unique_ptr<OpenElement[]> open(new OpenElement[kMaxXmlDepth]);
    size_t depth = 0;
    open[depth++] = {element, preserve, IsXmlName(element->name)};
    // The text of the innermost open element's last piece, set into the
    // piece when the piece ends: at a child, at the end tag, or where the
    // build fails.
    GatheredText piece;
    // Past the end tag of the innermost element: its last piece is set, the
    // enclosing element becomes the innermost. False once the element the
    // build started with is complete.
    auto closeInnermost = [&] {
        xml_tag* closed = open[depth - 1].element;
        piece.SetInto(closed, closed->Text.size() - 1);
        tokenizer.advance();
        if (--depth == 0)
            return false;
        tokenizer.set_preserve(open[depth - 1].preserve);
        return true;
    };
    for (;;) {
        xml_tag* current = open[depth - 1].element;
        switch (tokenizer.token()) {
        case xml_text_tokenizer::token_text:
            piece.Add(tokenizer);
            // Text is mostly followed by the end tag of its element.
            if (!open[depth - 1].scannedName) {
                tokenizer.advance();
            } else if (tokenizer.advance_expecting_end(current->name) && !closeInnermost()) {
                return true;
            }
            break;
        case xml_text_tokenizer::token_start_tag: {
            if (depth >= kMaxXmlDepth) {
                piece.SetInto(current, current->Text.size() - 1);
                return false;
            }
            piece.SetInto(current, current->Text.size() - 1);
            // The element lives in the document store: nothing to give back
            // if the insertion fails.
            xml_tag* child = current->AppendNewChild(tokenizer.name());
            // A tag closed right behind its name has no attributes.
            if (tokenizer.closing() == xml_text_tokenizer::closing_content) {
                tokenizer.advance();
                open[depth] = {child, open[depth - 1].preserve, true};
                ++depth;
                break;
            }
            bool childPreserve = open[depth - 1].preserve;
            switch (ReadStartTag(child, tokenizer, childPreserve, value, attributeName)) {
            case OpenResult::Failed:
                return false;
            case OpenResult::Complete:
                tokenizer.set_preserve(open[depth - 1].preserve);
                break;
            case OpenResult::Content:
                open[depth++] = {child, childPreserve, true};
                break;
            }
            break;
        }
        case xml_text_tokenizer::token_end_tag:
            if (!SameName(tokenizer.name(), current->name)) {
                piece.SetInto(current, current->Text.size() - 1);
                return false;
            }
            if (tokenizer.closing() != xml_text_tokenizer::closing_content) {
                tokenizer.advance();
                if (tokenizer.token() != xml_text_tokenizer::token_tag_close) {
                    piece.SetInto(current, current->Text.size() - 1);
                    return false;
                }
            }
            if (!closeInnermost())
                return true;
            break;
        default:
            piece.SetInto(current, current->Text.size() - 1);
            return false;
        }
    }
}

bool load_xml_document(xml_tag*& root, i_file& source, int32_t& line, int32_t& column, XmlText text)
{
    if (root != nullptr) {
        free_xml_tag(root);
        delete root;
        root = nullptr;
    }
    // Text that is one block in memory already (a packet always is) is
    // copied once into the store of the document that is read from it, or
    // borrowed as it lies: the tree's names and plain texts are then those
    // bytes where they lie.
    // The document is made ahead of its root element, and unmade when no
    // root element follows.
    std::unique_ptr<xml_tag> document;
    const char* copy = nullptr;
    if (typeid(source) == typeid(buf_ifile<char>)) {
        const auto& memory = static_cast<const buf_ifile<char>&>(source);
        const uint64_t rest = memory.Remaining();
        const bool binary = rest >= 4 && std::memcmp(memory.Rest(), "BXML", 4) == 0;
        if (!binary && rest <= std::numeric_limits<size_t>::max() / 2) {
            document = std::make_unique<xml_tag>();
            document->UseDocumentStore(StoreSizeHint(source));
            if (text == XmlText::Copied)
                copy = document->KeepDocumentText(memory.Rest(), static_cast<size_t>(rest));
            else if (document->ReferDocumentText(memory.Rest(), static_cast<size_t>(rest)))
                copy = memory.Rest();
        }
    }
    xml_text_tokenizer tokenizer;
    if (copy != nullptr) {
        tokenizer.start(&source, copy);
    } else {
        document = std::make_unique<xml_tag>();
        document->UseDocumentStore(StoreSizeHint(source)); // taken before the tokenizer moves the source on
        tokenizer.start(&source);
    }
    line = tokenizer.line();
    column = static_cast<int32_t>(tokenizer.column() + 1);

    bool result = false;
    switch (tokenizer.token()) {
    case xml_text_tokenizer::token_start_tag:
        document->SetName(tokenizer.name());
        root = document.release();
        result = build_xml_tree(root, tokenizer, false) && tokenizer.token() == xml_text_tokenizer::token_end &&
            source.IsClear();
        break;
    case xml_text_tokenizer::token_binary_magic:
        document.reset();
        return load_binary_xml_document(root, source);
    default:
        break;
    }
    line = tokenizer.line();
    column = static_cast<int32_t>(tokenizer.column() + 1);
    return result;
}
