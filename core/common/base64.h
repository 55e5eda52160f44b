// Base64 encoding over a caller-given 64-character alphabet.
//
// Threading: free function without state; safe from any thread.
#pragma once

#include <cstdint>

namespace Common {

// The standard alphabet, as the XML serializer uses it (with fill).
inline constexpr const char* kStandardBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encodes the bytes [begin, end) into `out` and returns the pointer just past
// the last character written; no terminator is written. The caller provides
// room for 4 characters per started group of 3 bytes. A final group of one or
// two bytes is followed by "=" fill characters when `fill` is set.
char* EncodeBase64(char* out, const uint8_t* begin, const uint8_t* end, const char* alphabet, bool fill);

} // namespace Common
