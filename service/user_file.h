// The users of the service process: a text file of "user:hash" lines, the
// hash made by libsodium's crypto_pwhash_str (Argon2id, interactive limits).
//
// The file must be a regular file of the running user with mode 0600;
// anything else is refused, as is a line without a user, without a hash or
// without the colon, and a file over kMaxUserFileSize bytes. User names are not empty and hold no ':', line feed,
// carriage return or NUL; passwords are 1..kMaxPasswordSize bytes.
//
// Threading: a loaded UserTable is read-only and may be checked from many
// threads at once.
#pragma once

#include <map>
#include <string>

#include "core/common/error.h"

namespace Service {

inline constexpr size_t kMaxPasswordSize = 1024;
inline constexpr size_t kMaxUserFileSize = 1 << 20;

using UserTable = std::map<std::string, std::string>; // user -> hash

Common::Error LoadUsers(const std::string& path, UserTable& users);

// The lines of a users file's `text` (named `path` in errors) into `users`;
// a malformed line gives FileErrors::kCorrupted and leaves `users` as it was.
Common::Error ParseUsers(const std::string& text, const std::string& path, UserTable& users);

// True when `user` is in the table and `password` matches its hash. An unknown
// user takes as long as a wrong password; checks run one at a time.
bool CheckPassword(const UserTable& users, const std::string& user, const std::string& password);

// Adds `user` with `password` to the file (replacing the user's hash when
// present), creating the file with mode 0600 when missing. The file is
// replaced as a whole, so a failure leaves the old one.
Common::Error AddUser(const std::string& path, const std::string& user, const std::string& password);

} // namespace Service
