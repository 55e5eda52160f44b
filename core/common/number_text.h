// Number texts: decimal and hexadecimal formatting of unsigned 64-bit values,
// the plain decimal readers used by placeholder indexes, and the strict
// unsigned 64-bit parser of the text notation and of unit paths (with the
// "0x" prefix and "h" suffix forms).
//
// Threading: free functions without state; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Common {

// "%llu" of the value.
std::u16string ToDecimalText(uint64_t value);
// "0x%llx" of the value: lower-case digits, no leading zeros ("0x0" for 0).
std::u16string ToHexText(uint64_t value);

// strtoull in base 10 of at most the first 63 characters of `text` (at most
// `length` bytes are read). ParseDecimal32 truncates the result to 32 bits.
uint64_t ParseDecimal64(const char* text, size_t length);
uint32_t ParseDecimal32(const char* text, size_t length);

// Parses the 0-terminated `text` as an unsigned 64-bit number in `base`
// (2..36). With base 10 the text may also be hexadecimal, written with a
// "0x"/"0X" prefix after one or more zeros or with an "h"/"H" suffix. Leading
// and trailing blanks (U+0020) are allowed. Returns false on any other
// character, on a missing digit, and on overflow; `value` then holds a partial
// result. A null text gives false.
bool ParseUInt64(uint64_t& value, const char16_t* text, unsigned base);

} // namespace Common
