// posix_dir: naming, opening and the changing operations.

#include "core/file/unix/posix_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "core/common/assertion.h"
#include "core/common/file_errors.h"
#include "core/common/module_path.h"
#include "core/file/unix/file_error.h"
#include "core/file/unix/file_name_conversion.h"
#include "core/file/unix/posix_open.h"
#include "core/file/unix/posixsp.h"
#include "core/file/unix/the_identifier.h"

namespace {

using namespace FileErrors;

using PosixSp::At;
using PosixSp::MessageError;

} // namespace

posix_dir::posix_dir(std::string path) : m_path(std::move(path))
{
}

posix_dir::~posix_dir()
{
    EnableNotification(nullptr);
}

// ---- naming ---------------------------------------------------------------

bool posix_dir::JoinName(const char16_t* name, std::string& path) const
{
    path.clear();
    if (!name)
        return false;
    const std::string native = UnicodeToNativeName(name);
    if (native.empty() && *name)
        return false;
    path = m_path;
    Common::AppendNormalizedPath(path, native.c_str());
    return true;
}

bool posix_dir::NameEntry(const char16_t* name, std::string& path)
{
    if (!JoinName(name, path)) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "GetPath", __LINE__));
        return false;
    }
    SetSuccess();
    return true;
}

bool posix_dir::NameEntry(const i_dir::iterator* entry, std::string& path)
{
    const stat_iterator* item = dynamic_cast<const stat_iterator*>(entry);
    const char* native = item && item->IsClear() ? item->GetNativeName() : nullptr;
    if (!native) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "GetPath", 1076));
        return false;
    }
    path = m_path;
    Common::AppendNormalizedPath(path, native);
    SetSuccess();
    return true;
}

bool posix_dir::NameEntry(const file_identifier* id, std::string& path)
{
    const char* native = GetIdentifierNativeName(id);
    if (!native) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "GetPath", 1090));
        return false;
    }
    path = m_path;
    Common::AppendNormalizedPath(path, native);
    SetSuccess();
    return true;
}

std::string posix_dir::PathWithSeparator() const
{
    return m_path.size() > 1 ? m_path + '/' : m_path;
}

// ---- opening --------------------------------------------------------------

posix_file* posix_dir::Open(const std::string& path, int flags, bool rangeLocks, int mode)
{
    return OpenPosixFile(*this, path, flags, rangeLocks, mode);
}

template <class Entry>
posix_file* posix_dir::OpenEntry(Entry entry, int flags, bool rangeLocks)
{
    std::string path;
    if (!NameEntry(entry, path))
        return nullptr;
    return Open(path, flags, rangeLocks, 0);
}

ri_file* posix_dir::OpenRead(const char16_t* name, bool rangeLocks)
{
    return OpenEntry(name, O_RDONLY, rangeLocks);
}

ri_file* posix_dir::OpenRead(const i_dir::iterator* entry, bool rangeLocks)
{
    return OpenEntry(entry, O_RDONLY, rangeLocks);
}

ri_file* posix_dir::OpenRead(const file_identifier* id, bool rangeLocks)
{
    return OpenEntry(id, O_RDONLY, rangeLocks);
}

ro_file* posix_dir::OpenWrite(const char16_t* name, bool rangeLocks)
{
    return OpenEntry(name, O_WRONLY, rangeLocks);
}

ro_file* posix_dir::OpenWrite(const i_dir::iterator* entry, bool rangeLocks)
{
    return OpenEntry(entry, O_WRONLY, rangeLocks);
}

ro_file* posix_dir::OpenWrite(const file_identifier* id, bool rangeLocks)
{
    return OpenEntry(id, O_WRONLY, rangeLocks);
}

rio_file* posix_dir::OpenReadWrite(const char16_t* name, bool rangeLocks)
{
    return OpenEntry(name, O_RDWR, rangeLocks);
}

rio_file* posix_dir::OpenReadWrite(const i_dir::iterator* entry, bool rangeLocks)
{
    return OpenEntry(entry, O_RDWR, rangeLocks);
}

rio_file* posix_dir::OpenReadWrite(const file_identifier* id, bool rangeLocks)
{
    return OpenEntry(id, O_RDWR, rangeLocks);
}

rio_file* posix_dir::Create(const char16_t* name, bool rangeLocks, const access_rights* rights)
{
    std::string path;
    if (!JoinName(name, path)) {
        SetError(MessageError(kCreateFailed, kCreateFailedText, "Create", __LINE__));
        return nullptr;
    }
    posix_file* file = Open(path, O_RDWR | O_CREAT | O_TRUNC, rangeLocks, rights ? int(rights->mode) : 0644);
    if (GetError().GetCode() == kOpenFailed) {
        Common::Error error = MessageError(kCreateFailed, kCreateFailedText, "Create", 810);
        error.AddCause(GetError());
        SetError(std::move(error));
    }
    return file;
}

template <class Entry>
rio_dir* posix_dir::OpenDirEntry(Entry entry)
{
    std::string path;
    if (!NameEntry(entry, path))
        return nullptr;
    return new posix_dir(std::move(path));
}

rio_dir* posix_dir::OpenDir(const char16_t* name)
{
    return OpenDirEntry(name);
}

rio_dir* posix_dir::OpenDir(const i_dir::iterator* entry)
{
    return OpenDirEntry(entry);
}

rio_dir* posix_dir::OpenDir(const file_identifier* id)
{
    return OpenDirEntry(id);
}

rio_dir* posix_dir::OpenParentDir(const char16_t*& path)
{
    const char16_t* last = nullptr;
    for (const char16_t* unit = path; unit && *unit; ++unit)
        if (*unit == u'/')
            last = unit;
    if (!last)
        return Clone();
    const std::u16string parent(path, static_cast<size_t>(last - path) + 1);
    rio_dir* directory = OpenDir(parent.c_str());
    if (directory)
        path = last + 1;
    return directory;
}

// ---- iterators ------------------------------------------------------------

posix_dir::iterator* posix_dir::CreateIterator(const char* path, DIR* stream)
{
    return new (std::nothrow) iterator(path, stream);
}

posix_dir::self_iterator* posix_dir::CreateSelfIterator(const char* path)
{
    return new (std::nothrow) self_iterator(path);
}

i_dir::iterator* posix_dir::GetIterator()
{
    DIR* stream = opendir(m_path.c_str());
    if (!stream) {
        SetError(MakeFileError(kOpenFailed, kOpenFailedText, m_path.c_str(), nullptr, At("GetIterator", 983)));
        return nullptr;
    }
    iterator* entries = CreateIterator(m_path.c_str(), stream);
    if (!entries) {
        closedir(stream);
        SetError(MessageError(kOutOfMemory, kOutOfMemoryText, "GetIterator", 990));
        return nullptr;
    }
    SetSuccess();
    return entries;
}

i_dir::iterator* posix_dir::AdoptSelfIterator(self_iterator* item)
{
    SetError(item->TakeError());
    if (IsFailed()) {
        delete item;
        return nullptr;
    }
    return item;
}

i_dir::iterator* posix_dir::GetIterator(const char16_t* name)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "GetIterator", 1003));
        return nullptr;
    }
    self_iterator* item = CreateSelfIterator(path.c_str());
    if (!item) {
        SetError(MessageError(kOutOfMemory, kOutOfMemoryText, "GetIterator", 1009));
        return nullptr;
    }
    return AdoptSelfIterator(item);
}

i_dir::iterator* posix_dir::GetIterator(const file_identifier* id)
{
    const char* native = GetIdentifierNativeName(id);
    if (!native) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "GetIterator", 1025));
        return nullptr;
    }
    self_iterator* item = CreateSelfIterator((PathWithSeparator() + native).c_str());
    if (!item) {
        SetError(MessageError(kOutOfMemory, kOutOfMemoryText, "GetIterator", 1035));
        return nullptr;
    }
    return AdoptSelfIterator(item);
}

i_dir::iterator* posix_dir::GetSelfIterator()
{
    self_iterator* item = CreateSelfIterator(m_path.c_str());
    if (!item) {
        SetError(MessageError(kOutOfMemory, kOutOfMemoryText, "GetSelfIterator", 1052));
        return nullptr;
    }
    return AdoptSelfIterator(item);
}

// ---- queries --------------------------------------------------------------

const char16_t* posix_dir::GetPath()
{
    if (m_pathText.empty())
        m_pathText = NativeToUnicodeName(PathWithSeparator().c_str());
    return m_pathText.c_str();
}

uint32_t posix_dir::IsSameDir(const i_dir* other)
{
    const posix_dir* directory = dynamic_cast<const posix_dir*>(other);
    if (!directory)
        return 2;
    if (directory == this)
        return 0;
    const std::string& mine = m_path;
    const std::string& theirs = directory->m_path;
    const size_t n = mine.size();
    const size_t m = theirs.size();
    if (n > m)
        return 2;
    if (n == m)
        return mine == theirs ? 0 : 2;
    if (theirs.compare(0, n, mine) != 0)
        return 2;
    if (n == 0 || theirs[n - 1] == '/' || theirs[n] == '/')
        return 1;
    return 2;
}

int posix_dir::CompareIdentifiers(const file_identifier* a, const file_identifier* b)
{
    const char* first = GetIdentifierNativeName(a);
    const char* second = GetIdentifierNativeName(b);
    if (!first || !second)
        return first ? 1 : second ? -1 : 0;
    return std::strcmp(first, second);
}

uint32_t posix_dir::GetFlags()
{
    return 131;
}

bool posix_dir::IsPathSeparator(char16_t c)
{
    return c == u'/';
}

char16_t posix_dir::GetPathSeparator()
{
    return u'/';
}

uint32_t posix_dir::GetPathStyle()
{
    return 1;
}

// ---- changing operations --------------------------------------------------

void posix_dir::Remove(const char16_t* name)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kDeleteFailed, kDeleteFailedText, "Remove", 906));
        return;
    }
    if (unlink(path.c_str()) != 0) {
        SetError(MakeFileError(kDeleteFailed, kDeleteFailedText, path.c_str(), nullptr, At("Remove", 908)));
        return;
    }
    SetSuccess();
}

void posix_dir::Rename(const char16_t* from, const char16_t* to)
{
    std::string source;
    std::string target;
    if (!JoinName(from, source) || !JoinName(to, target) || source.empty() || target.empty()) {
        SetError(MessageError(kRenameFailed, kRenameFailedText, "Rename", 921));
        return;
    }
    if (rename(source.c_str(), target.c_str()) != 0) {
        SetError(MakeFileError(kRenameFailed, kRenameFailedText, source.c_str(), target.c_str(), At("Rename", 923)));
        return;
    }
    SetSuccess();
}

void posix_dir::CreateDir(const char16_t* name, const access_rights* rights)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kCreateFailed, kCreateFailedText, "CreateDir", 934));
        return;
    }
    if (mkdir(path.c_str(), rights ? mode_t(rights->mode) : 0755) != 0) {
        SetError(MakeFileError(kCreateFailed, kCreateFailedText, path.c_str(), nullptr, At("CreateDir", 944)));
        return;
    }
    SetSuccess();
}

void posix_dir::RemoveDir(const char16_t* name)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kDeleteFailed, kDeleteFailedText, "RemoveDir", 955));
        return;
    }
    if (rmdir(path.c_str()) != 0) {
        SetError(MakeFileError(kDeleteFailed, kDeleteFailedText, path.c_str(), nullptr, At("RemoveDir", 957)));
        return;
    }
    SetSuccess();
}

void posix_dir::SetAccessRights(const char16_t* name, const access_rights* rights)
{
    if (!rights) {
        Common::ReportAssertion("Access", kPosixSpSource.path, 964);
        return;
    }
    SetUnixPermissions(name, rights->mode);
}

void posix_dir::SetUnixOwner(const char16_t* name, uint32_t user, uint32_t group)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "SetUnixOwner", 1322));
        return;
    }
    if (lchown(path.c_str(), user, group) != 0) {
        SetError(MakeFileError(kAccessDenied, kAccessDeniedText, path.c_str(), nullptr, At("SetUnixOwner", 1324)));
        return;
    }
    SetSuccess();
}

void posix_dir::SetUnixPermissions(const char16_t* name, uint32_t mode)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kOpenFailed, kOpenFailedText, "SetUnixPermissions", 1338));
        return;
    }
    struct stat64 status;
    if (lstat64(path.c_str(), &status) != 0) {
        SetError(MakeFileError(kReadFailed, kReadFailedText, path.c_str(), nullptr, At("SetUnixPermissions", 1344)));
        return;
    }
    if (S_ISLNK(status.st_mode)) {
        SetError(MessageError(kNotSupported, kNotSupportedText, "SetUnixPermissions", 1346));
        return;
    }
    if (chmod(path.c_str(), mode) != 0) {
        SetError(
            MakeFileError(kAccessDenied, kAccessDeniedText, path.c_str(), nullptr, At("SetUnixPermissions", 1348)));
        return;
    }
    SetSuccess();
}

void posix_dir::CreateDeviceNode(const char16_t* name, uint32_t itemType, uint32_t mode, uint32_t major, uint32_t minor)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kCreateFailed, kCreateFailedText, "CreateDeviceNode", 1393));
        return;
    }
    mode_t type = 0;
    switch (itemType) {
    case ITEM_REGULAR:
        type = S_IFREG;
        break;
    case ITEM_CHAR_DEVICE:
        type = S_IFCHR;
        break;
    case ITEM_BLOCK_DEVICE:
        type = S_IFBLK;
        break;
    case ITEM_FIFO:
        type = S_IFIFO;
        break;
    case ITEM_SOCKET:
        type = S_IFSOCK;
        break;
    default:
        SetError(MessageError(kCreateFailed, kCreateFailedText, "CreateDeviceNode", 1419));
        return;
    }
    const mode_t nodeMode = (mode_t(mode) & ~mode_t(S_IFMT)) | type;
    if (mknod(path.c_str(), nodeMode, makedev(major, minor)) != 0) {
        SetError(MakeFileError(kCreateFailed, kCreateFailedText, path.c_str(), nullptr, At("CreateDeviceNode", 1424)));
        return;
    }
    SetSuccess();
}

void posix_dir::CreateHardLink(const char16_t* name, const char16_t* existing)
{
    std::string path;
    if (!JoinName(name, path) || path.empty()) {
        SetError(MessageError(kCreateFailed, kCreateFailedText, "CreateHardLink", 1437));
        return;
    }
    std::string existingPath;
    if (!JoinName(existing, existingPath) || existingPath.empty()) {
        SetError(MessageError(kCreateFailed, kCreateFailedText, "CreateHardLink", 1444));
        return;
    }
    if (link(existingPath.c_str(), path.c_str()) != 0) {
        if (errno == ENOTSUP)
            SetError(MakeFilePathError(kNotSupported, kHardLinksNotSupportedText, path.c_str(), existingPath.c_str(),
                                       At("CreateHardLink", 1452)));
        else
            SetError(MakeFileError(kCreateFailed, kCreateFailedText, path.c_str(), existingPath.c_str(),
                                   At("CreateHardLink", 1456)));
        return;
    }
    SetSuccess();
}

void posix_dir::CreateSymLink(const char16_t* name, const char16_t* target, uint32_t, uint32_t)
{
    std::string path;
    if (!JoinName(name, path) || path.empty() || !target) {
        SetError(MessageError(kCreateFailed, kCreateFailedText, "CreateSymLink", 1472));
        return;
    }
    const std::string linkText = UnicodeToNativeName(target);
    if (linkText.empty() && *target) {
        SetError(MessageError(kCreateFailed, kCreateFailedText, "CreateSymLink", 1472));
        return;
    }
    if (symlink(linkText.c_str(), path.c_str()) != 0) {
        if (errno == ENOTSUP)
            SetError(MakeFilePathError(kNotSupported, kSymLinksNotSupportedText, path.c_str(), linkText.c_str(),
                                       At("CreateSymLink", 1481)));
        else
            SetError(MakeFileError(kCreateFailed, kCreateFailedText, path.c_str(), linkText.c_str(),
                                   At("CreateSymLink", 1485)));
        return;
    }
    SetSuccess();
}
