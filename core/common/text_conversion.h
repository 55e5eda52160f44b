// Conversions between UTF-16 text (std::u16string, char16_t: user-visible and
// object-model text) and 8-bit text (std::string: host names, source paths,
// XML names, request identifiers), with UTF-8 as the form between them.
//
// The converters replace their output; callers that build text piece by piece
// convert into a temporary and append it. Lengths given explicitly are never
// read past; kWholeText stands for "up to the terminator".
//
// Where the processor has a byte shuffle (SSSE3) the converters take blocks
// of text with it; the results are the same either way.
//
// Threading: free functions; safe from any thread. Their one state is the
// switch of AllowByteShuffle, an atomic flag.
#pragma once

#include <cstddef>
#include <string>

namespace Common {

// The length that stands for the whole text up to its terminating 0.
inline constexpr size_t kWholeText = static_cast<size_t>(-1);

// UTF-16 -> UTF-8 of at most `length` units, stopping early at a 0 unit. A
// surrogate pair becomes four bytes; a lone surrogate is encoded as three
// bytes like any other unit of its range. Always returns true.
bool ConvertUtf16ToUtf8(std::string& out, const char16_t* source, size_t length);

// UTF-8 -> UTF-16 of at most `length` bytes, stopping early at a 0 byte.
// Returns true when the input was well-formed. Overlong forms are stored with
// the result false; undecodable bytes give U+FFFD one byte at a time.
bool ConvertUtf8ToUtf16(std::u16string& out, const char* source, size_t length);

// Whether the converters may use the byte shuffle where the processor has
// one (the default). Tests turn it off to reach the paths for processors
// without; conversions started afterwards follow it.
void AllowByteShuffle(bool allowed);

// Whole-text conversions; null gives the empty string.
std::string ToUtf8(const char16_t* text);
std::u16string FromUtf8(const char* text);

// Each byte as one unit of the same value (no decoding), 0-terminated, in a
// new[] array that the caller releases with delete[]. Null gives null.
char16_t* WidenCString(const char* text);

// The low 8 bits of each unit, 0-terminated, in a new[] array that the caller
// releases with delete[]. Null gives null.
char* NarrowCString(const char16_t* text);

// Makes the string empty in place.
void ClearString(std::u16string& text);

} // namespace Common
