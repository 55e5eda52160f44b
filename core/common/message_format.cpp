#include "core/common/message_format.h"

#include "core/common/number_text.h"

namespace Common {
namespace {

// Placeholder indexes are read from at most this many digits (as strtoull of a
// terminated copy does).
constexpr size_t kIndexDigitLimit = 63;

bool IsDigit(char16_t unit)
{
    return unit >= u'0' && unit <= u'9';
}

} // namespace

std::u16string FormatMessage(const std::u16string& messageTemplate, const std::vector<std::u16string>& arguments)
{
    return SubstitutePlaceholders(messageTemplate, arguments);
}

std::u16string FormatMessageWithArgument(const std::u16string& messageTemplate, const std::u16string& argument)
{
    return FormatMessage(messageTemplate, std::vector<std::u16string>{argument});
}

std::u16string FormatCatalogueMessage(const char16_t* messageTemplate, const std::u16string& argument)
{
    return FormatMessage(messageTemplate != nullptr ? std::u16string(messageTemplate) : std::u16string(),
                         std::vector<std::u16string>{argument});
}

std::u16string SubstitutePlaceholders(const std::u16string& messageTemplate,
                                      const std::vector<std::u16string>& arguments)
{
    std::u16string result = messageTemplate;
    size_t position = 0;
    for (;;) {
        uint32_t index = 0;
        size_t length = 0;
        const size_t found = FindPlaceholder(result, position, index, length);
        if (found == std::u16string::npos || index >= arguments.size())
            break;
        const std::u16string& argument = arguments[index];
        result.replace(found, length, argument);
        position = found + argument.size();
    }
    return result;
}

size_t FindPlaceholder(const std::u16string& messageTemplate, size_t start, uint32_t& index, size_t& length)
{
    const size_t size = messageTemplate.size();
    size_t position = start;
    for (;;) {
        const size_t brace = messageTemplate.find(u'{', position);
        if (brace == std::u16string::npos)
            return std::u16string::npos;
        const size_t digits = brace + 1;
        if (digits >= size || !IsDigit(messageTemplate[digits])) {
            position = brace + 1;
            continue;
        }
        size_t end = digits;
        while (end < size && IsDigit(messageTemplate[end]))
            ++end;
        if (end == size)
            return std::u16string::npos;
        if (messageTemplate[end] == u'}') {
            ParsePlaceholderIndex(messageTemplate, digits, end - digits, index);
            length = end - digits + 2;
            return brace;
        }
        position = end;
    }
}

void ParsePlaceholderIndex(const std::u16string& messageTemplate, size_t position, size_t count, uint32_t& index)
{
    // The 8-bit form of the digits only: the rest of the template is not needed.
    char narrow[kIndexDigitLimit];
    size_t taken = 0;
    while (taken < count && taken < kIndexDigitLimit && position + taken < messageTemplate.size()) {
        narrow[taken] = static_cast<char>(messageTemplate[position + taken] & 0xFF);
        ++taken;
    }
    index = ParseDecimal32(narrow, taken);
}

} // namespace Common
