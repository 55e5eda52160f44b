// Filling of numbered placeholders ("{0}", "{1}", ...) in message templates,
// such as the texts of the message catalogue.
//
// A placeholder is "{", one or more decimal digits and "}"; its index is the
// 32-bit truncation of the decimal value. Substitution goes left to right;
// inserted text is never scanned again, and the first placeholder whose index
// has no argument ends the substitution (it and every later one stay as
// written).
//
// Threading: free functions without state; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Common {

// A copy of `messageTemplate` with its placeholders filled from `arguments`.
std::u16string FormatMessage(const std::u16string& messageTemplate, const std::vector<std::u16string>& arguments);

// FormatMessage with a one-element argument list.
std::u16string FormatMessageWithArgument(const std::u16string& messageTemplate, const std::u16string& argument);
// The same for a catalogue text (GetMessageText); null counts as empty.
std::u16string FormatCatalogueMessage(const char16_t* messageTemplate, const std::u16string& argument);

// The substitution behind FormatMessage.
std::u16string SubstitutePlaceholders(const std::u16string& messageTemplate,
                                      const std::vector<std::u16string>& arguments);

// Position of the next placeholder at or after `start`, with its index and its
// length (digits + 2); npos when there is none.
size_t FindPlaceholder(const std::u16string& messageTemplate, size_t start, uint32_t& index, size_t& length);

// The index written by the `count` digits at `position` of the template.
void ParsePlaceholderIndex(const std::u16string& messageTemplate, size_t position, size_t count, uint32_t& index);

} // namespace Common
