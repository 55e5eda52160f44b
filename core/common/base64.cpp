#include "core/common/base64.h"

namespace Common {

char* EncodeBase64(char* out, const uint8_t* begin, const uint8_t* end, const char* alphabet, bool fill)
{
    const uint8_t* in = begin;
    while (end - in >= 3) {
        const uint32_t group = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
        *out++ = alphabet[group >> 18];
        *out++ = alphabet[group >> 12 & 0x3F];
        *out++ = alphabet[group >> 6 & 0x3F];
        *out++ = alphabet[group & 0x3F];
        in += 3;
    }
    const auto rest = end - in;
    if (rest == 1) {
        *out++ = alphabet[in[0] >> 2];
        *out++ = alphabet[(in[0] & 0x03) << 4];
        if (fill) {
            *out++ = '=';
            *out++ = '=';
        }
    } else if (rest == 2) {
        *out++ = alphabet[in[0] >> 2];
        *out++ = alphabet[(in[0] & 0x03) << 4 | in[1] >> 4];
        *out++ = alphabet[(in[1] & 0x0F) << 2];
        if (fill)
            *out++ = '=';
    }
    return out;
}

} // namespace Common
