// Error codes of the service's object store (DML facility 0xFC) and the
// catalogue keys of their messages.
//
// Threading: constant data; the makers may be called from any thread.
#pragma once

#include "core/common/error.h"

namespace Service {

inline constexpr unsigned kObjectExists = 0xFC0101;   // a key that is registered already
inline constexpr unsigned kObjectNotFound = 0xFC0102; // no object with the key
inline constexpr unsigned kStoreFailed = 0xFC0103;    // the store cannot be used; text "DML store: " + the reason

inline constexpr unsigned kObjectExistsText = 668;   // "DML store: An object with this key already exists."
inline constexpr unsigned kObjectNotFoundText = 669; // "DML store: No object with this key exists."
// kStoreFailed for the local store's folder: "DML store: The folder {0} of the local store cannot be used: {1}."
// ({0} the folder, {1} the reason).
inline constexpr unsigned kStoreFolderUnusableText = 597;

// kObjectExists or kObjectNotFound with its catalogue message.
Common::Error MakeStoreError(unsigned code, Common::Location location) noexcept;

// kStoreFailed with the text "DML store: " and `detail` (copied).
Common::Error MakeStoreFailure(const char* detail, Common::Location location);

} // namespace Service
