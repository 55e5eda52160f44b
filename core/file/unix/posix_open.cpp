#include "core/file/unix/posix_open.h"

#include <fcntl.h>
#include <signal.h>

#include <atomic>
#include <memory>
#include <new>

#include "core/common/file_errors.h"
#include "core/common/message_catalogue.h"
#include "core/common/safe_close.h"
#include "core/file/unix/file_error.h"
#include "core/file/unix/posixsp.h"
#include "platform/linuxex/linuxex.h"

namespace {

std::atomic<bool> g_fileSizeSignalIgnored{false};

using PosixSp::At;

// An open descriptor not yet handed to a file: closed when the owner ends,
// with SafeClose until close-on-exec is set, with LinuxExClose after that.
struct DescriptorOwner
{
    explicit DescriptorOwner(int owned) noexcept : descriptor(owned) {}

    int descriptor;
    bool closeOnExecSet = false;

    ~DescriptorOwner()
    {
        if (descriptor < 0)
            return;
        if (closeOnExecSet)
            LinuxExClose(descriptor);
        else
            (void)Common::SafeClose(descriptor); // the close result is not read
    }
    void Release() noexcept { descriptor = -1; }

    DescriptorOwner(const DescriptorOwner&) = delete;
    DescriptorOwner& operator=(const DescriptorOwner&) = delete;
};

bool AsksForWriting(int flags)
{
    const int access = flags & O_ACCMODE;
    return access == O_WRONLY || access == O_RDWR;
}

} // namespace

posix_file* OpenPosixFile(file_object& directory, const std::string& path, int flags, bool rangeLocks,
                          int mode) noexcept
{
    bool truncateAfterLock = false;
    if (!rangeLocks && (flags & O_TRUNC)) {
        flags &= ~O_TRUNC;
        truncateAfterLock = true;
    }
    const bool writing = AsksForWriting(flags);
    if (writing && !g_fileSizeSignalIgnored.load(std::memory_order_relaxed)) {
        ::signal(SIGXFSZ, SIG_IGN);
        g_fileSizeSignalIgnored.store(true, std::memory_order_relaxed);
    }

    const int descriptor = LinuxExOpen(path.c_str(), flags, mode);
    if (descriptor == -1) {
        directory.SetError(MakeFileError(FileErrors::kOpenFailed, FileErrors::kOpenFailedText, path.c_str(), nullptr,
                                         At("Open", 671)));
        return nullptr;
    }
    // Closes the descriptor on every early return until the new file takes
    // it over.
    DescriptorOwner owner{descriptor};
    if (::fcntl(descriptor, F_SETFD, FD_CLOEXEC) == -1) {
        directory.SetError(MakeFileError(FileErrors::kOpenFailed, FileErrors::kOpenFailedText, path.c_str(), nullptr,
                                         At("Open", 697)));
        return nullptr;
    }
    owner.closeOnExecSet = true;
    if (!rangeLocks) {
        Common::Error lockError = DoLockFileHandle(true, descriptor, writing, false, 0, 0);
        if (lockError.GetCode() != 0) {
            Common::Error denied(FileErrors::kAccessDenied, Common::GetMessageText(FileErrors::kAccessDeniedText),
                                 At("Open", 708));
            denied.AddCause(lockError);
            directory.SetError(denied);
            return nullptr;
        }
    }

    std::unique_ptr<posix_file> file(new (std::nothrow) posix_file(descriptor, rangeLocks));
    if (!file) {
        directory.SetError(FileErrors::MakeFileMessageError(FileErrors::kOutOfMemory, FileErrors::kOutOfMemoryText,
                                                            At("Open", __LINE__)));
        return nullptr;
    }
    owner.Release(); // the file closes it now
    if (truncateAfterLock) {
        file->Truncate(0);
        if (file->IsFailed()) {
            Common::Error failure = MakeFileError(FileErrors::kOpenFailed, FileErrors::kOpenFailedText, path.c_str(),
                                                  nullptr, At("Open", 722));
            failure.AddCause(file->TakeError());
            directory.SetError(failure);
            return nullptr;
        }
    }
    directory.SetSuccess();
    return file.release();
}
