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

NarrowedText::NarrowedText(const xml_text& text)
{
    // Each unit to its low 8 bits, up to the first unit that gives 0 (a
    // U+0000 unit among them).
    text.visit([this](auto units) {
        size_t length = 0;
        while (length < units.size() && (units[length] & 0xFF) != 0)
            ++length;
        char* out = m_small;
        if (length >= sizeof m_small) {
            m_large.resize(length);
            out = m_large.data();
        }
        for (size_t i = 0; i < length; ++i)
            out[i] = static_cast<char>(units[i] & 0xFF);
        out[length] = '\0';
        m_text = out;
        m_length = length;
    });
}

std::string NarrowText(const xml_text& text)
{
    const NarrowedText narrow(text);
    return std::string(narrow.c_str(), narrow.size());
}

void ParseUInt64(const xml_text& text, uint64_t& value)
{
    const NarrowedText narrow(text);
    value = std::strtoull(narrow.c_str(), nullptr, 10);
}

void ParseInt64(const xml_text& text, int64_t& value)
{
    const NarrowedText narrow(text);
    value = std::strtoll(narrow.c_str(), nullptr, 10);
}

void ParseDouble(const xml_text& text, double& value)
{
    const NarrowedText narrow(text);
    char* end = nullptr;
    const locale_t locale = ClassicLocale();
    const double parsed = locale != static_cast<locale_t>(0) ? strtod_l(narrow.c_str(), &end, locale)
                                                             : std::strtod(narrow.c_str(), &end);
    if (end != narrow.c_str())
        value = parsed;
}

void ParseBool(const xml_text& text, bool& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = number != 0;
}

void ParseChar(const xml_text& text, char& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<char>(static_cast<unsigned char>(number & 0xFF));
}

void ParseUInt32(const xml_text& text, uint32_t& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<uint32_t>(number);
}

void ParseUInt16(const xml_text& text, uint16_t& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<uint16_t>(number);
}

void ParseInt32(const xml_text& text, int32_t& value)
{
    int64_t number = 0;
    ParseInt64(text, number);
    value = static_cast<int32_t>(static_cast<uint64_t>(number));
}

void ParseInt16(const xml_text& text, int16_t& value)
{
    int64_t number = 0;
    ParseInt64(text, number);
    value = static_cast<int16_t>(static_cast<uint64_t>(number));
}

} // namespace Serialization
