// Test helpers of the XML reader tests and fuzz targets: loading a byte
// string, checking the tree invariants and describing a tree in one line.
//
// Threading: plain functions; each call works on its own data.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"

namespace XmlTest {

// One load over an in-memory source; owns the tree.
struct Loaded
{
    bool ok = false;
    xml_tag* root = nullptr;
    int32_t line = 0;
    int32_t column = 0;

    Loaded() = default;
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    ~Loaded()
    {
        free_xml_tag(root);
        delete root;
    }
};

// A source that delivers at most a few bytes per read, as a pipe or a socket
// may: the read limits are taken from `steps` in turn (each at least 1). It
// records every request and can fail its slot once the data is exhausted.
class TrickleSource : public i_file
{
public:
    TrickleSource(std::string data, std::vector<size_t> steps, bool failAtEnd = false)
        : m_data(std::move(data)), m_steps(std::move(steps)), m_failAtEnd(failAtEnd)
    {
        if (m_steps.empty())
            m_steps.push_back(1);
    }
    TrickleSource(std::string data, size_t step, bool failAtEnd = false)
        : TrickleSource(std::move(data), std::vector<size_t>{step}, failAtEnd)
    {
    }

    using i_file::Read;
    void Read(void* buffer, uint64_t size, uint64_t* bytesRead) override
    {
        m_requests.push_back(size);
        size_t count = m_data.size() - m_position;
        const size_t step = m_steps[m_next++ % m_steps.size()];
        if (count > step)
            count = step == 0 ? 1 : step;
        if (count > size)
            count = static_cast<size_t>(size);
        m_data.copy(static_cast<char*>(buffer), count, m_position);
        m_position += count;
        *bytesRead = count;
        if (count == 0 && m_failAtEnd)
            SetError(Common::Error(0x40001u, Common::NoLocation));
    }

    const std::vector<uint64_t>& Requests() const { return m_requests; }
    size_t Position() const { return m_position; }

private:
    std::string m_data;
    std::vector<size_t> m_steps;
    bool m_failAtEnd;
    size_t m_next = 0;
    size_t m_position = 0;
    std::vector<uint64_t> m_requests;
};

inline void Load(Loaded& result, const std::string& bytes, XmlText text = XmlText::Copied)
{
    buf_ifile<char> source(bytes.data(), bytes.size());
    result.ok = load_xml_document(result.root, source, result.line, result.column, text);
}

// The tree invariants: every tag holds one text piece more than it has
// children, and every child links back to its parent. Returns the first tag
// that breaks them, or nullptr. Walks without recursion, so a deep tree cannot
// exhaust the stack.
inline const xml_tag* FindShapeFault(const xml_tag& root)
{
    std::vector<const xml_tag*> pending{&root};
    while (!pending.empty()) {
        const xml_tag* tag = pending.back();
        pending.pop_back();
        if (tag->Text.size() != tag->children.size() + 1)
            return tag;
        for (const xml_tag* child : tag->children) {
            if (child->parent != tag)
                return child;
            pending.push_back(child);
        }
    }
    return nullptr;
}

// UTF-16 text as printable ASCII: characters from 0x20 to 0x7E stand as they
// are, except '"' and '\', and every other unit as \uXXXX.
inline std::string Printable(std::u16string_view text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != u'"' && unit != u'\\') {
            out.push_back(static_cast<char>(unit));
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out.push_back(kHex[(unit >> shift) & 0xF]);
        }
    }
    return out;
}

// name(@attr="value" ... "piece0" child "piece1" ...)
inline std::string Describe(const xml_tag& tag)
{
    std::string out(tag.name);
    out += "(";
    for (const auto& [name, value] : tag.attributes)
        out.append("@").append(name).append("=\"").append(Printable(value.str())).append("\" ");
    for (size_t i = 0; i < tag.Text.size(); ++i) {
        if (i > 0 && i - 1 < tag.children.size())
            out += " " + Describe(*tag.children[i - 1]) + " ";
        out += "\"" + Printable(tag.Text[i].str()) + "\"";
    }
    return out + ")";
}

// A generated text document for differential checks of the reader: nested
// elements with attributes, words between runs of white space of every kind,
// references, CDATA, comments, preserved white space and, now and then, a
// fault (a bad byte, a mismatched end tag). The same seed gives the same bytes.
inline std::string GenerateDocument(uint64_t seed)
{
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    auto next = [&state](uint64_t bound) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state % bound;
    };
    static const char* const kWords[] = {"record",       "x",     "a-b",   "12",        "\xC3\xA9t\xC3\xA9",
                                         "\xE4\xB8\xAD", "&amp;", "&#65;", "&#x1F600;", "&lt;tag&gt;",
                                         "q&quot;",      "z"};
    static const char* const kWhite[] = {" ", "  ", "\t", "\n", " \n ", "\r\n", ""};
    static const char* const kNames[] = {"item", "id", "name", "title", "vector", "records", "n:s", "_x.1"};
    std::string out = next(4) == 0 ? "\xEF\xBB\xBF" : "";
    if (next(3) == 0)
        out += "<?xml version='1.0'?>\n";
    std::vector<std::string> open;
    auto text = [&] {
        const uint64_t words = next(5);
        for (uint64_t i = 0; i < words; ++i) {
            out += kWhite[next(sizeof kWhite / sizeof kWhite[0])];
            out += kWords[next(sizeof kWords / sizeof kWords[0])];
        }
        out += kWhite[next(sizeof kWhite / sizeof kWhite[0])];
    };
    const uint64_t elements = 1 + next(40);
    for (uint64_t e = 0; e < elements; ++e) {
        const std::string name = kNames[next(sizeof kNames / sizeof kNames[0])];
        out += "<" + name;
        if (next(3) == 0)
            out += " version=\"" + std::to_string(next(5)) + "\"";
        if (next(8) == 0)
            out += " xml:space='preserve'";
        if (next(4) == 0) {
            out += " k='";
            text();
            out += "'";
        }
        if (next(5) == 0) {
            out += "/>";
        } else {
            out += ">";
            open.push_back(name);
        }
        text();
        switch (next(12)) {
        case 0:
            out += "<![CDATA[ a\r\n <b> ]] ]]>";
            break;
        case 1:
            out += "<!-- note -->";
            break;
        case 2:
            if (!open.empty()) {
                out += "</" + open.back() + ">";
                open.pop_back();
            }
            break;
        default:
            break;
        }
        text();
    }
    if (next(20) == 0)
        out += next(2) == 0 ? "\xC3(" : "</wrong>";
    while (!open.empty()) {
        out += "</" + open.back() + ">";
        open.pop_back();
        text();
    }
    return out;
}

// A 64-bit digest of a load: result, line, column and the whole tree.
inline uint64_t LoadDigest(const Loaded& loaded)
{
    const std::string shape = std::to_string(loaded.ok) + "|" + std::to_string(loaded.line) + "|" +
        std::to_string(loaded.column) + "|" + (loaded.root != nullptr ? Describe(*loaded.root) : "(no tree)");
    uint64_t digest = 0xcbf29ce484222325ull;
    for (unsigned char byte : shape)
        digest = (digest ^ byte) * 0x100000001b3ull;
    return digest;
}

} // namespace XmlTest
