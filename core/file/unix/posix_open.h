// Opening a file by native path, the body of posix_dir::Open.
//
// Without range locks the whole file is locked at open without waiting
// (exclusive when writing, shared when reading) and O_TRUNC is applied only
// after the lock is held, so a file locked by another process is never
// truncated. With range locks the flags go to the open call unchanged.
// The first open for writing in the process sets SIGXFSZ to be ignored, so a
// write past the file-size limit fails (a short write) instead of killing it.
//
// Threading: any thread; the SIGXFSZ setting is process-wide and idempotent.
#pragma once

#include <string>

#include "core/common/file_object.h"
#include "core/file/unix/posix_file.h"

// Opens `path` with open(2) `flags` and creation `mode`. On success returns
// the new file and sets `directory`'s slot to Common::Success; on failure
// returns null with the reason in `directory`'s slot.
posix_file* OpenPosixFile(file_object& directory, const std::string& path, int flags, bool rangeLocks,
                          int mode) noexcept;
