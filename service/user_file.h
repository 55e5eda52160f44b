// The users of the service process: a text file of "user:hash" lines, the
// hash made by libsodium's crypto_pwhash_str (Argon2id, interactive limits).
//
// The file must be a regular file of the running user with mode 0600;
// anything else (a FIFO, a device, a link) is refused at once, naming the
// path, as is a file over kMaxUserFileSize bytes. Empty lines are skipped.
// Every other line must be "user:hash" where
// - the line holds no carriage return and no byte-order mark;
// - the user name is one that can log in (WhyUserNameIsUnusable);
// - the hash is one libsodium reads, and costs at most what AddUser writes
//   (memory kHashMemoryLimit, operations kHashOperationsLimit, one lane), so
//   that one check never takes more than that.
// A refused line is named by the file and its number. A hash weaker than
// those AddUser writes (another algorithm than Argon2id, or less memory or
// fewer operations) is accepted, as users files of earlier versions may hold
// one, with a warning naming the file and the line.
//
// A user name or password reaches the service the way the tool sends it:
// converted from UTF-8 to UTF-16 and back. Only text that survives that
// unchanged can ever match, so that is what AddUser accepts.
//
// Threading: a loaded UserTable is read-only and may be checked from many
// threads at once; CheckPassword takes no lock, so callers bound how many
// checks run at once (each takes kHashMemoryLimit bytes).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "core/common/error.h"

namespace Service {

inline constexpr size_t kMaxPasswordSize = 1024;
inline constexpr size_t kMaxUserFileSize = 1 << 20;
// What one password check may take: the interactive limits of libsodium,
// which AddUser writes.
inline constexpr size_t kHashMemoryLimit = 64u << 20;
inline constexpr unsigned kHashOperationsLimit = 2;

using UserTable = std::map<std::string, std::string>; // user -> hash

// Loads the users file at `path` into `users` (ParseUsers).
Common::Error LoadUsers(const std::string& path, UserTable& users, std::vector<std::string>* warnings = nullptr);

// The lines of a users file's `text` (named `path` in errors) into `users`;
// a refused line gives FileErrors::kCorrupted naming the path and the line,
// and leaves `users` as it was. On success, one line per weak hash is
// appended to `warnings` (when given): "users file PATH: line N: its hash is
// weaker than those adduser makes (...): ...".
Common::Error ParseUsers(const std::string& text, const std::string& path, UserTable& users,
                         std::vector<std::string>* warnings = nullptr);

// Empty when `user` can log in; else why not: it is empty, holds ':', a line
// break, a NUL or a byte-order mark, starts or ends with a blank, is not
// UTF-8 that survives the tool's conversion, or is too long for a Hello even
// with a one-byte password.
std::string WhyUserNameIsUnusable(const std::string& user);

// True when `user` is in the table and `password` matches its hash. An unknown
// user takes as long as a wrong password.
bool CheckPassword(const UserTable& users, const std::string& user, const std::string& password);

// Adds `user` with `password` to the file (replacing the user's hash when
// present), creating the file with mode 0600 when missing. Refuses
// (FileErrors::kCorrupted) a user name that cannot log in, a password that is
// empty, longer than kMaxPasswordSize bytes or not UTF-8 that survives the
// tool's conversion, and a pair whose Hello would pass its limit. The file is
// replaced as a whole, so a failure leaves the old one. `replaced`, when given,
// tells whether the user was in the file already (its password replaced); it
// is false after a failure.
Common::Error AddUser(const std::string& path, const std::string& user, const std::string& password,
                      bool* replaced = nullptr);

} // namespace Service
