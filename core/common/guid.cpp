// GUID text form, parsing and generation.

#include "core/common/guid.h"

#include <array>
#include <cstdio>

#include "core/common/assertion.h"
#include "core/common/random_bytes.h"

namespace Common {

namespace {

constexpr const char* kSourcePath = "core/common/guid";
constexpr const char* kGuidFormat = "%08X-%04hX-%04hX-%02X%02X-%02X%02X%02X%02X%02X%02X";

} // namespace

void FormatGuid(char* buffer, const Guid& guid)
{
    // The text of kGuidFormat, digit by digit.
    static const char kDigits[] = "0123456789ABCDEF";
    auto put = [&buffer](uint64_t value, int digits) {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
            *buffer++ = kDigits[(value >> shift) & 0xF];
    };
    put(guid.first, 8);
    *buffer++ = '-';
    put(guid.second, 4);
    *buffer++ = '-';
    put(guid.third, 4);
    *buffer++ = '-';
    put(guid.last[0], 2);
    put(guid.last[1], 2);
    *buffer++ = '-';
    for (int i = 2; i < 8; ++i)
        put(guid.last[i], 2);
    *buffer = '\0';
}

std::string GuidToString(const Guid& guid)
{
    char buffer[kGuidTextLength + 1];
    FormatGuid(buffer, guid);
    return std::string(buffer);
}

namespace {

// Value of each hexadecimal digit of either case; 0xFF for other bytes.
constexpr std::array<uint8_t, 256> MakeHexDigits()
{
    std::array<uint8_t, 256> table{};
    for (auto& entry : table)
        entry = 0xFF;
    for (uint8_t i = 0; i < 10; ++i)
        table['0' + i] = i;
    for (uint8_t i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<uint8_t>(10 + i);
        table['a' + i] = static_cast<uint8_t>(10 + i);
    }
    return table;
}

constexpr std::array<uint8_t, 256> kHexDigits = MakeHexDigits();

// The text form exactly as FormatGuid writes it (either case), read without
// the scanner; false for anything else, which the scanner then reads.
bool ParseCanonicalGuid(Guid& guid, const char* text)
{
    uint8_t nibbles[32];
    size_t count = 0;
    for (size_t at = 0; at < kGuidTextLength; ++at) {
        if (at == 8 || at == 13 || at == 18 || at == 23) {
            if (text[at] != '-')
                return false;
            continue;
        }
        const uint8_t digit = kHexDigits[static_cast<unsigned char>(text[at])];
        if (digit == 0xFF)
            return false;
        nibbles[count++] = digit;
    }
    auto number = [&nibbles](size_t from, size_t digits) {
        uint32_t value = 0;
        for (size_t i = 0; i < digits; ++i)
            value = value << 4 | nibbles[from + i];
        return value;
    };
    guid.first = number(0, 8);
    guid.second = static_cast<uint16_t>(number(8, 4));
    guid.third = static_cast<uint16_t>(number(12, 4));
    for (size_t i = 0; i < 8; ++i)
        guid.last[i] = static_cast<uint8_t>(number(16 + 2 * i, 2));
    return true;
}

} // namespace

bool ParseGuid(Guid& guid, const char* text)
{
    if (!text) {
        ReportAssertion("t", kSourcePath, __LINE__);
        return false;
    }
    if (ParseCanonicalGuid(guid, text))
        return true;
    unsigned first = 0;
    unsigned short second = 0;
    unsigned short third = 0;
    unsigned last[8] = {};
    const int converted = std::sscanf(text, kGuidFormat, &first, &second, &third, &last[0], &last[1], &last[2],
                                      &last[3], &last[4], &last[5], &last[6], &last[7]);
    if (converted != 11)
        return false;
    guid.first = first;
    guid.second = second;
    guid.third = third;
    for (int i = 0; i < 8; ++i)
        guid.last[i] = static_cast<uint8_t>(last[i]);
    return true;
}

bool GenerateGuid(Guid& guid, uint64_t method)
{
    if (method != 0) {
        ReportAssertion("false", kSourcePath, __LINE__);
        return false;
    }
    // The normal source always fills the buffer (it falls back to rand()).
    GetRandomBytes(&guid, sizeof guid, false);
    guid.last[0] = static_cast<uint8_t>((guid.last[0] & 0x3F) | 0x80);
    guid.third = static_cast<uint16_t>((guid.third & 0x0FFF) | 0x4000);
    return true;
}

} // namespace Common
