#include "core/file/unix/file_error.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "core/common/file_errors.h"
#include "core/common/message_catalogue.h"

namespace {

// Header of the path kinds; inline texts follow.
struct PathErrorRecord
{
    Common::TextErrorRecord text;
    uint64_t path1;
    uint64_t path2;
};

const PathErrorRecord* AsPathRecord(const Common::ErrorRecord* record)
{
    return reinterpret_cast<const PathErrorRecord*>(record);
}

void FreePathRecord(Common::ErrorRecord* record)
{
    Common::Detail::FreeRecordBlock(record);
}

Common::ErrorRecord* ClonePathRecord(const Common::ErrorRecord* record)
{
    return Common::Detail::CloneRecordBytes(record, record->size);
}

std::u16string PathRecordText(const Common::ErrorRecord* record)
{
    auto text = static_cast<const char16_t*>(
        Common::Detail::ResolveTextReference(record, AsPathRecord(record)->text.text));
    return text ? std::u16string(text) : std::u16string();
}

uint64_t NoInteger(const Common::ErrorRecord*, const char*)
{
    return 0;
}

const char16_t* NoWideText(const Common::ErrorRecord*, const char*)
{
    return nullptr;
}

const char* PathText(const Common::ErrorRecord* record, uint64_t reference)
{
    return static_cast<const char*>(Common::Detail::ResolveTextReference(record, reference));
}

const char* OnePathParameter(const Common::ErrorRecord* record, const char* name)
{
    if (std::strcmp(name, "path") == 0)
        return PathText(record, AsPathRecord(record)->path1);
    return Common::Detail::GetModuleParameter(name);
}

const char* TwoPathParameter(const Common::ErrorRecord* record, const char* name)
{
    if (std::strcmp(name, "path1") == 0)
        return PathText(record, AsPathRecord(record)->path1);
    if (std::strcmp(name, "path2") == 0)
        return PathText(record, AsPathRecord(record)->path2);
    return Common::Detail::GetModuleParameter(name);
}

const char* OnePathNames(const Common::ErrorRecord*)
{
    return "path,$module";
}

const char* TwoPathNames(const Common::ErrorRecord*)
{
    return "path1,path2,$module";
}

Common::ErrorRecord* BuildPathRecord(unsigned code, const char16_t* message, const char* path1, const char* path2,
                                     const Common::ErrorRecordKind* kind, Common::Location location)
{
    static_assert(sizeof(PathErrorRecord) == sizeof(Common::ErrorRecord) + 3 * sizeof(uint64_t));
    const Common::Detail::RecordText texts[] = {{message, sizeof(char16_t)}, {path1, 1}, {path2, 1}};
    return Common::Detail::BuildTextsRecord(code, kind, location, texts, 3);
}

struct ErrnoMapping
{
    int error;
    unsigned code;
    unsigned messageKey;
};

constexpr ErrnoMapping kErrnoMappings[] = {
    {EPERM, FileErrors::kAccessDenied, FileErrors::kAccessDeniedText},
    {EACCES, FileErrors::kAccessDenied, FileErrors::kAccessDeniedText},
    {ETXTBSY, FileErrors::kAccessDenied, FileErrors::kAccessDeniedText},
    {ENOENT, FileErrors::kNotFound, FileErrors::kNotFoundText},
    {ENOMEM, FileErrors::kOutOfMemory, FileErrors::kOutOfMemoryText},
    {EBUSY, FileErrors::kDeviceNotReady, FileErrors::kDeviceNotReadyText},
    {ENODEV, FileErrors::kDeviceNotReady, FileErrors::kDeviceNotReadyText},
    {ENOMEDIUM, FileErrors::kDeviceNotReady, FileErrors::kDeviceNotReadyText},
    {EEXIST, FileErrors::kAlreadyExists, FileErrors::kAlreadyExistsText},
    {ENOSPC, FileErrors::kDiskFull, FileErrors::kDiskFullText},
    {EROFS, FileErrors::kReadOnly, FileErrors::kReadOnlyText},
    {EOPNOTSUPP, FileErrors::kNotSupported, FileErrors::kNotSupportedText},
};

} // namespace

const Common::ErrorRecordKind kOnePathErrorKind{FreePathRecord,   ClonePathRecord, PathRecordText, NoInteger,
                                                OnePathParameter, NoWideText,      OnePathNames};
const Common::ErrorRecordKind kTwoPathErrorKind{FreePathRecord,   ClonePathRecord, PathRecordText, NoInteger,
                                                TwoPathParameter, NoWideText,      TwoPathNames};

Common::Error MakeFilePathError(unsigned code, unsigned messageKey, const char* path1, const char* path2,
                                Common::Location location) noexcept
{
    if (code == 0)
        return Common::Success;
    const char16_t* message = Common::GetMessageText(messageKey);
    if (path1 && path2)
        return Common::Error(BuildPathRecord(code, message, path1, path2, &kTwoPathErrorKind, location));
    if (path1)
        return Common::Error(BuildPathRecord(code, message, path1, nullptr, &kOnePathErrorKind, location));
    return Common::Error(code, message, location);
}

Common::Error MakeFileError(int error, unsigned code, unsigned messageKey, const char* path1, const char* path2,
                            Common::Location location) noexcept
{
    for (const ErrnoMapping& mapping : kErrnoMappings) {
        if (mapping.error != error)
            continue;
        if (mapping.code == FileErrors::kAccessDenied && code == FileErrors::kLockFailed)
            break;
        code = mapping.code;
        messageKey = mapping.messageKey;
        break;
    }
    Common::Error result = MakeFilePathError(code, messageKey, path1, path2, location);
    result.AddPosixError(error);
    return result;
}

Common::Error MakeFileError(unsigned code, unsigned messageKey, const char* path1, const char* path2,
                            Common::Location location) noexcept
{
    const int error = errno;
    Common::Error result = MakeFileError(error, code, messageKey, path1, path2, location);
    errno = error;
    return result;
}
