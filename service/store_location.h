// Where the local road's store lives.
//
// The folder is $OBJPATCHER_STORE_DIR when that is set and not empty; else
// $XDG_STATE_HOME/objpatcher when XDG_STATE_HOME is an absolute path; else
// ~/.local/state/objpatcher (the home folder from $HOME when absolute, else
// from the user database). Missing folders on the way are created with mode
// 0700; existing ones are left as they are. The store is the file
// kStoreFileName in that folder.
//
// The wait for a store's lock file (StoreOpenOptions::lockWait) is
// $OBJPATCHER_STORE_LOCK_WAIT_MS milliseconds when that holds a whole number
// from 0 to kMaxLockWaitMilliseconds, else kLockWaitMilliseconds; it holds
// for the service process's store too.
//
// Threading: reads the environment; safe from any thread that does not
// change it at the same time.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "core/common/error.h"
#include "service/store.h"

namespace Service {

inline constexpr const char* kStoreFolderVariable = "OBJPATCHER_STORE_DIR";
inline constexpr const char* kStoreFileName = "objects.db";
inline constexpr const char* kLockWaitVariable = "OBJPATCHER_STORE_LOCK_WAIT_MS";
inline constexpr int kMaxLockWaitMilliseconds = 3600000;

// The lock wait for a value of the variable (null: unset), by the rule above.
std::chrono::milliseconds ResolveLockWait(const char* value);
// The same from the environment.
std::chrono::milliseconds LockWaitFromEnvironment();

// The folder by the rule above from the given variable values (null: unset)
// and home folder, without touching the file system.
std::string ResolveStoreFolder(const char* storeFolder, const char* stateHome, const std::string& home);

// Resolves the folder from the environment and makes sure it exists; `path`
// receives the store file's path. Failures are kStoreFailed: for a folder
// that is not one or cannot be made, the text kStoreFolderUnusableText names
// the folder and the reason, and the cause is CreateFolders' error; else the
// text says that no home folder is known.
Common::Error GetLocalStorePath(std::string& path);

// Opens (creating when missing) the store at the local store path, waiting
// for its lock file as the environment says. This is the local road, inside
// the tool's process: what Store::Open has to tell goes to standard error,
// each line after "objpatcher: ", the wait for the lock only once it lasted
// a second (the openers of a store take turns for milliseconds all the time).
Common::Error OpenLocalStore(std::unique_ptr<Store>& store);

// Creates `folder` and its missing parents with mode 0700. Failure:
// FileErrors::kCreateFailed with the POSIX cause (ENOTDIR when a file is in
// the way).
Common::Error CreateFolders(const std::string& folder);

} // namespace Service
