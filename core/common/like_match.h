// LIKE pattern matching of UTF-16 text, as the object model's "Like" pattern
// operator uses it (with "%" for any run and "_" for a single unit).
//
// Threading: free function without state; safe from any thread.
#pragma once

#include <string>

namespace Common {

// True when the whole `text` matches the whole `pattern`: `anyRun` matches any
// run of units (none included), `single` exactly one unit, every other unit
// itself (case-sensitive). An empty pattern matches every text.
bool MatchLikePattern(const std::u16string& text, const std::u16string& pattern, char16_t anyRun, char16_t single);

} // namespace Common
