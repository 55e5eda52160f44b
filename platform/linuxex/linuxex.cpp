#include "platform/linuxex/linuxex.h"

#include <unistd.h>

extern "C" {

int LinuxExOpen(const char* path, int flags, int mode)
{
    return ::open(path, flags, static_cast<mode_t>(mode));
}

int LinuxExClose(int descriptor)
{
    return ::close(descriptor);
}

int LinuxExRangeLock(int descriptor, int command, struct flock64* lock)
{
    return ::fcntl(descriptor, command, lock);
}
}
