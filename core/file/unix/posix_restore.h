// Restore of one item into a posix_dir from the typed chunks of a backup, the
// control request "RSTR".
//
// The shared restore (core/file/restore.h) creates the item and applies its
// data, attribute word, times, owner, permissions and flag word; the POSIX
// processor adds the extended attributes of chunk 7, set with fsetxattr(2) on
// the open file (regular files only). An attribute the file system does not
// support fails the restore, except "security.selinux" and "trusted.pfcache",
// which are skipped. An attribute value larger than the system allows
// (64 KiB) is corrupt data (0x4000D), refused before it is allocated.
//
// Any failure comes back as 0x4001A "Error occurred while recovering." with
// the failure as cause, and the item is removed unless it is a directory.
//
// Threading: a request runs on the caller's thread, like every operation of
// the directory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/common/error.h"
#include "core/file/backup_chunks.h"
#include "core/include/file/dir.h"

// "RSTR": restores one item of the directory.
struct rstr_request
{
    uint64_t code;
    restore_parameters parameters;
    const char16_t* name;
};

// Restores `name` into `directory`, whose GetPath text is `directoryPath`
// (ending in a separator).
Common::Error PosixRestoreFile(o_dir* directory, const char16_t* directoryPath, const char16_t* name,
                               const restore_parameters* parameters);

// Test support: sets one extended attribute on a descriptor; answers 0, or -1
// with errno set, as fsetxattr(2) does.
using XattrSetter = int (*)(int descriptor, const char* name, const void* value, size_t size, int flags);
// Replaces the setter (null: fsetxattr) and returns the one before.
XattrSetter SetXattrSetterForTesting(XattrSetter setter);
