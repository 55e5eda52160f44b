#include "service/user_file.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/common/file_errors.h"
#include "core/common/safe_close.h"
#include "core/common/text_conversion.h"
#include "platform/ipc/frame.h"
#include "service/file_trust.h"

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

Common::Error WithCause(Common::Error error, int errnoValue)
{
    error.AddPosixError(errnoValue);
    return error;
}

static_assert(kHashMemoryLimit == crypto_pwhash_MEMLIMIT_INTERACTIVE &&
              kHashOperationsLimit == crypto_pwhash_OPSLIMIT_INTERACTIVE);

constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";

// The bytes of a Hello other than user and password: service code and two sizes.
constexpr size_t kHelloOverhead = 4 + 2 + 2;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// True when `text` comes back unchanged from UTF-8 to UTF-16 and back, the
// road of the tool's user and password.
bool SurvivesToolConversion(const std::string& text)
{
    std::u16string wide;
    if (!Common::ConvertUtf8ToUtf16(wide, text.data(), text.size()))
        return false;
    std::string back;
    (void)Common::ConvertUtf16ToUtf8(back, wide.data(), wide.size());
    Common::ClearString(wide);
    const bool same = back == text;
    std::fill(back.begin(), back.end(), '\0');
    return same;
}

bool Initialized()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// What a hash string says of itself: "$argon2id$v=19$m=65536,t=2,p=1$...".
struct HashParameters
{
    std::string algorithm; // "argon2id", "argon2i"
    unsigned long long memory = 0, operations = 0, lanes = 0;
};

// Empty when libsodium reads `hash` and its cost is within the limits AddUser writes; else why not.
std::string WhyHashIsRefused(const std::string& hash, HashParameters& read)
{
    if (!Initialized() || hash.size() >= crypto_pwhash_STRBYTES ||
        crypto_pwhash_str_needs_rehash(hash.c_str(), kHashOperationsLimit, kHashMemoryLimit) < 0)
        return "its hash is not one libsodium can read";
    // Read now that libsodium has.
    const size_t parameters = hash.find("$m=");
    const size_t algorithmEnd = hash.find('$', 1);
    if (parameters == std::string::npos || algorithmEnd == std::string::npos ||
        std::sscanf(hash.c_str() + parameters, "$m=%llu,t=%llu,p=%llu", &read.memory, &read.operations, &read.lanes) !=
            3)
        return "its hash is not one libsodium can read";
    read.algorithm = hash.substr(1, algorithmEnd - 1);
    if (read.memory > kHashMemoryLimit / 1024 || read.operations > kHashOperationsLimit || read.lanes != 1)
        return "its hash costs more than this service checks (m=" + std::to_string(read.memory) +
            ", t=" + std::to_string(read.operations) + ", p=" + std::to_string(read.lanes) +
            "; at most m=" + std::to_string(kHashMemoryLimit / 1024) + ", t=" + std::to_string(kHashOperationsLimit) +
            ", p=1)";
    return {};
}

// Empty when `hash`, which WhyHashIsRefused accepted, is as strong as those
// AddUser makes (Argon2id at kHashMemoryLimit and kHashOperationsLimit); else
// what it is.
std::string WhyHashIsWeak(const std::string& hash, const HashParameters& read)
{
    if (read.algorithm == "argon2id" &&
        crypto_pwhash_str_needs_rehash(hash.c_str(), kHashOperationsLimit, kHashMemoryLimit) == 0)
        return {};
    return "its hash is weaker than those adduser makes (" + read.algorithm + ", m=" + std::to_string(read.memory) +
        ", t=" + std::to_string(read.operations) +
        "; adduser makes argon2id, m=" + std::to_string(kHashMemoryLimit / 1024) +
        ", t=" + std::to_string(kHashOperationsLimit) + "): add the user again to replace it";
}

// Checks owner, kind and mode of the open file.
Common::Error CheckFile(int fd, const std::string& path, const char* function)
{
    struct stat status
    {
    };
    if (fstat(fd, &status) < 0)
        return WithCause(Refused(FileErrors::kOpenFailed, path, "cannot be examined", function, __LINE__), errno);
    if (const char* why = WhyFileIsUntrusted(status))
        return Refused(FileErrors::kAccessDenied, path, why, function, __LINE__);
    if ((status.st_mode & 07777) != 0600)
        return Refused(FileErrors::kAccessDenied, path, "its mode must be 0600", function, __LINE__);
    return Common::Success;
}

// Reads the whole file after the checks; `missing` tells that it does not exist.
Common::Error ReadUserFile(const std::string& path, bool& missing, UserTable& users,
                           std::vector<std::string>* warnings = nullptr)
{
    missing = false;
    // Without blocking: opening a FIFO for reading would wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int cause = errno;
        missing = cause == ENOENT;
        return WithCause(Refused(FileErrors::kOpenFailed, path,
                                 cause == ELOOP ? "cannot be opened: it is a symbolic link" : "cannot be opened",
                                 "LoadUsers", __LINE__),
                         cause);
    }
    Common::Error error = CheckFile(fd, path, "LoadUsers");
    std::string text;
    char buffer[4096];
    while (error.IsSuccess()) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = WithCause(Refused(FileErrors::kReadFailed, path, "cannot be read", "LoadUsers", __LINE__), errno);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > kMaxUserFileSize)
            error = Refused(FileErrors::kCorrupted, path, "larger than 1 MiB", "LoadUsers", __LINE__);
    }
    (void)Common::SafeClose(fd); // read-only: nothing is lost by a failed close
    if (!error.IsSuccess())
        return error;
    return ParseUsers(text, path, users, warnings);
}

} // namespace

std::string WhyUserNameIsUnusable(const std::string& user)
{
    if (user.empty())
        return "the user name is empty";
    if (user.find_first_of(std::string(":\n\r\0", 4)) != std::string::npos)
        return "the user name holds ':', a line break or a NUL";
    if (user.find(kByteOrderMark) != std::string::npos)
        return "the user name holds a byte-order mark";
    if (IsBlank(user.front()) || IsBlank(user.back()))
        return "the user name starts or ends with a blank";
    if (!SurvivesToolConversion(user))
        return "the user name is not valid UTF-8";
    if (kHelloOverhead + user.size() + 1 > Ipc::kMaxHelloPayload)
        return "the user name is too long to log in (at most " +
            std::to_string(Ipc::kMaxHelloPayload - kHelloOverhead - 1) + " bytes)";
    return {};
}

Common::Error ParseUsers(const std::string& text, const std::string& path, UserTable& users,
                         std::vector<std::string>* warnings)
{
    UserTable parsed;
    std::vector<std::string> weak;
    size_t start = 0;
    for (unsigned number = 1; start < text.size(); ++number) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        std::string problem;
        HashParameters hash;
        const size_t colon = line.find(':');
        if (line.find('\r') != std::string::npos)
            problem = "holds a carriage return (lines end in a line feed alone)";
        else if (line.find(kByteOrderMark) != std::string::npos)
            problem = "holds a byte-order mark";
        else if (colon == std::string::npos || colon == 0 || colon + 1 == line.size())
            problem = "is not user:hash";
        else if (std::string why = WhyUserNameIsUnusable(line.substr(0, colon)); !why.empty())
            problem = "cannot log in: " + why;
        else if (std::string refused = WhyHashIsRefused(line.substr(colon + 1), hash); !refused.empty())
            problem = "is refused: " + refused;
        if (!problem.empty())
            return Refused(FileErrors::kCorrupted, path, ("line " + std::to_string(number) + " " + problem).c_str(),
                           "LoadUsers", __LINE__);
        if (std::string why = WhyHashIsWeak(line.substr(colon + 1), hash); !why.empty())
            weak.push_back("users file " + path + ": line " + std::to_string(number) + ": " + why);
        parsed[line.substr(0, colon)] = line.substr(colon + 1);
    }
    users = std::move(parsed);
    if (warnings)
        warnings->insert(warnings->end(), weak.begin(), weak.end());
    return Common::Success;
}

Common::Error LoadUsers(const std::string& path, UserTable& users, std::vector<std::string>* warnings)
{
    bool missing = false;
    return ReadUserFile(path, missing, users, warnings);
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
        if (crypto_pwhash_str(hash, reinterpret_cast<const char*>(random), sizeof random, kHashOperationsLimit,
                              kHashMemoryLimit) != 0)
            return std::string(); // matches nothing, at once: only the timing is lost
        return std::string(hash);
    }();
    // Each check takes the hash's memory (at most kHashMemoryLimit, as loading
    // made sure); the caller bounds how many run at once.
    const auto found = users.find(user);
    const std::string& hash = found != users.end() ? found->second : unknownUserHash;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 && found != users.end();
}

Common::Error AddUser(const std::string& path, const std::string& user, const std::string& password, bool* replaced)
{
    if (replaced)
        *replaced = false;
    if (const std::string why = WhyUserNameIsUnusable(user); !why.empty())
        return Refused(FileErrors::kCorrupted, path, (why + ": the user is not added").c_str(), "AddUser", __LINE__);
    if (password.empty() || password.size() > kMaxPasswordSize)
        return Refused(FileErrors::kCorrupted, path, "a password has 1 to 1024 bytes", "AddUser", __LINE__);
    if (!SurvivesToolConversion(password))
        return Refused(FileErrors::kCorrupted, path, "the password is not valid UTF-8 (or holds a NUL)", "AddUser",
                       __LINE__);
    if (kHelloOverhead + user.size() + password.size() > Ipc::kMaxHelloPayload)
        return Refused(FileErrors::kCorrupted, path,
                       ("user name and password together pass the " +
                        std::to_string(Ipc::kMaxHelloPayload - kHelloOverhead) + " bytes a login may carry")
                           .c_str(),
                       "AddUser", __LINE__);
    UserTable users;
    bool missing = false;
    Common::Error error = ReadUserFile(path, missing, users);
    if (!error.IsSuccess() && !missing)
        return error;

    char hash[crypto_pwhash_STRBYTES];
    if (!Initialized() ||
        crypto_pwhash_str(hash, password.data(), password.size(), kHashOperationsLimit, kHashMemoryLimit) != 0)
        return FileFailure(FileErrors::kOutOfMemory, FileErrors::kOutOfMemoryText, 0, "AddUser", __LINE__);
    const bool existed = users.count(user) != 0;
    users[user] = hash;

    std::string text;
    for (const auto& [name, userHash] : users)
        text += name + ":" + userHash + "\n";
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data()); // mode 0600
    if (fd < 0)
        return WithCause(Refused(FileErrors::kCreateFailed, path, "cannot be replaced: no file can be made beside it",
                                 "AddUser", __LINE__),
                         errno);
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
        return WithCause(Refused(FileErrors::kWriteFailed, path, "cannot be written", "AddUser", __LINE__), cause);
    }
    if (replaced)
        *replaced = existed;
    return Common::Success;
}

} // namespace Service
