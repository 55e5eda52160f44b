// Feeds arbitrary 8-bit and UTF-16 texts to the packet text rules and checks
// what every output must satisfy: the text before it is untouched, no NUL
// byte, well-formed UTF-8, and a CDATA form only for a text that allows it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "enterprise/serialize/xml_text.h"

namespace {

bool IsWellFormedUtf8(const std::string& text, size_t from)
{
    for (size_t i = from; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (next & 0x3F);
        }
        static const uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kMinimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

void Check(const std::string& out, const std::string& prefix, bool empty)
{
    if (out.compare(0, prefix.size(), prefix) != 0)
        std::abort();
    if (empty != (out.size() == prefix.size()))
        std::abort();
    if (std::memchr(out.data() + prefix.size(), 0, out.size() - prefix.size()))
        std::abort();
    if (!IsWellFormedUtf8(out, prefix.size()))
        std::abort();
    if (out.compare(prefix.size(), 9, "<![CDATA[") == 0) {
        std::string body = out.substr(prefix.size() + 9, out.size() - prefix.size() - 12);
        if (body.find("]]>") != std::string::npos || out.compare(out.size() - 3, 3, "]]>") != 0)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string prefix = "<v>";
    std::string narrowOut = prefix;
    Serialization::Detail::AppendXmlText(narrowOut, reinterpret_cast<const char*>(data), size);
    Check(narrowOut, prefix, size == 0);

    std::u16string wide(size / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    std::string wideOut = prefix;
    Serialization::Detail::AppendXmlText(wideOut, wide.data(), wide.size());
    Check(wideOut, prefix, wide.empty());
    return 0;
}
