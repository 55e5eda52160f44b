#include "enterprise/serialize/xml_value_parse.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace Serialization {

namespace {

// The "C" locale, made once; null when it cannot be made (then the process
// locale is used).
locale_t ClassicLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

} // namespace

NarrowedText::NarrowedText(std::u16string_view text)
{
    // Each unit to its low 8 bits, up to the first unit that gives 0 (a
    // U+0000 unit among them).
    size_t length = 0;
    while (length < text.size() && (text[length] & 0xFF) != 0)
        ++length;
    char* out = m_small;
    if (length >= sizeof m_small) {
        m_large.resize(length);
        out = m_large.data();
    }
    for (size_t i = 0; i < length; ++i)
        out[i] = static_cast<char>(text[i] & 0xFF);
    out[length] = '\0';
    m_text = out;
    m_length = length;
}

std::string NarrowText(std::u16string_view text)
{
    const NarrowedText narrow(text);
    return std::string(narrow.c_str(), narrow.size());
}

void ParseUInt64(std::u16string_view text, uint64_t& value)
{
    const NarrowedText narrow(text);
    value = std::strtoull(narrow.c_str(), nullptr, 10);
}

void ParseInt64(std::u16string_view text, int64_t& value)
{
    const NarrowedText narrow(text);
    value = std::strtoll(narrow.c_str(), nullptr, 10);
}

void ParseDouble(std::u16string_view text, double& value)
{
    const NarrowedText narrow(text);
    char* end = nullptr;
    const locale_t locale = ClassicLocale();
    const double parsed = locale != static_cast<locale_t>(0) ? strtod_l(narrow.c_str(), &end, locale)
                                                             : std::strtod(narrow.c_str(), &end);
    if (end != narrow.c_str())
        value = parsed;
}

void ParseBool(std::u16string_view text, bool& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = number != 0;
}

void ParseChar(std::u16string_view text, char& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<char>(static_cast<unsigned char>(number & 0xFF));
}

void ParseUInt32(std::u16string_view text, uint32_t& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<uint32_t>(number);
}

void ParseUInt16(std::u16string_view text, uint16_t& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<uint16_t>(number);
}

void ParseInt32(std::u16string_view text, int32_t& value)
{
    int64_t number = 0;
    ParseInt64(text, number);
    value = static_cast<int32_t>(static_cast<uint64_t>(number));
}

void ParseInt16(std::u16string_view text, int16_t& value)
{
    int64_t number = 0;
    ParseInt64(text, number);
    value = static_cast<int16_t>(static_cast<uint64_t>(number));
}

} // namespace Serialization
