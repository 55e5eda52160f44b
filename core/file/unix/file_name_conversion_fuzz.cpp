// Fuzz target: native names (arbitrary bytes) convert to UTF-16 and back to
// the same bytes, undecodable bytes included; the one exception is a valid
// character of the private byte range U+F880..U+F8FF, which comes back as a
// single byte. Arbitrary UTF-16 units convert without fault and never yield a
// NUL byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/file/unix/file_name_conversion.h"

namespace {

// In UTF-8 the characters U+F880..U+F8FF are EF A2 80..BF and EF A3 80..BF;
// a lead byte EF always starts a sequence, so a byte scan finds them exactly.
bool HoldsPrivateCharacterInUtf8(const std::string& native)
{
    for (size_t i = 0; i + 2 < native.size(); ++i) {
        const auto lead = static_cast<unsigned char>(native[i]);
        const auto second = static_cast<unsigned char>(native[i + 1]);
        const auto third = static_cast<unsigned char>(native[i + 2]);
        if (lead == 0xEF && (second == 0xA2 || second == 0xA3) && third >= 0x80 && third <= 0xBF)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    static const bool utf8 = NativeToUnicodeName("\xC3\xA9") == u"\u00E9";

    // A native name ends at its first NUL.
    const char* bytes = size ? reinterpret_cast<const char*>(data) : "";
    const std::string native(bytes, size ? strnlen(bytes, size) : 0);
    const std::u16string text = NativeToUnicodeName(native.c_str());
    bool privateUnit = false;
    for (char16_t unit : text)
        privateUnit = privateUnit || (unit >= 0xF880 && unit <= 0xF8FF);
    // Every name of a UTF-8 process must come back exactly unless it holds a
    // valid private character; in another character set only names without
    // private units are checked.
    const bool mustRoundTrip = utf8 ? !HoldsPrivateCharacterInUtf8(native) : !privateUnit;
    if (mustRoundTrip && UnicodeToNativeName(text.c_str()) != native)
        std::abort();

    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit != 0)
            units.push_back(unit);
    }
    const std::string back = UnicodeToNativeName(units.c_str());
    if (back.find('\0') != std::string::npos)
        std::abort();
    return 0;
}
