#include "core/file/unix/posix_file.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "core/common/assertion.h"
#include "core/common/file_errors.h"
#include "core/file/unix/file_error.h"
#include "core/file/unix/posixsp.h"
#include "core/file/unix/sector_map.h"
#include "core/file/unix/time_conversion.h"
#include "platform/linuxex/linuxex.h"

namespace {

// One system call moves at most this much; the loops go on for the rest.
constexpr uint64_t kMaxTransfer = 0x7ffff000;

using PosixSp::At;

struct Transferred
{
    uint64_t count = 0;
    bool failed = false;
    int error = 0; // errno of the failed call
};

// Moves `size` bytes from or to `cursor` with `transfer(cursor, length)`, a
// ::read or ::write on the descriptor, at most kMaxTransfer bytes a call,
// until all are moved, a call moves nothing or a call fails.
template <typename Pointer, typename Transfer>
Transferred TransferAll(Pointer cursor, uint64_t size, Transfer transfer)
{
    Transferred result;
    for (;;) {
        const uint64_t remaining = size - result.count;
        const ssize_t rr = transfer(cursor, remaining < kMaxTransfer ? remaining : kMaxTransfer);
        if (rr < 0) {
            result.failed = true;
            result.error = errno;
            break;
        }
        if (rr == 0)
            break;
        const uint64_t Size = remaining;
        if (static_cast<uint64_t>(rr) > Size) {
            Common::ReportAssertion("rr <= Size", kPosixSpSource.path, __LINE__);
            result.count = size; // never report more than the buffer holds
            break;
        }
        result.count += static_cast<uint64_t>(rr);
        if (result.count == size)
            break;
        cursor += rr;
    }
    return result;
}

// The failure of a system call with error number `error`, without a path.
Common::Error CallFailure(int error, unsigned code, unsigned messageKey, const char* function, uint32_t line)
{
    return MakeFileError(error, code, messageKey, nullptr, nullptr, At(function, line));
}

// The failure of a control request; the writing ones report a write failure.
Common::Error WriteFailure(int error, uint32_t line)
{
    return CallFailure(error, FileErrors::kWriteFailed, FileErrors::kWriteFailedText, "IOCTL", line);
}

Common::Error NotSupportedFailure(int error, uint32_t line)
{
    return CallFailure(error, FileErrors::kNotSupported, FileErrors::kNotSupportedText, "IOCTL", line);
}

constexpr uint64_t kSectorCode = MakeControlCode("GSEC");
constexpr uint64_t kRawControlCode = MakeControlCode("UIOC");
constexpr uint64_t kAppendModeCode = MakeControlCode("SAMI");
constexpr uint64_t kGetInodeFlagsCode = MakeControlCode("GUFL");
constexpr uint64_t kSetInodeFlagsCode = MakeControlCode("SUFL");
constexpr uint64_t kSetTimesCode = MakeControlCode("SFTM");
constexpr uint64_t kDeallocateCode = MakeControlCode("SDAT");

} // namespace

Common::Error DoLockFileHandle(bool lock, int descriptor, bool exclusive, bool wait, uint64_t offset,
                               uint64_t length) noexcept
{
    struct flock64 range;
    std::memset(&range, 0, sizeof range);
    range.l_type = static_cast<short>(lock ? (exclusive ? F_WRLCK : F_RDLCK) : F_UNLCK);
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off64_t>(offset);
    range.l_len = static_cast<off64_t>(length);
    range.l_pid = 0;
    if (LinuxExRangeLock(descriptor, wait ? F_SETLKW : F_SETLK, &range) != 0)
        return CallFailure(errno, FileErrors::kLockFailed, FileErrors::kLockFailedText, "DoLockFileHandle", 189);
    return Common::Success;
}

posix_file::posix_file(int descriptor, bool rangeLocks) noexcept : m_descriptor(descriptor), m_rangeLocks(rangeLocks)
{
}

posix_file::~posix_file()
{
    if (m_descriptor >= 0)
        LinuxExClose(m_descriptor);
}

void posix_file::Read(void* buffer, uint64_t size, uint64_t* bytesRead)
{
    if (bytesRead)
        *bytesRead = 0;
    if (IsFailed() || size == 0)
        return;
    const Transferred moved = TransferAll(
        static_cast<unsigned char*>(buffer), size,
        [this](unsigned char* cursor, uint64_t length) { return ::read(m_descriptor, cursor, length); });
    if (moved.failed)
        SetError(CallFailure(moved.error, FileErrors::kReadFailed, FileErrors::kReadFailedText, "Read", 330));
    if (bytesRead)
        *bytesRead = moved.count;
}

void posix_file::Write(const void* data, uint64_t size, uint64_t* bytesWritten)
{
    if (bytesWritten)
        *bytesWritten = 0;
    if (IsFailed() || size == 0)
        return;
    const Transferred moved = TransferAll(
        static_cast<const unsigned char*>(data), size,
        [this](const unsigned char* cursor, uint64_t length) { return ::write(m_descriptor, cursor, length); });
    // A full disk or a file too large ends short; write-all reports it.
    if (moved.failed && moved.error != EFBIG && moved.error != ENOSPC)
        SetError(CallFailure(moved.error, FileErrors::kWriteFailed, FileErrors::kWriteFailedText, "Write", 361));
    if (bytesWritten)
        *bytesWritten = moved.count;
}

void posix_file::Flush()
{
    if (IsFailed())
        return;
    if (::fsync(m_descriptor) != 0)
        SetError(CallFailure(errno, FileErrors::kWriteFailed, FileErrors::kWriteFailedText, "Flush", 380));
}

void posix_file::Truncate(uint64_t length)
{
    if (IsFailed())
        return;
    if (length > static_cast<uint64_t>(INT64_MAX)) { // beyond any file offset: fails as the call would
        SetError(CallFailure(EFBIG, FileErrors::kWriteFailed, FileErrors::kWriteFailedText, "Truncate", 429));
        return;
    }
    if (::ftruncate(m_descriptor, static_cast<off_t>(length)) != 0)
        SetError(CallFailure(errno, FileErrors::kWriteFailed, FileErrors::kWriteFailedText, "Truncate", 429));
}

namespace {

// One lseek(2) with the outcome in `file`'s slot.
uint64_t Position(posix_file& file, int64_t offset, int whence)
{
    const off_t result = ::lseek(file.GetDescriptor(), static_cast<off_t>(offset), whence);
    if (result < 0) {
        file.SetError(CallFailure(errno, FileErrors::kSeekFailed, FileErrors::kSeekFailedText, "Seek", 388));
        return 0;
    }
    file.SetSuccess();
    return static_cast<uint64_t>(result);
}

} // namespace

uint64_t posix_file::Seek(uint64_t position)
{
    if (position > static_cast<uint64_t>(INT64_MAX)) {
        SetError(CallFailure(EINVAL, FileErrors::kSeekFailed, FileErrors::kSeekFailedText, "Seek", 388));
        return 0;
    }
    return Position(*this, static_cast<int64_t>(position), SEEK_SET);
}

uint64_t posix_file::Move(int64_t delta)
{
    return Position(*this, delta, SEEK_CUR);
}

uint64_t posix_file::SeekEnd(int64_t delta)
{
    const off_t result = ::lseek(m_descriptor, static_cast<off_t>(delta), SEEK_END);
    if (result >= 0) {
        SetSuccess();
        return static_cast<uint64_t>(result);
    }
    if (errno != EBADF) {
        SetError(CallFailure(errno, FileErrors::kSeekFailed, FileErrors::kSeekFailedText, "Seek", 388));
        return 0;
    }
    struct stat status;
    if (::fstat(m_descriptor, &status) != 0) {
        SetError(CallFailure(errno, FileErrors::kSeekFailed, FileErrors::kSeekFailedText, "SeekEnd", 420));
        return 0;
    }
    SetSuccess();
    return Seek(static_cast<uint64_t>(delta) + static_cast<uint64_t>(status.st_size));
}

void posix_file::LockShared(uint64_t offset, uint64_t length, bool wait)
{
    if (IsClear() && m_rangeLocks)
        SetError(DoLockFileHandle(true, m_descriptor, false, wait, offset, length));
}

void posix_file::LockExclusive(uint64_t offset, uint64_t length, bool wait)
{
    if (IsClear() && m_rangeLocks)
        SetError(DoLockFileHandle(true, m_descriptor, true, wait, offset, length));
}

void posix_file::Unlock(uint64_t offset, uint64_t length)
{
    if (IsClear() && m_rangeLocks)
        SetError(DoLockFileHandle(false, m_descriptor, false, false, offset, length));
}

void posix_file::IOCTL(void* request)
{
    if (IsFailed())
        return;
    switch (GetControlCode(request)) {
    case kSectorCode:
        MapSector(*static_cast<gsec_request*>(request));
        break;
    case kRawControlCode:
        RawControl(*static_cast<uioc_request*>(request));
        break;
    case kAppendModeCode:
        SetAppendMode();
        break;
    case kGetInodeFlagsCode:
        GetInodeFlags(*static_cast<ufl_request*>(request));
        break;
    case kSetInodeFlagsCode:
        SetInodeFlags(*static_cast<ufl_request*>(request));
        break;
    case kSetTimesCode:
        SetTimes(*static_cast<sftm_request*>(request));
        break;
    case kDeallocateCode:
        Deallocate(*static_cast<sdat_request*>(request));
        break;
    default:
        file_object::IOCTL(request);
        break;
    }
}

void posix_file::MapSector(gsec_request& request)
{
    int blockSize = 0;
    if (::ioctl(m_descriptor, FIGETBSZ, &blockSize) != 0) {
        SetError(NotSupportedFailure(errno, 526));
        return;
    }
    const uint64_t sectorsPerBlock = static_cast<uint64_t>(static_cast<unsigned>(blockSize)) >> 9;
    if (sectorsPerBlock == 0) {
        // A block smaller than a sector cannot be mapped to sectors.
        SetError(NotSupportedFailure(EOPNOTSUPP, 526));
        return;
    }
    const off_t position = ::lseek(m_descriptor, 0, SEEK_CUR);
    if (position < 0) {
        SetError(CallFailure(errno, FileErrors::kSeekFailed, FileErrors::kSeekFailedText, "IOCTL", 526));
        return;
    }
    const uint64_t sector = static_cast<uint64_t>(position) / 512;
    const uint64_t blockIndex = sector / sectorsPerBlock;
    const uint64_t offsetInBlock = sector % sectorsPerBlock;
    if (blockIndex > static_cast<uint64_t>(INT_MAX)) {
        // The block map takes a 32-bit block number.
        SetError(NotSupportedFailure(EOPNOTSUPP, 546));
        return;
    }
    int block = static_cast<int>(blockIndex);
    if (::ioctl(m_descriptor, FIBMAP, &block) != 0) {
        SetError(NotSupportedFailure(errno, 546));
        return;
    }
    request.sector = SectorMap::PhysicalSector(static_cast<uint32_t>(block), sectorsPerBlock, offsetInBlock);
    request.sectorsLeft = sectorsPerBlock - offsetInBlock;
    request.flag = 0;
}

void posix_file::RawControl(uioc_request& request)
{
    const int result = ::ioctl(m_descriptor, static_cast<unsigned long>(static_cast<uint32_t>(request.request)),
                               request.argument);
    request.result = result;
    if (result != 0)
        request.error = errno;
}

void posix_file::SetAppendMode()
{
    const int flags = ::fcntl(m_descriptor, F_GETFL);
    if (flags == -1 || ::fcntl(m_descriptor, F_SETFL, flags | O_APPEND) == -1) {
        const int error = errno;
        Common::Error failure(FileErrors::kWriteFailed, At("IOCTL", 454));
        failure.AddPosixError(error);
        SetError(failure);
    }
}

void posix_file::GetInodeFlags(ufl_request& request)
{
    unsigned int flags = 0;
    if (::ioctl(m_descriptor, FS_IOC_GETFLAGS, &flags) != 0) {
        SetError(WriteFailure(errno, 472));
        return;
    }
    request.flags = flags;
}

void posix_file::SetInodeFlags(ufl_request& request)
{
    unsigned int flags = static_cast<unsigned int>(request.flags);
    if (::ioctl(m_descriptor, FS_IOC_SETFLAGS, &flags) != 0)
        SetError(WriteFailure(errno, 482));
}

void posix_file::SetTimes(sftm_request& request)
{
    const timeval times[2] = {FileTime::MillisecondsToTimeval(request.accessTime),
                              FileTime::MillisecondsToTimeval(request.modificationTime)};
    if (::futimes(m_descriptor, times) != 0)
        SetError(WriteFailure(errno, 447));
}

void posix_file::Deallocate(sdat_request& request)
{
    if (request.offset > static_cast<uint64_t>(INT64_MAX) || request.length > static_cast<uint64_t>(INT64_MAX)) {
        SetError(WriteFailure(EINVAL, 491));
        return;
    }
    int result;
    do {
        result = ::fallocate(m_descriptor, FALLOC_FL_KEEP_SIZE | FALLOC_FL_PUNCH_HOLE,
                             static_cast<off_t>(request.offset), static_cast<off_t>(request.length));
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        SetError(WriteFailure(errno, 491));
}
