// posix_dir: control requests, drive size, special directories and the
// process's working directory.

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "core/common/file_errors.h"
#include "core/file/unix/file_error.h"
#include "core/file/unix/file_system_name.h"
#include "core/file/unix/posix_backup.h"
#include "core/file/unix/posix_dir.h"
#include "core/file/unix/posix_restore.h"
#include "core/file/unix/posixsp.h"
#include "core/file/unix/time_conversion.h"

namespace {

using namespace FileErrors;

using PosixSp::At;
using PosixSp::MessageError;

constexpr uint64_t kSetTimesCode = MakeControlCode("STME");
constexpr uint64_t kDeviceCode = MakeControlCode("GSYP");
constexpr uint64_t kFileSystemCode = MakeControlCode("GFST");
constexpr uint64_t kBackupCode = MakeControlCode("BKUP");
constexpr uint64_t kRestoreCode = MakeControlCode("RSTR");

} // namespace

void posix_dir::IOCTL(void* request)
{
    switch (GetControlCode(request)) {
    case kSetTimesCode:
        SetTimes(*static_cast<stme_request*>(request));
        break;
    case kDeviceCode:
        GetDevice(*static_cast<gsyp_request*>(request));
        break;
    case kFileSystemCode:
        GetFileSystemType(*static_cast<gfst_request*>(request));
        break;
    case kBackupCode: {
        auto& backup = *static_cast<bkup_request*>(request);
        SetError(PosixBackupFile(this, backup.item, &backup.parameters));
        break;
    }
    case kRestoreCode: {
        auto& restore = *static_cast<rstr_request*>(request);
        SetError(PosixRestoreFile(this, GetPath(), restore.name, &restore.parameters));
        break;
    }
    default:
        rio_dir::IOCTL(request);
        break;
    }
}

void posix_dir::SetTimes(stme_request& request)
{
    std::string path;
    if (!JoinName(request.name, path)) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "IOCTL", __LINE__));
        return;
    }
    struct stat64 status;
    if (lstat64(path.c_str(), &status) != 0) {
        SetError(MakeFileError(kReadFailed, kReadFailedText, path.c_str(), nullptr, At("IOCTL", 1559)));
        return;
    }
    if (S_ISLNK(status.st_mode)) {
        SetError(MessageError(kNotSupported, kNotSupportedText, "IOCTL", 1561));
        return;
    }
    const timeval times[2] = {FileTime::MillisecondsToTimeval(request.accessTime),
                              FileTime::MillisecondsToTimeval(request.modificationTime)};
    if (utimes(path.c_str(), times) != 0) {
        SetError(MessageError(kWriteFailed, kWriteFailedText, "IOCTL", 1563));
        return;
    }
    SetSuccess();
}

void posix_dir::GetDevice(gsyp_request& request)
{
    std::string path = m_path;
    struct stat64 status;
    for (;;) {
        if (stat64(path.c_str(), &status) == 0)
            break;
        const int error = errno;
        const size_t cut = path.size() > 2 ? path.rfind('/', path.size() - 3) : std::string::npos;
        if ((error != ENOENT && error != ENOTDIR) || cut == std::string::npos) {
            SetError(MessageError(kNotSupported, kNotSupportedText, "IOCTL", 1506));
            return;
        }
        path.resize(cut + 1);
    }
    request.major = major(status.st_dev);
    request.minor = minor(status.st_dev);
    request.path = GetPath();
    SetSuccess();
}

void posix_dir::GetFileSystemType(gfst_request& request)
{
    struct statfs info;
    if (statfs(m_path.c_str(), &info) != 0) {
        SetError(MakeFileError(kNotSupported, kNotSupportedText, m_path.c_str(), nullptr, At("IOCTL", 1618)));
        return;
    }
    const char* name = GetFileSystemName(static_cast<uint32_t>(info.f_type));
    constexpr size_t kCapacity = sizeof(request.name) / sizeof(request.name[0]);
    size_t i = 0;
    for (; name[i] && i + 1 < kCapacity; ++i) {
        const char c = name[i];
        request.name[i] = static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    request.name[i] = 0;
    SetSuccess();
}

void posix_dir::GetDriveSize(uint64_t* total, uint64_t* free, uint64_t* available)
{
    uint64_t ignored[3];
    if (!total)
        total = &ignored[0];
    if (!free)
        free = &ignored[1];
    if (!available)
        available = &ignored[2];
    *total = *free = *available = 0;
    struct statfs info;
    if (statfs(m_path.c_str(), &info) != 0) {
        SetError(MakeFileError(kReadFailed, kReadFailedText, m_path.c_str(), nullptr, At("GetDriveSize", 1154)));
        return;
    }
    if (info.f_bsize == 0) {
        SetError(MakeFilePathError(kReadFailed, kReadFailedText, m_path.c_str(), nullptr, At("GetDriveSize", 1161)));
        return;
    }
    const uint64_t blockSize = static_cast<uint64_t>(info.f_bsize);
    *total = blockSize * info.f_blocks;
    *free = blockSize * info.f_bfree;
    *available = blockSize * info.f_bavail;
    SetSuccess();
}

rio_dir* posix_dir::OpenSpecialDir(uint32_t number)
{
    const char* path = nullptr;
    switch (number) {
    case 143:
        path = "/var/lib";
        break;
    case 149:
        path = "/tmp";
        break;
    case 156:
        path = "/var/log";
        break;
    case 144:
    case 145:
        path = std::getenv("HOME");
        if (!path || *path != '/') {
            SetError(MessageError(kOpenFailed, kOpenFailedText, "OpenSpecialDir", 883));
            return nullptr;
        }
        break;
    default:
        SetError(MessageError(kNotSupported, kNotSupportedText, "OpenSpecialDir", 893));
        return nullptr;
    }
    SetSuccess();
    return new posix_dir(path);
}

posix_dir* OpenCurrentDir()
{
    // Read once; the initialization of a local static is thread-safe.
    static const std::string workingDirectory = [] {
        char buffer[4096] = {};
        return std::string(getcwd(buffer, sizeof buffer) ? buffer : "/");
    }();
    return new posix_dir(workingDirectory);
}
