// posix_dir's iterators: the readdir iterator over a directory and the
// iterator over one named item.

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/common/file_errors.h"
#include "core/file/unix/file_error.h"
#include "core/file/unix/file_name_conversion.h"
#include "core/file/unix/posix_dir.h"
#include "core/file/unix/posixsp.h"
#include "core/file/unix/the_identifier.h"
#include "core/file/unix/time_conversion.h"

namespace {

using namespace FileErrors;

using PosixSp::At;
using PosixSp::MessageError;

uint32_t TypeOfMode(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return ITEM_DIRECTORY;
    case S_IFREG:
        return ITEM_REGULAR;
    case S_IFIFO:
        return ITEM_FIFO;
    case S_IFCHR:
        return ITEM_CHAR_DEVICE;
    case S_IFBLK:
        return ITEM_BLOCK_DEVICE;
    case S_IFLNK:
        return ITEM_SYMLINK;
    case S_IFSOCK:
        return ITEM_SOCKET;
    default:
        return ITEM_REGULAR;
    }
}

int64_t Milliseconds(const timespec& time)
{
    return FileTime::TimespecToMilliseconds(time);
}

} // namespace

// ---- stat_iterator --------------------------------------------------------

void posix_dir::stat_iterator::DoStat(const std::string& path)
{
    if (lstat64(path.c_str(), &m_status) != 0) {
        m_statusValid = false;
        SetError(MakeFileError(kReadFailed, kReadFailedText, path.c_str(), nullptr, At("DoStat", 1683)));
        return;
    }
    SetSuccess();
    m_statusValid = true;
    // The target of a link is read at most once per entry.
    if (S_ISLNK(m_status.st_mode) && m_linkPath != path) {
        m_linkPath = path;
        m_linkState = 0;
        m_linkText.clear();
    }
}

void posix_dir::stat_iterator::ResetEntry()
{
    m_nameText.clear();
    m_linkText.clear();
    m_statusValid = false;
    m_linkPath.clear();
    m_linkState = 0;
    m_allocatedSize = 0;
    m_allocatedSizeKnown = false;
}

const struct stat64* posix_dir::stat_iterator::Status()
{
    StatFile();
    return IsClear() && m_statusValid ? &m_status : nullptr;
}

void posix_dir::stat_iterator::AcquireAllocatedSize()
{
    if (IsFailed() || m_allocatedSizeKnown)
        return;
    StatFile();
    if (IsClear() && m_statusValid) {
        m_allocatedSize = static_cast<uint64_t>(m_status.st_blocks) * 512;
        m_allocatedSizeKnown = true;
    }
}

uint64_t posix_dir::stat_iterator::GetAllocatedSize()
{
    AcquireAllocatedSize();
    return IsClear() ? m_allocatedSize : 0;
}

const char16_t* posix_dir::stat_iterator::GetName()
{
    const char* native = GetNativeName();
    if (m_nameText.empty() && native)
        m_nameText = NativeToUnicodeName(native);
    return m_nameText.c_str();
}

file_identifier* posix_dir::stat_iterator::GetIdentifier()
{
    const char* native = GetNativeName();
    if (!native)
        return nullptr;
    const char16_t* name = GetName();
    return new the_identifier(name, native, static_cast<uint32_t>(std::strlen(native) + 1));
}

uint64_t posix_dir::stat_iterator::GetSize()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint64_t>(status->st_size) : 0;
}

uint32_t posix_dir::stat_iterator::GetType()
{
    const struct stat64* status = Status();
    return status ? TypeOfMode(status->st_mode) : ITEM_REGULAR;
}

int64_t posix_dir::stat_iterator::GetModificationTime()
{
    const struct stat64* status = Status();
    return status ? Milliseconds(status->st_mtim) : i_dir::iterator::GetModificationTime();
}

int64_t posix_dir::stat_iterator::GetChangeTime()
{
    const struct stat64* status = Status();
    return status ? Milliseconds(status->st_ctim) : i_dir::iterator::GetChangeTime();
}

int64_t posix_dir::stat_iterator::GetAccessTime()
{
    const struct stat64* status = Status();
    return status ? Milliseconds(status->st_atim) : i_dir::iterator::GetAccessTime();
}

uint32_t posix_dir::stat_iterator::GetUnixMode()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint32_t>(status->st_mode) : i_dir::iterator::GetUnixMode();
}

bool posix_dir::stat_iterator::IsHidden()
{
    const char* native = GetNativeName();
    return IsFailed() || !native || native[0] == '.';
}

uint32_t posix_dir::stat_iterator::GetUnixOwner()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint32_t>(status->st_uid) : i_dir::iterator::GetUnixOwner();
}

uint32_t posix_dir::stat_iterator::GetUnixGroup()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint32_t>(status->st_gid) : i_dir::iterator::GetUnixGroup();
}

uint64_t posix_dir::stat_iterator::GetLinkCount()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint64_t>(status->st_nlink) : i_dir::iterator::GetLinkCount();
}

uint32_t posix_dir::stat_iterator::GetDeviceMajor()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint32_t>(major(status->st_rdev)) : i_dir::iterator::GetDeviceMajor();
}

uint32_t posix_dir::stat_iterator::GetDeviceMinor()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint32_t>(minor(status->st_rdev)) : i_dir::iterator::GetDeviceMinor();
}

uint64_t posix_dir::stat_iterator::GetFileIndex()
{
    const struct stat64* status = Status();
    return status ? static_cast<uint64_t>(status->st_ino) : i_dir::iterator::GetFileIndex();
}

const char16_t* posix_dir::stat_iterator::GetLinkTarget()
{
    const struct stat64* status = Status();
    if (!status || !S_ISLNK(status->st_mode))
        return nullptr;
    if (m_linkState == 1)
        return m_linkText.c_str();
    if (m_linkState == -1 || m_linkPath.find('/') == std::string::npos)
        return nullptr;
    char buffer[4096];
    const ssize_t length = readlink(m_linkPath.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0) {
        m_linkState = -1;
        return nullptr;
    }
    buffer[length] = 0;
    m_linkText = NativeToUnicodeName(buffer);
    m_linkState = 1;
    return m_linkText.c_str();
}

// ---- iterator -------------------------------------------------------------

posix_dir::iterator::iterator(const char* path, DIR* stream) : m_directoryPath(path), m_stream(stream)
{
    if (m_directoryPath.size() > 1)
        m_directoryPath += '/';
    Next();
}

posix_dir::iterator::~iterator()
{
    closedir(m_stream);
}

void posix_dir::iterator::Next()
{
    if (IsFailed())
        return;
    ResetEntry();
    for (;;) {
        errno = 0;
        m_entry = readdir64(m_stream);
        if (!m_entry) {
            SetError(MakeFileError(kEndOfFile, kEndOfFileText, m_directoryPath.c_str(), nullptr, At("Next", 1987)));
            return;
        }
        const char* name = m_entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            return;
    }
}

const char* posix_dir::iterator::GetNativeName() const
{
    return m_entry ? m_entry->d_name : nullptr;
}

void posix_dir::iterator::StatFile()
{
    if (IsFailed())
        return;
    if (!m_entry) {
        SetError(MessageError(kReadFailed, kReadFailedText, "StatFile", 1925));
        return;
    }
    DoStat(m_directoryPath + m_entry->d_name);
}

void posix_dir::iterator::AcquireAllocatedSize()
{
    if (IsFailed())
        return;
    if (!m_entry) {
        SetError(MessageError(kReadFailed, kReadFailedText, "AcquireAllocatedSize", 1937));
        return;
    }
    stat_iterator::AcquireAllocatedSize();
}

uint32_t posix_dir::iterator::GetType()
{
    if (IsFailed())
        return ITEM_REGULAR;
    if (!m_statusValid && m_entry) {
        switch (m_entry->d_type) {
        case DT_FIFO:
            return ITEM_FIFO;
        case DT_CHR:
            return ITEM_CHAR_DEVICE;
        case DT_DIR:
            return ITEM_DIRECTORY;
        case DT_BLK:
            return ITEM_BLOCK_DEVICE;
        case DT_REG:
            return ITEM_REGULAR;
        case DT_LNK:
            return ITEM_SYMLINK;
        case DT_SOCK:
            return ITEM_SOCKET;
        default:
            break;
        }
    }
    return stat_iterator::GetType();
}

// ---- self_iterator --------------------------------------------------------

posix_dir::self_iterator::self_iterator(const char* path) : m_path(path)
{
    const size_t slash = m_path.rfind('/');
    m_name = slash == std::string::npos ? m_path : m_path.substr(slash + 1);
    if (m_name.empty())
        m_name = "/";
    DoStat(m_path);
}

void posix_dir::self_iterator::Next()
{
    if (IsClear())
        SetError(MessageError(kNotSupported, kNotSupportedText, "Next", 2008));
}

const char* posix_dir::self_iterator::GetNativeName() const
{
    return m_name.c_str();
}

void posix_dir::self_iterator::StatFile()
{
    if (m_statusValid || IsFailed())
        return;
    SetError(MessageError(kNotSupported, kNotSupportedText, "StatFile", 2019));
}
