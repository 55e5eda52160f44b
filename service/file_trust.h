// Whether this process may trust a file it finds in place of one of its own
// (the users file, the store and its companion files): only a regular file
// owned by the process's effective user is trusted. A symbolic link, a FIFO,
// a device or a file another user made could hand what the file holds to
// someone else, or feed the process what someone else wrote.
//
// Threading: pure functions.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace Service {

// Null when a file of `status` (from fstat, or lstat: a link is not
// followed) is trusted; else why not: "a symbolic link, not a regular file",
// "not a regular file" or "not owned by this user".
const char* WhyFileIsUntrusted(const struct stat& status);

// "0644": the permission bits of `mode` in octal.
std::string ModeText(mode_t mode);

} // namespace Service
