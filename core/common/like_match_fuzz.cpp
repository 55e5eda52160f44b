// Fuzz target of the LIKE matcher: the input is a UTF-16 pattern and text,
// separated by the first 0xFFFF unit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/common/like_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    std::u16string input(size / 2, u'\0');
    std::memcpy(input.data(), data, input.size() * 2);
    const size_t separator = input.find(char16_t(0xFFFF));
    const std::u16string pattern = input.substr(0, separator);
    const std::u16string text = separator == std::u16string::npos ? std::u16string() : input.substr(separator + 1);
    const bool matches = Common::MatchLikePattern(text, pattern, u'%', u'_');
    // A pattern always matches itself when its literal units are the text.
    if (pattern.find_first_of(u"%_") == std::u16string::npos && !Common::MatchLikePattern(pattern, pattern, u'%', u'_'))
        std::abort();
    // A run wildcard in front never turns a match into a mismatch.
    if (matches && !Common::MatchLikePattern(text, u"%" + pattern, u'%', u'_'))
        std::abort();
    return 0;
}
