// Fuzz target: native names (arbitrary bytes) convert to UTF-16 and back to
// the same bytes, unless they hold a valid character of the private byte
// range; arbitrary UTF-16 units convert without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/file/unix/file_name_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    // A native name ends at its first NUL.
    const char* bytes = size ? reinterpret_cast<const char*>(data) : "";
    const std::string native(bytes, size ? strnlen(bytes, size) : 0);
    const std::u16string text = NativeToUnicodeName(native.c_str());
    bool privateCharacter = false;
    for (char16_t unit : text)
        privateCharacter = privateCharacter || (unit >= 0xF880 && unit <= 0xF8FF);
    if (!privateCharacter && UnicodeToNativeName(text.c_str()) != native)
        std::abort();

    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2)
    {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit != 0)
            units.push_back(unit);
    }
    const std::string back = UnicodeToNativeName(units.c_str());
    if (back.find('\0') != std::string::npos)
        std::abort();
    return 0;
}
