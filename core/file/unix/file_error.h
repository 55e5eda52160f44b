// Errors of the POSIX file layer that carry file paths, and MakeFileError,
// which turns a failed system call into a Common::Error.
//
// Two record kinds hold the UTF-16 message and narrow (native) path texts:
//   one path:  text parameter "path",                 names "path,$module"
//   two paths: text parameters "path1" and "path2",   names "path1,path2,$module"
// Texts inside the active catalogue are held by reference, others are copied
// into the record. A record that cannot be allocated is replaced by the
// out-of-memory record.
//
// Threading: any thread; the MakeFileError without an error number reads the
// calling thread's errno.
#pragma once

#include "core/common/error.h"

extern const Common::ErrorRecordKind kOnePathErrorKind;
extern const Common::ErrorRecordKind kTwoPathErrorKind;

// The error of a path (or two): a one-path record when only `path1` is given,
// a two-path record when both are, the UTF-16 text record of the catalogue
// message `messageKey` when neither is. No cause.
Common::Error MakeFilePathError(unsigned code, unsigned messageKey, const char* path1, const char* path2,
                                Common::Location location) noexcept;

// The error of a failed system call whose error number is `error`: a mapped
// number replaces `code` and `messageKey`:
//   EPERM, EACCES, ETXTBSY   0x40014 "Access to the file is denied."
//                            (not when `code` is 0x40017, a lock failure)
//   ENOENT                   0x40011 "The specified file does not exist."
//   ENOMEM                   0x40006 "Not enough memory to complete the operation."
//   EBUSY, ENODEV, ENOMEDIUM 0x4000B "The drive is not ready."
//   EEXIST                   0x40013 "The file (folder) already exists."
//   ENOSPC                   0x40004 "The disk is full."
//   EROFS                    0x4000C "The file is read-only."
//   EOPNOTSUPP               0x4000E "The operation is not supported."
// then builds MakeFilePathError and chains `error` as a POSIX cause.
Common::Error MakeFileError(int error, unsigned code, unsigned messageKey, const char* path1, const char* path2,
                            Common::Location location) noexcept;

// The same for the call that failed last: reads errno once, and leaves it as
// it was.
Common::Error MakeFileError(unsigned code, unsigned messageKey, const char* path1, const char* path2,
                            Common::Location location) noexcept;
