#include "service/user_file.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/common/file_errors.h"
#include "core/common/mutex.h"
#include "core/common/safe_close.h"

namespace Service {

namespace {

constexpr Common::SourceFile kSource("service/user_file");

Common::Error FileFailure(unsigned code, unsigned textKey, int errnoValue, const char* function, uint32_t line)
{
    Common::Error error = FileErrors::MakeFileMessageError(code, textKey, kSource.At(function, line));
    if (errnoValue != 0)
        error.AddPosixError(errnoValue);
    return error;
}

// A narrow-text error naming the file.
Common::Error Refused(unsigned code, const std::string& path, const char* what, const char* function, uint32_t line)
{
    return Common::Error(code, ("users file " + path + ": " + what).c_str(), kSource.At(function, line));
}

bool IsValidUser(const std::string& user)
{
    return !user.empty() && user.find_first_of(std::string(":\n\r\0", 4)) == std::string::npos;
}

bool Initialized()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Checks owner, kind and mode of the open file.
Common::Error CheckFile(int fd, const std::string& path, const char* function)
{
    struct stat status
    {
    };
    if (fstat(fd, &status) < 0)
        return FileFailure(FileErrors::kOpenFailed, FileErrors::kOpenFailedText, errno, function, __LINE__);
    if (!S_ISREG(status.st_mode))
        return Refused(FileErrors::kAccessDenied, path, "not a regular file", function, __LINE__);
    if (status.st_uid != geteuid())
        return Refused(FileErrors::kAccessDenied, path, "not owned by this user", function, __LINE__);
    if ((status.st_mode & 07777) != 0600)
        return Refused(FileErrors::kAccessDenied, path, "its mode must be 0600", function, __LINE__);
    return Common::Success;
}

// Reads the whole file after the checks; `missing` tells that it does not exist.
Common::Error ReadUserFile(const std::string& path, bool& missing, UserTable& users)
{
    missing = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        missing = errno == ENOENT;
        return FileFailure(FileErrors::kOpenFailed, FileErrors::kOpenFailedText, errno, "LoadUsers", __LINE__);
    }
    Common::Error error = CheckFile(fd, path, "LoadUsers");
    std::string text;
    char buffer[4096];
    while (error.IsSuccess()) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = FileFailure(FileErrors::kReadFailed, FileErrors::kReadFailedText, errno, "LoadUsers", __LINE__);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > kMaxUserFileSize)
            error = Refused(FileErrors::kCorrupted, path, "larger than 1 MiB", "LoadUsers", __LINE__);
    }
    (void)Common::SafeClose(fd); // read-only: nothing is lost by a failed close
    if (!error.IsSuccess())
        return error;
    return ParseUsers(text, path, users);
}

} // namespace

Common::Error ParseUsers(const std::string& text, const std::string& path, UserTable& users)
{
    UserTable parsed;
    std::istringstream lines(text);
    std::string line;
    for (unsigned number = 1; std::getline(lines, line); ++number) {
        if (line.empty())
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == line.size())
            return Refused(FileErrors::kCorrupted, path,
                           ("line " + std::to_string(number) + " is not user:hash").c_str(), "LoadUsers", __LINE__);
        parsed[line.substr(0, colon)] = line.substr(colon + 1);
    }
    users = std::move(parsed);
    return Common::Success;
}

Common::Error LoadUsers(const std::string& path, UserTable& users)
{
    bool missing = false;
    return ReadUserFile(path, missing, users);
}

bool CheckPassword(const UserTable& users, const std::string& user, const std::string& password)
{
    if (!Initialized())
        return false;
    // An unknown user is checked against a hash of a random password, so that a
    // refusal takes as long whether the user exists or not.
    static const std::string unknownUserHash = [] {
        unsigned char random[32];
        randombytes_buf(random, sizeof random);
        char hash[crypto_pwhash_STRBYTES] = {};
        if (crypto_pwhash_str(hash, reinterpret_cast<const char*>(random), sizeof random,
                              crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
            return std::string(); // matches nothing, at once: only the timing is lost
        return std::string(hash);
    }();
    // Each check takes the hash's memory limit (tens of MiB): one at a time, so
    // that many connections at once cannot exhaust the memory.
    static Common::Mutex oneAtATime;
    const auto found = users.find(user);
    const std::string& hash = found != users.end() ? found->second : unknownUserHash;
    Common::LockGuard guard(oneAtATime);
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 && found != users.end();
}

Common::Error AddUser(const std::string& path, const std::string& user, const std::string& password)
{
    if (!IsValidUser(user))
        return Refused(FileErrors::kCorrupted, path, "a user name is not empty and has no ':' or line break", "AddUser",
                       __LINE__);
    if (password.empty() || password.size() > kMaxPasswordSize)
        return Refused(FileErrors::kCorrupted, path, "a password has 1 to 1024 bytes", "AddUser", __LINE__);
    UserTable users;
    bool missing = false;
    Common::Error error = ReadUserFile(path, missing, users);
    if (!error.IsSuccess() && !missing)
        return error;

    char hash[crypto_pwhash_STRBYTES];
    if (!Initialized() ||
        crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return FileFailure(FileErrors::kOutOfMemory, FileErrors::kOutOfMemoryText, 0, "AddUser", __LINE__);
    users[user] = hash;

    std::string text;
    for (const auto& [name, userHash] : users)
        text += name + ":" + userHash + "\n";
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data()); // mode 0600
    if (fd < 0)
        return FileFailure(FileErrors::kCreateFailed, FileErrors::kCreateFailedText, errno, "AddUser", __LINE__);
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t now = write(fd, text.data() + written, text.size() - written);
        if (now < 0 && errno == EINTR)
            continue;
        if (now < 0)
            break;
        written += static_cast<size_t>(now);
    }
    const int failure = written < text.size() ? errno : (fsync(fd) < 0 ? errno : 0);
    const int closed = Common::SafeClose(fd) < 0 ? errno : 0;
    if (failure != 0 || closed != 0 || rename(temporary.c_str(), path.c_str()) < 0) {
        const int cause = failure != 0 ? failure : closed != 0 ? closed : errno;
        (void)unlink(temporary.c_str()); // the old file stays; a leftover temporary is only clutter
        return FileFailure(FileErrors::kWriteFailed, FileErrors::kWriteFailedText, cause, "AddUser", __LINE__);
    }
    return Common::Success;
}

} // namespace Service
