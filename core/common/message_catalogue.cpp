// Message catalogue: lookup in the active block, loading translations on
// language events, and the resource module they come from.

#include "core/common/message_catalogue.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "core/common/assertion.h"
#include "core/common/catalogue_block.h"
#include "core/common/immortal.h"
#include "core/common/module_path.h"
#include "core/common/mutex.h"
#include "platform/resource/resource_api.h"

namespace Common {

namespace {

constexpr unsigned kHeaderSize = 8 + 4 * kCatalogueSlots;

uint32_t ReadWord(const unsigned char* block, size_t offset)
{
    uint32_t word;
    std::memcpy(&word, block + offset, sizeof word);
    return word;
}

std::atomic<const unsigned char*> g_activeBlock{Detail::kBuiltInCatalogueBlock};
std::atomic<bool> g_languageKnown{false};
std::atomic<bool> g_stopRegistered{false};
std::atomic<ResourceApi::ModuleHandle*> g_module{nullptr};
std::atomic<bool> g_closeRegistered{false};

constinit NonRecursiveMutex g_loaderLock; // outlives every exit action

// Accepted translations, made at the first acceptance and owned until exit.
constinit Immortal<std::vector<std::unique_ptr<unsigned char[]>>> g_loadedBlocks COMMON_GUARDED_BY(g_loaderLock);

void DestroyLoadedBlocks()
{
    LockGuard guard(g_loaderLock);
    g_activeBlock.store(Detail::kBuiltInCatalogueBlock, std::memory_order_release);
    g_loadedBlocks.Destroy();
}

} // namespace

bool IsValidCatalogueBlock(const unsigned char* block, unsigned size)
{
    if (!block || size <= 7 || ReadWord(block, 0) != size || ReadWord(block, 4) != kCatalogueStamp)
        return false;
    if (size < kHeaderSize)
        return false;
    // A text that starts at an even offset ends inside the block exactly when
    // a 0 unit at an even offset follows it: when it starts at or before the
    // last such unit. One scan from the end serves every slot.
    uint64_t lastZero = 0;
    for (uint64_t at = (size - 2) & ~uint64_t{1}; at >= kHeaderSize; at -= 2) {
        if ((block[at] | block[at + 1]) == 0) {
            lastZero = at;
            break;
        }
    }
    for (unsigned key = 0; key < kCatalogueSlots; ++key) {
        const uint64_t start = 8ull + 4ull * key + ReadWord(block, 8 + 4 * key);
        if (start < kHeaderSize || start >= size || start % 2 != 0 || start > lastZero)
            return false;
    }
    return true;
}

const char16_t* GetMessageText(unsigned key)
{
    if (!g_languageKnown.load(std::memory_order_acquire)) {
        const int savedErrno = errno;
        ResourceApi::SubscribeLanguageEvents(&OnLanguageChanged);
        if (!g_stopRegistered.exchange(true))
            std::atexit(&StopLanguageEvents);
        errno = savedErrno;
    }
    if (key >= kCatalogueSlots) {
        ReportAssertion("key < kCatalogueSlots", __FILE__, __LINE__);
        return u"";
    }
    const unsigned char* block = g_activeBlock.load(std::memory_order_acquire);
    const size_t slot = 8 + 4 * static_cast<size_t>(key);
    return reinterpret_cast<const char16_t*>(block + slot + ReadWord(block, slot));
}

bool IsInActiveCatalogue(const void* address)
{
    const unsigned char* block = g_activeBlock.load(std::memory_order_acquire);
    const auto* at = static_cast<const unsigned char*>(address);
    return std::less_equal<const unsigned char*>()(block, at) &&
        std::less<const unsigned char*>()(at, block + ReadWord(block, 0));
}

void LoadMessageCatalogue()
{
    LockGuard guard(g_loaderLock);
    unsigned size = 0;
    std::unique_ptr<unsigned char[]> block(LoadResourceFile("objpatcher.msg", &size));
    if (!IsValidCatalogueBlock(block.get(), size)) {
        g_activeBlock.store(Detail::kBuiltInCatalogueBlock, std::memory_order_release);
        return;
    }
    if (!g_loadedBlocks.Get()) {
        g_loadedBlocks.Emplace();
        std::atexit(&DestroyLoadedBlocks);
    }
    g_loadedBlocks->push_back(std::move(block));
    g_activeBlock.store(g_loadedBlocks->back().get(), std::memory_order_release);
}

void OnLanguageChanged()
{
    LoadMessageCatalogue();
    g_languageKnown.store(true, std::memory_order_release);
}

void StopLanguageEvents()
{
    ResourceApi::UnsubscribeLanguageEvents(&OnLanguageChanged);
}

ResourceApi::ModuleHandle* GetResourceModule()
{
    if (ResourceApi::ModuleHandle* module = g_module.load(std::memory_order_acquire))
        return module;
    ResourceApi::OpenModule(nullptr); // makes the library find its defaults; not kept
    if (ResourceApi::ModuleHandle* module = g_module.load(std::memory_order_acquire))
        return module;
    const std::u16string path = GetModulePathText();
    ResourceApi::ModuleHandle* module = ResourceApi::OpenModule(path.c_str());
    if (!module)
        return nullptr;
    ResourceApi::ModuleHandle* expected = nullptr;
    if (!g_module.compare_exchange_strong(expected, module, std::memory_order_acq_rel)) {
        ResourceApi::CloseModule(module);
        return expected;
    }
    if (!g_closeRegistered.exchange(true))
        std::atexit(&CloseResourceModule);
    return module;
}

unsigned char* LoadResourceFile(const char* fileName, unsigned* size)
{
    return ResourceApi::LoadFile(GetResourceModule(), fileName, nullptr, size);
}

void CloseResourceModule()
{
    if (ResourceApi::ModuleHandle* module = g_module.exchange(nullptr))
        ResourceApi::CloseModule(module);
}

} // namespace Common
