// Fuzz target of the catalogue block check: arbitrary bytes, as a loaded
// translation would arrive, are checked, and an accepted block must hold every
// text of the slot table inside it, each ended by a 0 unit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/common/message_catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    // An exactly sized heap copy, like the block the resource library hands out.
    std::unique_ptr<unsigned char[]> block(new unsigned char[size ? size : 1]);
    if (size)
        std::memcpy(block.get(), data, size);
    if (!Common::IsValidCatalogueBlock(block.get(), static_cast<unsigned>(size)))
        return 0;
    for (size_t key = 0; key < Common::kCatalogueSlots; ++key) {
        uint32_t slot;
        std::memcpy(&slot, block.get() + 8 + 4 * key, sizeof slot);
        const size_t start = 8 + 4 * key + size_t{slot};
        if (start % 2 != 0 || start + 2 > size)
            std::abort();
        const auto* text = reinterpret_cast<const char16_t*>(block.get() + start);
        size_t units = 0;
        while (text[units] != 0)
            ++units;
        if (start + 2 * units + 2 > size)
            std::abort();
    }
    return 0;
}
