// GUID text form, parsing and generation.

#include "core/common/guid.h"

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
    std::snprintf(buffer, kGuidTextLength + 1, kGuidFormat, static_cast<unsigned>(guid.first), guid.second, guid.third,
                  guid.last[0], guid.last[1], guid.last[2], guid.last[3], guid.last[4], guid.last[5], guid.last[6],
                  guid.last[7]);
}

std::string GuidToString(const Guid& guid)
{
    char buffer[kGuidTextLength + 1];
    FormatGuid(buffer, guid);
    return std::string(buffer);
}

bool ParseGuid(Guid& guid, const char* text)
{
    if (!text) {
        ReportAssertion("t", kSourcePath, __LINE__);
        return false;
    }
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
