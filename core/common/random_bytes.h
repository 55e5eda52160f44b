// Random bytes from the system devices: "/dev/urandom" (normal) and
// "/dev/random" (strong). Each device is opened once, at its first use, and
// closed at exit. A normal request always fills the buffer: when the device is
// missing or fails, the rest comes from the C library's rand(), seeded once
// from the time. A strong request answers false in that case.
//
// Threading: any thread; the first use of each device opens it exactly once,
// reads are not locked.
#pragma once

#include <cstdint>
#include <mutex>

namespace Common {

struct RandomDevice
{
    int descriptor; // -1 until opened, and after a failed open or the close at exit
    const char* path;
    bool opened; // set after the first attempt to open
    std::once_flag openOnce;
};

bool GetRandomBytes(void* buffer, uint32_t size, bool strong);

// At-exit action: closes an opened descriptor and sets it to -1.
void CloseRandomDevice(RandomDevice& device);

namespace Detail {
// GetRandomBytes on a given device record (tests use a record of their own).
bool ReadRandomDevice(RandomDevice& device, void* buffer, uint32_t size, bool strong);
} // namespace Detail

} // namespace Common
