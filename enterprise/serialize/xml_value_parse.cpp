#include "enterprise/serialize/xml_value_parse.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>
#include <memory>

#include "core/common/text_conversion.h"

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

std::string NarrowText(const std::u16string& text)
{
    std::unique_ptr<char[]> narrow(Common::NarrowCString(text.c_str()));
    return std::string(narrow.get());
}

void ParseUInt64(const std::u16string& text, uint64_t& value)
{
    const std::string narrow = NarrowText(text);
    value = std::strtoull(narrow.c_str(), nullptr, 10);
}

void ParseInt64(const std::u16string& text, int64_t& value)
{
    const std::string narrow = NarrowText(text);
    value = std::strtoll(narrow.c_str(), nullptr, 10);
}

void ParseDouble(const std::u16string& text, double& value)
{
    const std::string narrow = NarrowText(text);
    char* end = nullptr;
    const locale_t locale = ClassicLocale();
    const double parsed = locale != static_cast<locale_t>(0) ? strtod_l(narrow.c_str(), &end, locale)
                                                             : std::strtod(narrow.c_str(), &end);
    if (end != narrow.c_str())
        value = parsed;
}

void ParseBool(const std::u16string& text, bool& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = number != 0;
}

void ParseChar(const std::u16string& text, char& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<char>(static_cast<unsigned char>(number & 0xFF));
}

void ParseUInt32(const std::u16string& text, uint32_t& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<uint32_t>(number);
}

void ParseUInt16(const std::u16string& text, uint16_t& value)
{
    uint64_t number = 0;
    ParseUInt64(text, number);
    value = static_cast<uint16_t>(number);
}

void ParseInt32(const std::u16string& text, int32_t& value)
{
    int64_t number = 0;
    ParseInt64(text, number);
    value = static_cast<int32_t>(static_cast<uint64_t>(number));
}

void ParseInt16(const std::u16string& text, int16_t& value)
{
    int64_t number = 0;
    ParseInt64(text, number);
    value = static_cast<int16_t>(static_cast<uint64_t>(number));
}

} // namespace Serialization
