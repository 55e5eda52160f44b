// The message catalogue: every user-visible text, named by its key (0..675).
//
// A catalogue block is: size (u32), stamp 681 (u32), 676 slots (u32, distance
// from the slot to its text), then UTF-16 texts each ended by 0. The built-in
// English block is active at start; the resource library's "objpatcher.msg" for
// the user's language replaces it when a language event arrives. Every block
// that was ever active stays in memory until exit, so texts held by reference
// (error records) stay valid and keep their language.
//
// Threading: lookups are lock-free reads of the active block; language events
// may arrive on any thread and are loaded one at a time.
#pragma once

#include <cstdint>

namespace ResourceApi {
struct ModuleHandle;
}

namespace Common {

inline constexpr uint32_t kCatalogueStamp = 681;
inline constexpr unsigned kCatalogueSlots = 676;

// The text of `key` in the active catalogue, valid until exit. A key outside
// the slot table gives the empty text.
const char16_t* GetMessageText(unsigned key);

// True when `address` lies inside the active catalogue block.
bool IsInActiveCatalogue(const void* address);

// Loads "objpatcher.msg" for the current language and activates it, or the
// built-in block when the file is missing or malformed.
void LoadMessageCatalogue();

// The handler given to the resource library.
void OnLanguageChanged();
// Exit action: unsubscribes OnLanguageChanged.
void StopLanguageEvents();

// The resource module of the running program, opened once and published.
ResourceApi::ModuleHandle* GetResourceModule();
// The named file of the resource module (new[] block, caller frees), or null.
unsigned char* LoadResourceFile(const char* fileName, unsigned* size);
// Exit action: closes the published module.
void CloseResourceModule();

// True when `block` of `size` bytes is a well-formed catalogue block: size and
// stamp words as expected, 676 slots, each text inside the block, even-aligned
// and ended by a 0 unit before the end.
bool IsValidCatalogueBlock(const unsigned char* block, unsigned size);

} // namespace Common
