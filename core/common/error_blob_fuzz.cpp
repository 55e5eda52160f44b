// Reads arbitrary bytes as an error blob, walks everything the rebuilt chain
// offers, and checks that writing it and reading it back is stable.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/common/error.h"
#include "core/common/error_blob.h"
#include "core/common/error_text.h"

namespace {

void Touch(const Common::Error& error)
{
    for (const Common::ErrorRecord* record = error.GetRecord(); record; record = record->next) {
        const Common::Error one(const_cast<Common::ErrorRecord*>(record));
        (void)one.GetText();
        const Common::Location location = one.GetLocation();
        if (location.file)
            (void)std::strlen(location.file);
        if (location.function)
            (void)std::strlen(location.function);
        const std::string names = one.GetParameterNames();
        for (size_t start = 0; start <= names.size();) {
            size_t comma = names.find(',', start);
            if (comma == std::string::npos)
                comma = names.size();
            const std::string name = names.substr(start, comma - start);
            (void)one.GetIntegerParameter(name.c_str());
            if (const char* text = one.GetTextParameter(name.c_str()))
                (void)std::strlen(text);
            if (const char16_t* wide = one.GetWideTextParameter(name.c_str()))
                (void)std::u16string(wide);
            start = comma + 1;
        }
    }
    (void)Common::FormatError(error);
}

std::string Rewrite(const Common::Error& error)
{
    uint32_t size = 0;
    std::unique_ptr<unsigned char[]> blob(Common::SerializeError(error, size));
    return std::string(reinterpret_cast<const char*>(blob.get()), size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    const Common::Error parsed = Common::DeserializeError(data, static_cast<uint32_t>(size));
    Touch(parsed);

    // A parsed chain written again reads back to a chain that writes the same bytes.
    const std::string once = Rewrite(parsed);
    const Common::Error again = Common::DeserializeError(once.data(), static_cast<uint32_t>(once.size()));
    Touch(again);
    if (Rewrite(again) != once)
        std::abort();
    return 0;
}
