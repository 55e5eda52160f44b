// Stand-in for the resource library: per-language data files of a module and
// the user's language-change events.
//
// Files are read from <root>/<language>/<file>, where <root> is the directory
// named by RESOURCEAPI_ROOT and <language> comes from LC_ALL, LC_MESSAGES or
// LANG, the first one set and not empty ("de_DE.UTF-8" gives "de", "pt_BR"
// stays "pt_BR"; "C" and "POSIX" name no language). With no language the file
// is read from <root>/<file>.
//
// The language is known once the environment names one, or once the test hook
// SetLanguageForTesting sets it. A subscriber is called as soon as the language
// is known (at once when it subscribes after that), and again on every change.
//
// Threading: every call may come from any thread. Handlers run on the thread
// that subscribed or that set the language, never under the library's lock.
#pragma once

#include <string>

namespace ResourceApi {

struct ModuleHandle;
using LanguageHandler = void (*)();

// A handle for the module of that path; null name: the module of the running
// program. Null when the module cannot be opened.
ModuleHandle* OpenModule(const char16_t* moduleName);
void CloseModule(ModuleHandle* module);

// The named file for the current language as a new[] block (the caller frees it
// with delete[]), its size in *size; null when there is none. Accepts a null
// module. `reserved` must be null.
unsigned char* LoadFile(ModuleHandle* module, const char* fileName, const char* reserved, unsigned* size);

// Repeated subscriptions of one handler are accepted and count once.
void SubscribeLanguageEvents(LanguageHandler handler);
void UnsubscribeLanguageEvents(LanguageHandler handler);

// Test hooks: set the language and call every subscriber; count the calls of
// SubscribeLanguageEvents so far.
void SetLanguageForTesting(const std::string& language);
unsigned SubscribeCallsForTesting();

} // namespace ResourceApi
