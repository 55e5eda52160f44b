// The running program's own path, and path normalization.
//
// Threading: all functions may be called from any thread; the module name is
// cached before main.
#pragma once

#include <string>

namespace Common {

// Absolute path of the running program; empty when it cannot be found.
std::string GetModulePath();
// The part of the module path after its last "/".
std::string GetModuleFileName();
// The module path as UTF-16: bytes below 0x80 unchanged, 0x80..0xFF mapped to
// U+F880..U+F8FF.
std::u16string GetModulePathText();
// Appends a "/"-separated path to `base`, resolving "." and "..".
void AppendNormalizedPath(std::string& base, const char* path);

namespace Detail {
// The module path for a loader-reported name (the algorithm behind
// GetModulePath, with the name given).
std::string ModulePathFromLoaderName(const char* name);
// The UTF-16 form of a module path (the mapping behind GetModulePathText).
std::u16string ModulePathText(const std::string& path);
} // namespace Detail

} // namespace Common
