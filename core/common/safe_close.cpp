// close/fclose resolved from the C library and wrapped with the safe-close
// policy.

#include "core/common/safe_close.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace Common {

namespace {

using CloseFunction = int (*)(int);
using FcloseFunction = int (*)(std::FILE*);

std::atomic<CloseFunction> g_close{nullptr};
std::atomic<FcloseFunction> g_fclose{nullptr};

// Read once: before main, or at the first close if another file's start-up
// code closes something earlier.
SafeCloseMode Mode()
{
    static const SafeCloseMode mode = Detail::SafeCloseModeFor(std::getenv("QUORVAN_SAFE_CLOSE"));
    return mode;
}

[[maybe_unused]] const SafeCloseMode g_startupMode = Mode();

template <typename Function>
void Resolve(std::atomic<Function>& slot, const char* name)
{
    void* library = dlopen("libc.so.6", RTLD_NOW);
    if (!library)
        return;
    if (void* symbol = dlsym(library, name))
        slot.store(reinterpret_cast<Function>(symbol), std::memory_order_release);
    else
        dlclose(library);
}

// A misuse under the current mode: trap, abort or just return `result`.
int ApplyMode(int result)
{
    const SafeCloseMode mode = Mode();
    if (mode == SAFE_CLOSE_BREAK)
        TrapToDebugger();
    else if (mode == SAFE_CLOSE_ABORT)
        std::abort();
    return result;
}

[[noreturn]] void Unresolved()
{
    if (Mode() == SAFE_CLOSE_BREAK)
        TrapToDebugger();
    std::abort();
}

} // namespace

namespace Detail {

SafeCloseMode SafeCloseModeFor(const char* value)
{
    if (!value)
        return SAFE_CLOSE_ABORT;
    if (std::strstr(value, "break"))
        return SAFE_CLOSE_BREAK;
    if (std::strstr(value, "abort"))
        return SAFE_CLOSE_ABORT;
    return SAFE_CLOSE_IGNORE;
}

} // namespace Detail

void TrapToDebugger()
{
#if defined(__x86_64__) || defined(__i386__)
    __asm__ volatile("int3");
#else
    __builtin_trap();
#endif
}

void ResolveClose()
{
    Resolve(g_close, "close");
}

void ResolveFclose()
{
    Resolve(g_fclose, "fclose");
}

int SafeClose(int descriptor)
{
    if (!g_close.load(std::memory_order_acquire))
        ResolveClose();
    CloseFunction closeFunction = g_close.load(std::memory_order_acquire);
    if (!closeFunction)
        Unresolved();
    const int result = closeFunction(descriptor);
    if (result != 0 && errno == EBADF)
        return ApplyMode(result);
    return result;
}

int SafeFclose(std::FILE* stream)
{
    if (!g_fclose.load(std::memory_order_acquire))
        ResolveFclose();
    FcloseFunction fcloseFunction = g_fclose.load(std::memory_order_acquire);
    if (!fcloseFunction)
        Unresolved();
    const int result = fcloseFunction(stream);
    if (result != 0)
        return ApplyMode(result);
    return result;
}

} // namespace Common
