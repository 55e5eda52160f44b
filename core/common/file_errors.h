// Error codes of the file layer (facility 0x4) and the catalogue keys of their
// messages, with the maker of the plain message errors (UTF-16 text record,
// catalogue text held by reference, no POSIX cause).
//
// Threading: constant data; the maker may be called from any thread.
#pragma once

#include "core/common/error.h"

namespace FileErrors {

inline constexpr unsigned kReadFailed = 0x40001;
inline constexpr unsigned kEndOfFile = 0x40002;
inline constexpr unsigned kWriteFailed = 0x40003;
inline constexpr unsigned kDiskFull = 0x40004;
inline constexpr unsigned kSeekFailed = 0x40005;
inline constexpr unsigned kOutOfMemory = 0x40006;
inline constexpr unsigned kOpenFailed = 0x40007;
inline constexpr unsigned kDeleteFailed = 0x40008;
inline constexpr unsigned kRenameFailed = 0x40009;
inline constexpr unsigned kCreateFailed = 0x4000A;
inline constexpr unsigned kDeviceNotReady = 0x4000B;
inline constexpr unsigned kReadOnly = 0x4000C;
inline constexpr unsigned kCorrupted = 0x4000D;
inline constexpr unsigned kNotSupported = 0x4000E;
inline constexpr unsigned kCanceled = 0x4000F;
inline constexpr unsigned kNotFound = 0x40011;
inline constexpr unsigned kAlreadyExists = 0x40013;
inline constexpr unsigned kAccessDenied = 0x40014;
inline constexpr unsigned kLockFailed = 0x40017;
inline constexpr unsigned kBackupFailed = 0x40019;
inline constexpr unsigned kRestoreFailed = 0x4001A;
inline constexpr unsigned kSecurityError = 0x40023;

// Catalogue keys of the messages.
inline constexpr unsigned kReadFailedText = 600;     // "Error occurred while reading the file."
inline constexpr unsigned kEndOfFileText = 601;      // "The end of the file has been reached."
inline constexpr unsigned kWriteFailedText = 602;    // "Error occurred while writing to the file."
inline constexpr unsigned kDiskFullText = 603;       // "The disk is full."
inline constexpr unsigned kSeekFailedText = 604;     // "Error occurred while searching in the file."
inline constexpr unsigned kOutOfMemoryText = 605;    // "Not enough memory to complete the operation."
inline constexpr unsigned kOpenFailedText = 606;     // "Error occurred while opening the file."
inline constexpr unsigned kDeleteFailedText = 607;   // "Error occurred while deleting the file."
inline constexpr unsigned kRenameFailedText = 608;   // "Error occurred while renaming the file."
inline constexpr unsigned kCreateFailedText = 609;   // "Error occurred while creating the file."
inline constexpr unsigned kDeviceNotReadyText = 610; // "The drive is not ready."
inline constexpr unsigned kReadOnlyText = 611;       // "The file is read-only."
inline constexpr unsigned kCorruptedText = 612;      // "The file is corrupted."
inline constexpr unsigned kNotSupportedText = 613;   // "The operation is not supported."
inline constexpr unsigned kHardLinksNotSupportedText = 614;
inline constexpr unsigned kSymLinksNotSupportedText = 615;
inline constexpr unsigned kCanceledText = 616;      // "Canceled."
inline constexpr unsigned kNotFoundText = 617;      // "The specified file does not exist."
inline constexpr unsigned kAlreadyExistsText = 618; // "The file (folder) already exists."
inline constexpr unsigned kAccessDeniedText = 619;  // "Access to the file is denied."
inline constexpr unsigned kLockFailedText = 620;    // "Failed to lock the file."
inline constexpr unsigned kBackupFailedText = 621;  // "Error occurred while backing up."
inline constexpr unsigned kRestoreFailedText = 622; // "Error occurred while recovering."
inline constexpr unsigned kSecurityErrorText = 623; // "Security error occurred while opening the file for writing."

// A UTF-16 text error with the catalogue message `messageKey`, held by
// reference, and no cause.
Common::Error MakeFileMessageError(unsigned code, unsigned messageKey, Common::Location location) noexcept;

} // namespace FileErrors
