#include "core/common/like_match.h"

namespace Common {

bool MatchLikePattern(const std::u16string& text, const std::u16string& pattern, char16_t anyRun, char16_t single)
{
    if (pattern.empty())
        return true;
    const size_t textSize = text.size();
    const size_t patternSize = pattern.size();
    constexpr size_t kNone = static_cast<size_t>(-1);

    size_t t = 0;
    size_t p = 0;
    size_t lastRun = kNone; // pattern position of the last any-run wildcard
    size_t runEnd = 0;      // text position just after what it has taken
    while (t < textSize) {
        if (p < patternSize && pattern[p] == anyRun) {
            lastRun = p++;
            runEnd = t;
        } else if (p < patternSize && (pattern[p] == single || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (lastRun != kNone) {
            // The last any-run wildcard takes one more unit.
            p = lastRun + 1;
            t = ++runEnd;
        } else {
            return false;
        }
    }
    while (p < patternSize && pattern[p] == anyRun)
        ++p;
    return p == patternSize;
}

} // namespace Common
