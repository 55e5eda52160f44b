// Fuzz target of the placeholder formatter: the input is a UTF-16 template and
// up to three arguments, separated by 0xFFFF units.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/common/message_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::u16string input(size / 2, u'\0');
    std::memcpy(input.data(), data, input.size() * 2);
    std::vector<std::u16string> parts;
    size_t start = 0;
    for (;;) {
        const size_t separator = input.find(char16_t(0xFFFF), start);
        parts.push_back(
            input.substr(start, separator == std::u16string::npos ? std::u16string::npos : separator - start));
        if (separator == std::u16string::npos || parts.size() == 4)
            break;
        start = separator + 1;
    }
    const std::u16string messageTemplate = parts.front();
    parts.erase(parts.begin());
    Common::FormatMessage(messageTemplate, parts);
    return 0;
}
