// Fuzz target of the UTF-8 and UTF-16 converters: the input is read both as
// UTF-8 bytes and as UTF-16 units, each with an explicit length and no
// terminator, so any read past the end is caught by the sanitizers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/common/text_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // UTF-8 -> UTF-16: at most one unit per byte.
    auto bytes = std::make_unique<char[]>(size);
    std::memcpy(bytes.get(), data, size);
    std::u16string wide;
    Common::ConvertUtf8ToUtf16(wide, bytes.get(), size);
    if (wide.size() > size)
        std::abort();

    // UTF-16 -> UTF-8 -> UTF-16 gives the units back (up to the first 0) and
    // is well-formed: lone surrogates travel as three-byte forms.
    const size_t unitCount = size / 2;
    auto units = std::make_unique<char16_t[]>(unitCount);
    std::memcpy(units.get(), data, unitCount * 2);
    std::string narrow;
    Common::ConvertUtf16ToUtf8(narrow, units.get(), unitCount);
    std::u16string back;
    if (!Common::ConvertUtf8ToUtf16(back, narrow.data(), narrow.size()))
        std::abort();
    size_t expected = 0;
    while (expected < unitCount && units[expected] != 0)
        ++expected;
    if (back != std::u16string(units.get(), expected))
        std::abort();
    return 0;
}
