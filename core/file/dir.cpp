#include "core/include/file/dir.h"

#include <memory>
#include <new>

#include "core/common/file_errors.h"

namespace {
constexpr Common::SourceFile kInterfaceSource("core/include/file/dir");
constexpr Common::SourceFile kSource("core/file/dir");

Common::Error NotSupported(Common::SourceFile source, const char* function, uint32_t line)
{
    return FileErrors::MakeFileMessageError(FileErrors::kNotSupported, FileErrors::kNotSupportedText,
                                            source.At(function, line));
}
} // namespace

file_identifier::~file_identifier() = default;

notification_handler::~notification_handler() = default;

// ---- i_dir ------------------------------------------------------------------

i_dir* i_dir::Clone()
{
    return nullptr;
}

i_dir* i_dir::OpenSpecialDir(uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "OpenSpecialDir", 178));
    return nullptr;
}

const char16_t* i_dir::GetPath()
{
    return nullptr;
}

uint32_t i_dir::GetFlags()
{
    return 137;
}

void i_dir::GetDriveSize(uint64_t* total, uint64_t* free, uint64_t* available)
{
    if (total)
        *total = 0;
    if (free)
        *free = 0;
    if (available)
        *available = 0;
    SetError(NotSupported(kSource, "GetDriveSize", 27));
}

void i_dir::GetVolumeLabel(char16_t* buffer, int32_t capacity)
{
    if (capacity != 0 && buffer)
        buffer[0] = 0;
    SetError(NotSupported(kSource, "GetVolumeLabel", 35));
}

bool i_dir::IsPathSeparator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

char16_t i_dir::GetPathSeparator()
{
    return u'\\';
}

uint32_t i_dir::GetPathStyle()
{
    return 0;
}

void i_dir::IOCTL(void*)
{
    SetError(NotSupported(kInterfaceSource, "IOCTL", 194));
}

void i_dir::EnableNotification(notification_handler*)
{
    SetError(NotSupported(kInterfaceSource, "EnableNotification", 196));
}

void i_dir::ResetNotification()
{
}

std::pair<i_dir*, file_identifier*> i_dir::ResolveSymLinks(const file_identifier* id)
{
    std::unique_ptr<i_dir> directory(OpenDir(u"."));
    if (IsFailed())
        return {directory.release(), nullptr};
    file_identifier* clone = nullptr;
    if (id) {
        clone = id->Clone();
        if (!clone) {
            SetError(FileErrors::MakeFileMessageError(FileErrors::kOutOfMemory, FileErrors::kOutOfMemoryText,
                                                      kSource.At("ResolveSymLinks", 49)));
            return {nullptr, nullptr};
        }
    }
    return {directory.release(), clone};
}

void* i_dir::GetNativeHandle()
{
    return nullptr;
}

std::pair<void*, void*> i_dir::GetNativeHandles()
{
    return {nullptr, nullptr};
}

void* i_dir::GetExtension()
{
    return nullptr;
}

// ---- i_dir::iterator --------------------------------------------------------

i_dir::iterator::~iterator() = default;

void* i_dir::iterator::GetNativeEntry()
{
    return nullptr;
}

const char16_t* i_dir::iterator::GetDisplayName()
{
    return GetName();
}

void* i_dir::iterator::GetExtraData()
{
    return nullptr;
}

uint64_t i_dir::iterator::GetAllocatedSize()
{
    return GetSize();
}

int64_t i_dir::iterator::GetModificationTime()
{
    return 0;
}

int64_t i_dir::iterator::GetChangeTime()
{
    return 0;
}

int64_t i_dir::iterator::GetCreationTime()
{
    return 0;
}

int64_t i_dir::iterator::GetAccessTime()
{
    return 0;
}

uint32_t i_dir::iterator::GetDOSAttributes()
{
    return 0xFFFFFFFFu;
}

uint32_t i_dir::iterator::GetUnixMode()
{
    return 0xFFFFFFFFu;
}

bool i_dir::iterator::IsHidden()
{
    return false;
}

uint32_t i_dir::iterator::GetUnixOwner()
{
    return 0xFFFFFFFFu;
}

uint32_t i_dir::iterator::GetUnixGroup()
{
    return 0xFFFFFFFFu;
}

uint32_t i_dir::iterator::GetUnixFlags()
{
    return 0;
}

uint64_t i_dir::iterator::GetLinkCount()
{
    return 1;
}

uint32_t i_dir::iterator::GetDeviceMajor()
{
    return 0;
}

uint32_t i_dir::iterator::GetDeviceMinor()
{
    return 0;
}

uint32_t i_dir::iterator::GetNameStyle()
{
    return 1;
}

uint64_t i_dir::iterator::GetFileIndex()
{
    return 0;
}

const char16_t* i_dir::iterator::GetLinkTarget()
{
    return nullptr;
}

// ---- refinements ------------------------------------------------------------

si_dir* si_dir::Clone()
{
    return nullptr;
}

si_dir* si_dir::OpenSpecialDir(uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "OpenSpecialDir", 276));
    return nullptr;
}

ri_dir* ri_dir::Clone()
{
    return nullptr;
}

ri_dir* ri_dir::OpenSpecialDir(uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "OpenSpecialDir", 290));
    return nullptr;
}

rio_dir* rio_dir::Clone()
{
    return OpenDir(u".");
}

rio_dir* rio_dir::OpenSpecialDir(uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "OpenSpecialDir", 334));
    return nullptr;
}

ro_file* rio_dir::CreateOutput(const char16_t* name, bool rangeLocks, const access_rights* rights)
{
    return Create(name, rangeLocks, rights);
}

ro_dir* rio_dir::OpenOutputDir(const char16_t* name)
{
    return OpenDir(name);
}

ro_dir* rio_dir::OpenOutputParentDir(const char16_t*& path)
{
    return OpenParentDir(path);
}

void rio_dir::IOCTL(void* request)
{
    i_dir::IOCTL(request);
}

// ---- o_dir ------------------------------------------------------------------

void o_dir::CreateHardLink(const char16_t*, const char16_t*)
{
    SetError(NotSupported(kInterfaceSource, "CreateHardLink", 218));
}

void o_dir::CreateSymLink(const char16_t*, const char16_t*, uint32_t, uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "CreateSymLink", 223));
}

void o_dir::SetAccessRights(const char16_t*, const access_rights*)
{
    SetError(NotSupported(kInterfaceSource, "SetAccessRights", 229));
}

void o_dir::SetDOSAttributes(const char16_t*, uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "SetDOSAttributes", 232));
}

void o_dir::SetUnixPermissions(const char16_t*, uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "SetUnixPermissions", 235));
}

void o_dir::SetUnixOwner(const char16_t*, uint32_t, uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "SetUnixOwner", 238));
}

void o_dir::CreateDeviceNode(const char16_t*, uint32_t, uint32_t, uint32_t, uint32_t)
{
    SetError(NotSupported(kInterfaceSource, "CreateDeviceNode", 243));
}

void o_dir::IOCTL(void*)
{
    SetError(NotSupported(kInterfaceSource, "IOCTL", 244));
}
