// Fuzz target of the unsigned 64-bit parser: the input, as UTF-16 units, is
// parsed in base 10 and in the base its first byte selects.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/common/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const unsigned base = 2 + data[0] % 35;
    std::u16string text((size - 1) / 2, u'\0');
    std::memcpy(text.data(), data + 1, text.size() * 2);
    for (unsigned parseBase : {10u, base}) {
        uint64_t value = 0;
        if (Common::ParseUInt64(value, text.c_str(), parseBase) && parseBase == 10) {
            // Whatever parsed reads back from its decimal form.
            uint64_t again = 0;
            if (!Common::ParseUInt64(again, Common::ToDecimalText(value).c_str(), 10) || again != value)
                std::abort();
        }
    }
    return 0;
}
