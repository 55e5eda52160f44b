#include "core/file/unix/posix_restore.h"

#include <sys/xattr.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common/file_errors.h"
#include "core/file/restore.h"
#include "core/file/unix/file_error.h"
#include "core/file/unix/file_name_conversion.h"
#include "core/file/unix/posix_backup.h"
#include "core/file/unix/posix_file.h"

namespace {

using namespace FileErrors;

// The largest extended attribute value the system takes (XATTR_SIZE_MAX).
constexpr uint64_t kMaxXattrValue = 65536;

Common::Error MessageError(unsigned code, unsigned key, const char* function, uint32_t line)
{
    return MakeFileMessageError(code, key, kPosixBackupSource.At(function, line));
}

int SetXattr(int descriptor, const char* name, const void* value, size_t size, int flags)
{
    return fsetxattr(descriptor, name, value, size, flags);
}

constinit std::atomic<XattrSetter> g_setXattr{SetXattr};

// Attributes a file system may refuse without failing the restore.
bool MaySkip(const Common::Error& error, const char* name)
{
    return error.GetCode() == kNotSupported &&
        (std::strcmp(name, "security.selinux") == 0 || std::strcmp(name, "trusted.pfcache") == 0);
}

class PosixRestoreChunkProcessor : public RestoreHelpers::CommonRestoreChunkProcessor
{
public:
    PosixRestoreChunkProcessor(o_dir* directory, const char16_t* name, const char16_t* directoryPath)
        : CommonRestoreChunkProcessor(directory, name), m_directoryPath(directoryPath ? directoryPath : u""),
          m_name(name ? name : u"")
    {
    }

    Common::Error ProcessChunk(uint8_t type, std::unique_ptr<i_file>& stream,
                               const restore_parameters* parameters) override
    {
        if (m_directoryPath.empty())
            return MessageError(kReadFailed, kReadFailedText, "ProcessChunk", 436);
        Common::Error error = CommonRestoreChunkProcessor::ProcessChunk(type, stream, parameters);
        if (!error.IsSuccess() || type != BackupChunk::kExtendedAttributes)
            return error;
        auto* file = dynamic_cast<posix_file*>(m_target->GetFileTarget());
        if (!file || !stream)
            return Common::Success;
        return RestoreExtendedAttributes(*stream, file->GetDescriptor());
    }

private:
    Common::Error RestoreExtendedAttributes(i_file& stream, int descriptor)
    {
        const std::string path = UnicodeToNativeName((m_directoryPath + m_name).c_str());
        for (;;) {
            unsigned char header[BackupChunk::kXattrHeaderSize];
            uint64_t count = 0;
            stream.Read(header, sizeof header, &count);
            if (stream.IsFailed())
                return stream.TakeError();
            if (count == 0)
                return Common::Success;
            if (count != sizeof header)
                return MessageError(kEndOfFile, kEndOfFileText, "ProcessChunk", 474);
            uint16_t nameLength;
            uint64_t valueLength;
            std::memcpy(&nameLength, header, sizeof nameLength);
            std::memcpy(&valueLength, header + 2, sizeof valueLength);
            // Bounded before anything is allocated.
            if (valueLength > kMaxXattrValue)
                return MessageError(kCorrupted, kCorruptedText, "ProcessChunk", __LINE__);
            std::vector<char> name(size_t{nameLength} + 1, '\0');
            std::vector<char> value(static_cast<size_t>(valueLength));
            stream.Read(name.data(), nameLength);
            if (stream.IsClear())
                stream.Read(value.data(), valueLength);
            if (stream.IsFailed())
                return stream.TakeError();
            const XattrSetter setXattr = g_setXattr.load(std::memory_order_acquire);
            if (setXattr(descriptor, name.data(), value.data(), value.size(), 0) != 0) {
                Common::Error error = MakeFileError(errno, kWriteFailed, kWriteFailedText, path.c_str(), nullptr,
                                                    kPosixBackupSource.At("SetXattr", 172));
                if (!MaySkip(error, name.data()))
                    return error;
            }
        }
    }

    std::u16string m_directoryPath;
    std::u16string m_name;
};

} // namespace

Common::Error PosixRestoreFile(o_dir* directory, const char16_t* directoryPath, const char16_t* name,
                               const restore_parameters* parameters)
{
    PosixRestoreChunkProcessor processor(directory, name, directoryPath);
    Common::Error result = processor.DoRestore(parameters);
    if (result.IsSuccess() || result.GetCode() == kRestoreFailed)
        return result;
    Common::Error wrapped = MessageError(kRestoreFailed, kRestoreFailedText, "PosixRestoreFile", 559);
    wrapped.AddCause(result);
    return wrapped;
}

XattrSetter SetXattrSetterForTesting(XattrSetter setter)
{
    return g_setXattr.exchange(setter ? setter : SetXattr, std::memory_order_acq_rel);
}
