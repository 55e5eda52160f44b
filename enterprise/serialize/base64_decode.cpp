#include "enterprise/serialize/base64_decode.h"

namespace Serialization {

namespace {

// Class of one character: codes above 127 are invalid.
inline uint8_t ClassOf(char16_t c, const uint8_t* table)
{
    return c < 128 ? table[c] : kBase64Invalid;
}

inline uint8_t ClassOf(char c, const uint8_t* table)
{
    return ClassOf(static_cast<char16_t>(static_cast<unsigned char>(c)), table);
}

template <typename Unit>
uint8_t* Decode(uint8_t* out, const Unit* begin, const Unit* end, const uint8_t* table)
{
    uint32_t group = 0;
    unsigned count = 0;
    const Unit* p = begin;
    while (p < end) {
        const uint8_t value = ClassOf(*p++, table);
        if (value == kBase64Skip)
            continue;
        if (value < 64) {
            group = group << 6 | value;
            if (++count == 4) {
                *out++ = static_cast<uint8_t>(group >> 16);
                *out++ = static_cast<uint8_t>(group >> 8);
                *out++ = static_cast<uint8_t>(group);
                group = 0;
                count = 0;
            }
            continue;
        }
        if (value != kBase64Fill)
            return nullptr;
        // The fill ends the data.
        if (count < 2)
            return nullptr;
        if (count == 2) {
            while (p < end && ClassOf(*p, table) == kBase64Skip)
                ++p;
            if (p == end || ClassOf(*p, table) != kBase64Fill)
                return nullptr;
            ++p;
            *out++ = static_cast<uint8_t>(group >> 4);
        } else {
            *out++ = static_cast<uint8_t>(group >> 10);
            *out++ = static_cast<uint8_t>(group >> 2);
        }
        while (p < end)
            if (ClassOf(*p++, table) != kBase64Skip)
                return nullptr;
        return out;
    }
    return count == 0 ? out : nullptr;
}

} // namespace

uint8_t* DecodeBase64(uint8_t* out, const char16_t* begin, const char16_t* end, const uint8_t* table)
{
    return Decode(out, begin, end, table);
}

uint8_t* DecodeBase64(uint8_t* out, const char* begin, const char* end, const uint8_t* table)
{
    return Decode(out, begin, end, table);
}

} // namespace Serialization
