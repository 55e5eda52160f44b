// Stack traces from backtrace()/backtrace_symbols(), with demangled names.

#include "core/common/stack_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <execinfo.h>
#include <string>

namespace Common {

namespace {

constexpr unsigned kLineSize = 4096;

// The last ')' that lies after `open` or after `plus` (either may be null).
const char* FindClose(const char* line, const char* open, const char* plus)
{
    const char* after = open;
    if (plus && (!after || plus < after))
        after = plus; // the earlier of the two admits more candidates
    if (!after)
        return nullptr;
    const char* close = std::strrchr(line, ')');
    return close && close > after ? close : nullptr;
}

} // namespace

namespace Detail {

void FormatStackLine(const char* symbolLine, char* out, unsigned size)
{
    const char* open = std::strrchr(symbolLine, '(');
    const char* plus = std::strrchr(symbolLine, '+');
    const char* close = FindClose(symbolLine, open, plus);
    if (!open || !close || open > close) {
        std::snprintf(out, size, "%-40s", symbolLine);
        return;
    }
    const bool hasOffset = plus && plus > open && plus < close;
    const std::string module(symbolLine, open);
    const std::string name(open + 1, hasOffset ? plus : close);
    const std::string offset = hasOffset ? std::string(plus + 1, close) : std::string();
    const char* rest = close + 1;

    int status = 0;
    char* demangled = name.empty() ? nullptr : abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    const char* shown = demangled && status == 0 ? demangled : name.c_str();
    if (hasOffset)
        std::snprintf(out, size, "%-30s ( %-40s  + %-6s) %s", module.c_str(), shown, offset.c_str(), rest);
    else
        std::snprintf(out, size, "%-30s ( %-40s    %-6s) %s", module.c_str(), shown, "", rest);
    std::free(demangled);
}

} // namespace Detail

__attribute__((noinline)) bool WalkStackTrace(unsigned maxFrames, StackLineCallback callback, void* userData)
{
    if (maxFrames == 0 || !callback)
        return false;
    void** addresses = static_cast<void**>(std::malloc(sizeof(void*) * maxFrames));
    if (!addresses)
        return false;
    const int count = backtrace(addresses, static_cast<int>(maxFrames));
    char** symbols = count > 0 ? backtrace_symbols(addresses, count) : nullptr;
    std::free(addresses);
    if (!symbols)
        return false;

    bool answer = false;
    char* line = static_cast<char*>(std::malloc(kLineSize));
    if (line) {
        for (int frame = 0; frame < count; ++frame) {
            Detail::FormatStackLine(symbols[frame], line, kLineSize);
            answer = callback(static_cast<unsigned>(frame), line, userData);
            if (!answer)
                break;
        }
        std::free(line);
    }
    std::free(symbols);
    return answer;
}

} // namespace Common
