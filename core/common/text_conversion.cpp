#include "core/common/text_conversion.h"

#include <cstdint>

namespace Common {
namespace {

// Number of units before the first 0 among the first `length` units.
template <typename Unit>
size_t EffectiveLength(const Unit* source, size_t length)
{
    size_t count = 0;
    while (count < length && source[count] != 0)
        ++count;
    return count;
}

inline bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

constexpr char16_t kReplacement = 0xFFFD;

} // namespace

bool ConvertUtf16ToUtf8(std::string& out, const char16_t* source, size_t length)
{
    out.clear();
    if (source == nullptr)
        return true;
    const size_t count = EffectiveLength(source, length);
    // At most three bytes per unit (a pair gives four bytes for two units).
    out.resize(count * 3);
    char* write = out.data();
    size_t index = 0;
    while (index < count) {
        const uint32_t unit = source[index];
        if (unit < 0x80) {
            *write++ = static_cast<char>(unit);
            ++index;
        } else if (unit < 0x800) {
            *write++ = static_cast<char>(0xC0 | unit >> 6);
            *write++ = static_cast<char>(0x80 | (unit & 0x3F));
            ++index;
        } else if (unit >= 0xD800 && unit <= 0xDBFF && index + 1 < count && source[index + 1] >= 0xDC00 &&
                   source[index + 1] <= 0xDFFF) {
            const uint32_t low = source[index + 1];
            const uint32_t cp = ((unit & 0x3FF) << 10 | (low & 0x3FF)) + 0x10000;
            *write++ = static_cast<char>(0xF0 | cp >> 18);
            *write++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            *write++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            *write++ = static_cast<char>(0x80 | (cp & 0x3F));
            index += 2;
        } else {
            *write++ = static_cast<char>(0xE0 | unit >> 12);
            *write++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
            *write++ = static_cast<char>(0x80 | (unit & 0x3F));
            ++index;
        }
    }
    out.resize(static_cast<size_t>(write - out.data()));
    return true;
}

bool ConvertUtf8ToUtf16(std::u16string& out, const char* source, size_t length)
{
    out.clear();
    if (source == nullptr)
        return true;
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    const size_t count = EffectiveLength(bytes, length);
    // At most one unit per byte (four bytes give at most two units).
    out.resize(count);
    char16_t* write = out.data();
    bool wellFormed = true;
    size_t index = 0;
    while (index < count) {
        const uint32_t lead = bytes[index];
        const size_t left = count - index;
        if (lead < 0x80) {
            *write++ = static_cast<char16_t>(lead);
            ++index;
        } else if ((lead & 0xE0) == 0xC0 && left >= 2 && IsContinuation(bytes[index + 1])) {
            const uint32_t value = (lead & 0x1F) << 6 | (bytes[index + 1] & 0x3F);
            if (value < 0x80)
                wellFormed = false;
            *write++ = static_cast<char16_t>(value);
            index += 2;
        } else if ((lead & 0xF0) == 0xE0 && left >= 3 && IsContinuation(bytes[index + 1]) &&
                   IsContinuation(bytes[index + 2])) {
            const uint32_t value = (lead & 0x0F) << 12 | (bytes[index + 1] & 0x3F) << 6 | (bytes[index + 2] & 0x3F);
            if (value < 0x800)
                wellFormed = false;
            *write++ = static_cast<char16_t>(value);
            index += 3;
        } else if ((lead & 0xF8) == 0xF0 && left >= 4 && IsContinuation(bytes[index + 1]) &&
                   IsContinuation(bytes[index + 2]) && IsContinuation(bytes[index + 3])) {
            const uint32_t value = (lead & 0x07) << 18 | (bytes[index + 1] & 0x3F) << 12 |
                (bytes[index + 2] & 0x3F) << 6 | (bytes[index + 3] & 0x3F);
            if (value <= 0xFFFF) {
                wellFormed = false;
                *write++ = static_cast<char16_t>(value);
            } else if (value <= 0x10FFFF) {
                *write++ = static_cast<char16_t>(0xD800 | (value - 0x10000) >> 10);
                *write++ = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
            } else {
                wellFormed = false;
                *write++ = kReplacement;
            }
            index += 4;
        } else {
            wellFormed = false;
            *write++ = kReplacement;
            ++index;
        }
    }
    out.resize(static_cast<size_t>(write - out.data()));
    return wellFormed;
}

std::string ToUtf8(const char16_t* text)
{
    std::string result;
    if (text != nullptr)
        ConvertUtf16ToUtf8(result, text, kWholeText);
    return result;
}

std::u16string FromUtf8(const char* text)
{
    std::u16string result;
    if (text != nullptr)
        ConvertUtf8ToUtf16(result, text, kWholeText);
    return result;
}

char16_t* WidenCString(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const size_t length = std::char_traits<char>::length(text);
    auto* result = new char16_t[length + 1];
    for (size_t i = 0; i < length; ++i)
        result[i] = static_cast<unsigned char>(text[i]);
    result[length] = 0;
    return result;
}

char* NarrowCString(const char16_t* text)
{
    if (text == nullptr)
        return nullptr;
    const size_t length = std::char_traits<char16_t>::length(text);
    auto* result = new char[length + 1];
    for (size_t i = 0; i < length; ++i)
        result[i] = static_cast<char>(text[i] & 0xFF);
    result[length] = 0;
    return result;
}

void ClearString(std::u16string& text)
{
    text.clear();
}

} // namespace Common
