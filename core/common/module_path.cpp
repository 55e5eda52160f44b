// The running program's path: the name the dynamic loader reports for this
// code, made absolute, or the target of /proc/self/exe.

#include "core/common/module_path.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace Common {

namespace {

const char* LoaderName()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&GetModulePath), &info) && info.dli_fname)
        return info.dli_fname;
    return "";
}

const char* const g_moduleName = LoaderName();

} // namespace

void AppendNormalizedPath(std::string& base, const char* path)
{
    if (*path == '/') {
        base.assign(1, '/');
        ++path;
    }
    while (*path) {
        const char* end = std::strchr(path, '/');
        if (!end)
            end = path + std::strlen(path);
        const std::string component(path, end);
        path = *end ? end + 1 : end;
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            const size_t slash = base.rfind('/');
            base.resize(slash == std::string::npos || slash == 0 ? std::min<size_t>(base.size(), 1) : slash);
            continue;
        }
        if (base.size() > 1)
            base += '/';
        base += component;
    }
}

namespace Detail {

std::string ModulePathFromLoaderName(const char* name)
{
    if (std::strchr(name, '/')) {
        std::string path;
        if (*name != '/') {
            char cwd[4096];
            if (!getcwd(cwd, sizeof cwd))
                return {};
            path = cwd;
        }
        AppendNormalizedPath(path, name);
        return path;
    }
    char target[4096];
    const ssize_t length = readlink("/proc/self/exe", target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target)
        return {};
    return std::string(target, static_cast<size_t>(length));
}

std::u16string ModulePathText(const std::string& path)
{
    std::u16string text;
    text.reserve(path.size());
    for (unsigned char byte : path)
        text.push_back(byte < 0x80 ? char16_t(byte) : char16_t(0xF800 + byte));
    return text;
}

} // namespace Detail

std::string GetModulePath()
{
    return Detail::ModulePathFromLoaderName(g_moduleName ? g_moduleName : LoaderName());
}

std::string GetModuleFileName()
{
    const std::string path = GetModulePath();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::u16string GetModulePathText()
{
    return Detail::ModulePathText(GetModulePath());
}

} // namespace Common
