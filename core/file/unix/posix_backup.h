// Backup and restore of one item of a posix_dir, the control requests "BKUP"
// and "RSTR".
//
// The backup runs the shared backup (core/file/backup.h: chunks 1, 4, 5, 6)
// and adds the extended attributes of the item (chunk 7, requested for every
// item, one buffer per attribute) and, for regular files and directories,
// the inode flags (chunk 8, when not 0). A failure to list the extended
// attributes (a file system without them) is not reported: the item is
// backed up without them. Inode flags that cannot be read are not reported
// either.
//
// The restore: posix_restore.h.
//
// Threading: a request runs on the caller's thread, like every operation of
// the directory.
#pragma once

#include <cstdint>

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/file/backup_chunks.h"
#include "core/file/unix/posix_dir.h"

// Errors of the POSIX backup and restore are located here.
inline constexpr Common::SourceFile kPosixBackupSource("core/file/unix/posix_backup");

// "BKUP": backs up one entry of the directory (or the directory itself).
struct bkup_request
{
    uint64_t code;
    backup_parameters parameters;
    const file_identifier* item; // null: the directory itself
};

// Backs up `item` of `directory` (null: the directory itself).
Common::Error PosixBackupFile(posix_dir* directory, const file_identifier* item, const backup_parameters* parameters);

// lgetxattr(2) of `name` on `path` into `buffer` (null: only the length);
// `valueLength` receives the value's length. Failure: 0x40001 "Error occurred
// while reading the file." with "path1" the path and "path2" the name.
Common::Error GetXattr(const char* path, const char* name, void* buffer, uint64_t bufferSize, uint64_t* valueLength);
