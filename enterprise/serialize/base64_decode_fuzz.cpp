// Fuzz target of Base64 decoding and of the memory file over it: DecodeBase64
// must agree with a small reference decoder written straight from the rules
// (valid or not, and the same bytes), MeasureBase64 must count those bytes,
// a Base64Stream must deliver them in pieces of any size, and the memory file
// made from an element's text must deliver exactly those bytes, however they
// are read.
//
// Input: each byte is one UTF-16 unit of the text, except that 0xFF takes the
// next two bytes as one unit, so that units above U+007F occur as well.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "enterprise/serialize/base64_decode.h"
#include "enterprise/serialize/memory_file.h"

namespace {

int ValueOf(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return c - u'A';
    if (c >= u'a' && c <= u'z')
        return c - u'a' + 26;
    if (c >= u'0' && c <= u'9')
        return c - u'0' + 52;
    if (c == u'+')
        return 62;
    if (c == u'/')
        return 63;
    return -1;
}

bool IsSpace(char16_t c)
{
    return c == u'\t' || c == u'\n' || c == u'\r' || c == u' ';
}

// The rules as stated: white space anywhere; groups of four characters give
// three bytes; "=" ends the data, after two characters of a group as "==" and
// after three as "="; only white space after the fill; no cut group.
std::optional<std::vector<uint8_t>> Reference(const std::u16string& text)
{
    std::vector<int> values;
    size_t at = 0;
    for (; at < text.size() && text[at] != u'='; ++at) {
        if (IsSpace(text[at]))
            continue;
        const int value = ValueOf(text[at]);
        if (value < 0)
            return std::nullopt;
        values.push_back(value);
    }
    const size_t partial = values.size() % 4;
    if (at == text.size()) {
        if (partial != 0)
            return std::nullopt;
    } else {
        if (partial < 2)
            return std::nullopt;
        ++at; // the first fill
        if (partial == 2) {
            while (at < text.size() && IsSpace(text[at]))
                ++at;
            if (at == text.size() || text[at] != u'=')
                return std::nullopt;
            ++at;
        }
        for (; at < text.size(); ++at)
            if (!IsSpace(text[at]))
                return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    uint32_t group = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        group = group << 6 | static_cast<uint32_t>(values[i]);
        if (i % 4 == 3) {
            bytes.push_back(static_cast<uint8_t>(group >> 16));
            bytes.push_back(static_cast<uint8_t>(group >> 8));
            bytes.push_back(static_cast<uint8_t>(group));
            group = 0;
        }
    }
    if (partial == 2)
        bytes.push_back(static_cast<uint8_t>(group >> 4));
    if (partial == 3) {
        bytes.push_back(static_cast<uint8_t>(group >> 10));
        bytes.push_back(static_cast<uint8_t>(group >> 2));
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::u16string text;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 2 < size) {
            text.push_back(static_cast<char16_t>(data[i + 1] << 8 | data[i + 2]));
            i += 2;
        } else {
            text.push_back(data[i]);
        }
    }
    const std::optional<std::vector<uint8_t>> expected = Reference(text);

    // Exactly the stated capacity, so that a write beyond it is caught.
    std::unique_ptr<uint8_t[]> out(new uint8_t[Serialization::Base64DecodedCapacity(text.size()) + 1]);
    const uint8_t* end = Serialization::DecodeBase64(out.get(), text.data(), text.data() + text.size(),
                                                     Serialization::kBase64ClassTable.data());
    if ((end != nullptr) != expected.has_value())
        std::abort();
    if (end != nullptr &&
        (static_cast<size_t>(end - out.get()) != expected->size() ||
         (!expected->empty() && std::memcmp(out.get(), expected->data(), expected->size()) != 0)))
        std::abort();

    uint64_t measured = 0;
    const bool valid = Serialization::MeasureBase64(text.data(), text.data() + text.size(),
                                                    Serialization::kBase64ClassTable.data(), measured);
    if (valid != expected.has_value() || (valid && measured != expected->size()))
        std::abort();
    if (valid) {
        // Pieces of 1, 2, 3, ... bytes, then one byte past the end.
        Serialization::Base64Stream<char16_t> stream(text.data(), text.data() + text.size(),
                                                     Serialization::kBase64ClassTable.data());
        std::vector<uint8_t> streamed;
        for (size_t piece = 1; streamed.size() < expected->size(); ++piece) {
            uint8_t buffer[64];
            const size_t want = std::min(piece % sizeof buffer, expected->size() - streamed.size());
            if (stream.Read(buffer, want) != want)
                std::abort();
            streamed.insert(streamed.end(), buffer, buffer + want);
        }
        uint8_t beyond = 0;
        if (streamed != *expected || stream.Read(&beyond, 1) != 0)
            std::abort();
    }

    xml_tag element("e");
    element.SetText(0, std::u16string_view(text));
    std::unique_ptr<ri_file> file = Serialization::CreateMemoryFile(element);
    if ((file != nullptr) != expected.has_value())
        std::abort();
    if (!file)
        return 0;
    if (file->GetSize() != expected->size())
        std::abort();
    // Read in pieces of 1, 2, 3, ... bytes; then one read past the end.
    std::vector<uint8_t> read;
    for (uint64_t piece = 1; read.size() < expected->size(); ++piece) {
        uint8_t buffer[64];
        const uint64_t want = piece % sizeof buffer;
        uint64_t count = 0;
        file->Read(buffer, want, &count);
        if (count > want || (count == 0 && want != 0))
            std::abort();
        read.insert(read.end(), buffer, buffer + count);
    }
    if (read != *expected)
        std::abort();
    uint8_t extra = 0;
    if (file->Read(&extra, 1) != 0 || file->IsClear())
        std::abort();
    file->Seek(0);
    if (file->Read(&extra, 1) != 0)
        std::abort(); // a failed file reads nothing
    return 0;
}
