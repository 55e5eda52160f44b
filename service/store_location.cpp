#include "service/store_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "core/common/file_errors.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"
#include "service/store_errors.h"

namespace Service {

namespace {

constexpr Common::SourceFile kSource("service/store_location");

bool IsAbsolute(const char* path)
{
    return path && path[0] == '/';
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (IsAbsolute(home))
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && IsAbsolute(found->pw_dir))
        return found->pw_dir;
    return {};
}

Common::Error CreateFailed(int errnoValue, uint32_t line)
{
    Common::Error error = FileErrors::MakeFileMessageError(FileErrors::kCreateFailed, FileErrors::kCreateFailedText,
                                                           kSource.At("CreateFolders", line));
    error.AddPosixError(errnoValue);
    return error;
}

// The text of the first POSIX cause in the chain of `error`, or empty.
std::u16string PosixReason(const Common::Error& error)
{
    for (Common::Error record = error; !record.IsSuccess(); record = record.GetCause()) {
        if (record.GetCode() == Common::kPosixErrorCode)
            return record.GetText();
    }
    return {};
}

// kStoreFailed naming the folder and the reason, with the failure behind it.
Common::Error FolderUnusable(const std::string& folder, const Common::Error& cause, uint32_t line)
{
    const std::u16string text = Common::FormatMessage(Common::GetMessageText(kStoreFolderUnusableText),
                                                      {Common::FromUtf8(folder.c_str()), PosixReason(cause)});
    Common::Error error(kStoreFailed, text.c_str(), kSource.At("GetLocalStorePath", line));
    error.AddCause(cause);
    return error;
}

} // namespace

std::string ResolveStoreFolder(const char* storeFolder, const char* stateHome, const std::string& home)
{
    if (storeFolder && storeFolder[0])
        return storeFolder;
    if (IsAbsolute(stateHome))
        return std::string(stateHome) + "/objpatcher";
    return home.empty() ? std::string() : home + "/.local/state/objpatcher";
}

Common::Error CreateFolders(const std::string& folder)
{
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (!part.empty() && mkdir(part.c_str(), 0700) < 0 && errno != EEXIST)
            return CreateFailed(errno, __LINE__);
        if (end == std::string::npos)
            break;
    }
    struct stat status
    {
    };
    if (stat(folder.c_str(), &status) < 0)
        return CreateFailed(errno, __LINE__);
    if (!S_ISDIR(status.st_mode))
        return CreateFailed(ENOTDIR, __LINE__);
    return Common::Success;
}

Common::Error GetLocalStorePath(std::string& path)
{
    const char* storeFolder = std::getenv(kStoreFolderVariable);
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    const bool needsHome = !(storeFolder && storeFolder[0]) && !IsAbsolute(stateHome);
    const std::string folder = ResolveStoreFolder(storeFolder, stateHome, needsHome ? HomeFolder() : std::string());
    if (folder.empty())
        return MakeStoreFailure("no home folder is known for the local store",
                                kSource.At("GetLocalStorePath", __LINE__));
    const Common::Error error = CreateFolders(folder);
    if (!error.IsSuccess())
        return FolderUnusable(folder, error, __LINE__);
    path = folder + "/" + kStoreFileName;
    return Common::Success;
}

std::chrono::milliseconds ResolveLockWait(const char* value)
{
    const std::chrono::milliseconds fallback(kLockWaitMilliseconds);
    if (!value || !*value || std::strlen(value) > 7)
        return fallback;
    int milliseconds = 0;
    for (const char* c = value; *c; ++c) {
        if (*c < '0' || *c > '9')
            return fallback;
        milliseconds = milliseconds * 10 + (*c - '0');
    }
    return milliseconds <= kMaxLockWaitMilliseconds ? std::chrono::milliseconds(milliseconds) : fallback;
}

std::chrono::milliseconds LockWaitFromEnvironment()
{
    return ResolveLockWait(std::getenv(kLockWaitVariable));
}

Common::Error OpenLocalStore(std::unique_ptr<Store>& store)
{
    std::string path;
    Common::Error error = GetLocalStorePath(path);
    if (!error.IsSuccess())
        return error;
    StoreOpenOptions options;
    options.lockWait = LockWaitFromEnvironment();
    options.lockNoticeAfter = std::chrono::seconds(1);
    options.notice = [](const std::string& line) { std::cerr << "objpatcher: " + line + "\n" << std::flush; };
    return Store::Open(path, options, store);
}

} // namespace Service
