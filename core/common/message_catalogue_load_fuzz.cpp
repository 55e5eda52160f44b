// Fuzz target of the catalogue loader end to end: the input is installed as
// the translated catalogue of a language under RESOURCEAPI_ROOT, the
// language event loads it, and every key is looked up. A block the check
// accepts gives each slot's own text; a refused one leaves the English texts
// active.
//
// Accepted blocks stay in memory until exit, as they do in the program.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "core/common/catalogue_block.h"
#include "core/common/message_catalogue.h"
#include "platform/resource/resource_api.h"

namespace {

constexpr char kLanguage[] = "fz";

// The folder of the translated catalogue, made once per process.
const std::string& CatalogueFile()
{
    static const std::string file = [] {
        char root[] = "/tmp/catalogue_fuzz_XXXXXX";
        if (mkdtemp(root) == nullptr)
            std::abort();
        setenv("RESOURCEAPI_ROOT", root, 1);
        const std::string folder = std::string(root) + "/" + kLanguage;
        if (mkdir(folder.c_str(), 0700) != 0)
            std::abort();
        (void)Common::GetMessageText(0); // subscribes to language events
        static std::string removeAtExit[] = {folder + "/objpatcher.msg", folder, root};
        std::atexit([] {
            for (const std::string& path : removeAtExit)
                (void)std::remove(path.c_str());
        });
        return removeAtExit[0];
    }();
    return file;
}

// The 0-ended UTF-16 text at `at` of a block (the caller knows it ends inside).
std::u16string TextAt(const unsigned char* block, size_t at)
{
    std::u16string text;
    for (;; at += 2) {
        const char16_t unit = static_cast<char16_t>(block[at] | block[at + 1] << 8);
        if (unit == 0)
            return text;
        text.push_back(unit);
    }
}

uint32_t Word(const unsigned char* block, size_t at)
{
    uint32_t word;
    std::memcpy(&word, block + at, sizeof word);
    return word;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& file = CatalogueFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out)
            std::abort();
    }
    ResourceApi::SetLanguageForTesting(kLanguage);
    const bool accepted = size > 0 && Common::IsValidCatalogueBlock(data, static_cast<unsigned>(size));
    const unsigned char* source = accepted ? data : Common::Detail::kBuiltInCatalogueBlock;
    for (unsigned key = 0; key < Common::kCatalogueSlots; ++key) {
        const size_t slot = 8 + 4 * size_t{key};
        const std::u16string expected = TextAt(source, slot + Word(source, slot));
        if (std::u16string(Common::GetMessageText(key)) != expected)
            std::abort();
    }
    return 0;
}
