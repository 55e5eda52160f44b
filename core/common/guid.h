// GUIDs: the 16-byte identifier type, its text form
// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (upper-case hex), parsing, and the
// generation of random version-4 GUIDs.
//
// Threading: all functions are reentrant.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

namespace Common {

// Byte-order tag: multi-byte fields are stored little-endian.
struct LittleEndian
{
};

template <typename ByteOrder>
struct GuidTemplate
{
    uint32_t first;
    uint16_t second;
    uint16_t third;
    uint8_t last[8];

    friend bool operator==(const GuidTemplate&, const GuidTemplate&) = default;
};

using Guid = GuidTemplate<LittleEndian>;

static_assert(sizeof(Guid) == 16, "a GUID is 16 bytes");
static_assert(std::endian::native == std::endian::little, "GUID fields are stored in host order");

inline constexpr unsigned kGuidTextLength = 36;

// Writes the text form and a terminator into `buffer` (at least 37 bytes).
void FormatGuid(char* buffer, const Guid& guid);
std::string GuidToString(const Guid& guid);

// Reads the text form from the start of `text` (lower case accepted, anything
// after the last group ignored). On failure answers false and leaves `guid`
// unchanged; a null text is also reported as a failed assertion.
bool ParseGuid(Guid& guid, const char* text);

// Method 0: a random version-4 GUID. Any other method is reported as a failed
// assertion and answers false.
bool GenerateGuid(Guid& guid, uint64_t method);

} // namespace Common
