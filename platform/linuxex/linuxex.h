// The Linux extension support library: opening, closing and byte-range locking
// of files. This stand-in passes each call to the system call of the same
// meaning (open(2), close(2), fcntl(2) record locks) with the same arguments,
// and keeps errno as the system call left it.
//
// Record locks of this kind belong to the process: a second lock taken by the
// same process on the same range never conflicts with the first.
//
// Threading: every call may be made from any thread.
#pragma once

#include <fcntl.h>

extern "C" {

// As open(2): a new descriptor, or -1 with errno set.
int LinuxExOpen(const char* path, int flags, int mode);
// As close(2).
int LinuxExClose(int descriptor);
// As fcntl(2) with F_SETLK or F_SETLKW (or F_GETLK): 0 on success, -1 with
// errno set on failure.
int LinuxExRangeLock(int descriptor, int command, struct flock64* lock);
}
