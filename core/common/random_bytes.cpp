// Random bytes from /dev/urandom and /dev/random, with a rand() fallback for
// normal requests.

#include "core/common/random_bytes.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "core/common/assertion.h"
#include "core/common/safe_close.h"

namespace Common {

namespace {

constexpr const char* kSourcePath = "core/common/random_bytes";

RandomDevice g_normalDevice{-1, "/dev/urandom", false, {}};
RandomDevice g_strongDevice{-1, "/dev/random", false, {}};

std::once_flag g_exitRegistration;
std::once_flag g_fallbackSeed;

void CloseNormalDevice()
{
    CloseRandomDevice(g_normalDevice);
}

void CloseStrongDevice()
{
    CloseRandomDevice(g_strongDevice);
}

void OpenDevice(RandomDevice& device)
{
    device.descriptor = open(device.path, O_RDONLY);
    if (device.descriptor != -1)
        fcntl(device.descriptor, F_SETFD, FD_CLOEXEC);
    device.opened = true;
}

bool FillFromFallback(unsigned char* rest, size_t count, bool strong)
{
    if (strong)
        return false;
    std::call_once(g_fallbackSeed, [] { std::srand(static_cast<unsigned>(std::time(nullptr))); });
    for (size_t i = 0; i < count; ++i)
        rest[i] = static_cast<unsigned char>(std::rand() & 0xFF);
    return true;
}

} // namespace

void CloseRandomDevice(RandomDevice& device)
{
    if (device.opened && device.descriptor != -1) {
        SafeClose(device.descriptor);
        device.descriptor = -1;
    }
}

namespace Detail {

bool ReadRandomDevice(RandomDevice& device, void* buffer, uint32_t size, bool strong)
{
    std::call_once(device.openOnce, OpenDevice, device);
    auto* bytes = static_cast<unsigned char*>(buffer);
    const int descriptor = device.descriptor;
    if (descriptor == -1) {
        ReportAssertion("!\"Can't open random device\"", kSourcePath, __LINE__);
        return FillFromFallback(bytes, size, strong);
    }
    if (size == 0)
        return true;
    size_t filled = 0;
    while (filled < size) {
        const ssize_t got = read(descriptor, bytes + filled, size - filled);
        if (got > 0) {
            filled += static_cast<size_t>(got);
            continue;
        }
        if (got == -1 && errno == EINTR)
            continue;
        // An error, or the end of the device (which a random device never reaches).
        ReportAssertion("!\"Can't read from random device\"", kSourcePath, __LINE__);
        return FillFromFallback(bytes + filled, size - filled, strong);
    }
    return true;
}

} // namespace Detail

bool GetRandomBytes(void* buffer, uint32_t size, bool strong)
{
    std::call_once(g_exitRegistration, [] {
        std::atexit(CloseNormalDevice);
        std::atexit(CloseStrongDevice);
    });
    return Detail::ReadRandomDevice(strong ? g_strongDevice : g_normalDevice, buffer, size, strong);
}

} // namespace Common
