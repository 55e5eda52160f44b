#include "core/file/unix/posix_backup.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common/file_errors.h"
#include "core/file/backup.h"
#include "core/file/unix/file_error.h"
#include "core/file/unix/file_name_conversion.h"
#include "core/file/unix/posix_file.h"
#include "core/file/unix/the_identifier.h"

namespace {

using namespace FileErrors;

// "GMFN" on a directory: the item flag word of a named item. No POSIX class
// understands it; another directory class may.
struct gmfn_request
{
    uint64_t code;
    const char16_t* name;
    uint32_t word; // out
};

// The names of the extended attributes of `path`, NUL-separated; false when
// they cannot be listed (then the item is backed up without them).
bool GetXAttrNameList(const std::string& path, std::vector<char>& names)
{
    const ssize_t size = llistxattr(path.c_str(), nullptr, 0);
    if (size < 0)
        return false;
    names.assign(static_cast<size_t>(size), '\0');
    return size == 0 || llistxattr(path.c_str(), names.data(), names.size()) == size;
}

// Chunk 7: one record per attribute.
Common::Error BackupExtendedAttributes(const std::string& path, backup_chunk_writer& writer)
{
    std::vector<char> names;
    if (!GetXAttrNameList(path, names))
        return Common::Success;
    for (size_t at = 0; at < names.size();) {
        const char* name = names.data() + at;
        const size_t nameLength = strnlen(name, names.size() - at);
        at += nameLength + 1;
        if (nameLength == 0 || nameLength > 0xFFFE)
            continue;
        uint64_t valueLength = 0;
        Common::Error error = GetXattr(path.c_str(), name, nullptr, 0, &valueLength);
        if (!error.IsSuccess())
            return error;
        const uint64_t valueOffset = nameLength + 1 + BackupChunk::kXattrHeaderSize;
        std::unique_ptr<raw_data> buffer = AllocateChunkBuffer(writer, valueOffset + valueLength, error);
        if (!buffer)
            return error;
        unsigned char* payload = buffer->Payload();
        error = GetXattr(path.c_str(), name, payload + valueOffset, valueLength, &valueLength);
        if (!error.IsSuccess())
            return error;
        const uint16_t fieldName = static_cast<uint16_t>(nameLength + 1);
        std::memcpy(payload, &fieldName, sizeof fieldName);
        std::memcpy(payload + 2, &valueLength, sizeof valueLength);
        std::memcpy(payload + BackupChunk::kXattrHeaderSize, name, nameLength + 1);
        buffer->size = valueOffset + valueLength;
        WriteChunkBuffer(writer, std::move(buffer));
        if (writer.IsFailed())
            return writer.TakeError();
    }
    return Common::Success;
}

// Chunks 8 and 10 of a regular file or directory. Only a refused chunk is
// reported.
Common::Error BackupFlags(posix_dir& directory, const file_identifier* item, backup_chunk_sink& sink)
{
    // The directory itself is opened as ".", never by its own name inside it.
    std::unique_ptr<ri_file> file(item ? directory.OpenRead(item, true) : directory.OpenRead(u".", true));
    uint32_t flags = 0;
    if (file) {
        posix_file::ufl_request request{MakeControlCode("GUFL"), 0};
        file->IOCTL(&request);
        if (file->IsClear())
            flags = static_cast<uint32_t>(request.flags);
        file.reset();
    }
    (void)directory.TakeError(); // an item without readable flags is backed up without them
    if (flags != 0) {
        Common::Error error = WriteFixedChunk(sink, BackupChunk::kInodeFlags, &flags, sizeof flags, false);
        if (!error.IsSuccess())
            return error;
    }

    const std::u16string name = item ? NativeToUnicodeName(GetIdentifierNativeName(item)) : u".";
    gmfn_request request{MakeControlCode("GMFN"), name.c_str(), 0};
    directory.IOCTL(&request);
    if (directory.TakeError().IsSuccess() && request.word != 0)
        return WriteFixedChunk(sink, BackupChunk::kItemFlags, &request.word, sizeof request.word, false);
    return Common::Success;
}

} // namespace

Common::Error GetXattr(const char* path, const char* name, void* buffer, uint64_t bufferSize, uint64_t* valueLength)
{
    const ssize_t length = lgetxattr(path, name, buffer, buffer ? bufferSize : 0);
    // Size 0 only asks for the length: a value that grew meanwhile was not read.
    const int error = length < 0 ? errno : buffer && bufferSize == 0 && length > 0 ? ERANGE : 0;
    if (error != 0)
        return MakeFileError(error, kReadFailed, kReadFailedText, path, name, kPosixBackupSource.At("GetXattr", 155));
    *valueLength = static_cast<uint64_t>(length);
    return Common::Success;
}

Common::Error PosixBackupFile(posix_dir* directory, const file_identifier* item, const backup_parameters* parameters)
{
    Common::Error result = CommonBackupFile(directory, item, parameters);
    if (!result.IsSuccess())
        return result;
    std::unique_ptr<i_dir::iterator> iterator(item ? directory->GetIterator(item) : directory->GetSelfIterator());
    if (!iterator)
        return directory->TakeError();

    // The native path the iterator stands on, without a round trip through UTF-16.
    std::string path = directory->GetNativePath();
    if (item) {
        if (path.size() > 1)
            path += '/';
        path += GetIdentifierNativeName(item);
    }

    backup_chunk_sink& sink = *parameters->sink;
    std::unique_ptr<backup_chunk_writer> writer = GetChunkWriter(sink, BackupChunk::kExtendedAttributes, result);
    if (!writer)
        return result;
    result = BackupExtendedAttributes(path, *writer);
    writer.reset();
    if (!result.IsSuccess())
        return result;

    const uint32_t type = iterator->GetType();
    iterator.reset();
    if (type == ITEM_REGULAR || type == ITEM_DIRECTORY)
        return BackupFlags(*directory, item, sink);
    return Common::Success;
}
