#include "core/file/backup.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/common/file_errors.h"
#include "core/common/message_catalogue.h"

namespace {

using namespace FileErrors;

constexpr uint64_t kBlockSize = 16384;

// Header of the backup kind: the ErrorRecord header and three text
// references (message, "path", "name"); inline texts follow.
struct BackupErrorRecord
{
    Common::ErrorRecord header;
    uint64_t message;
    uint64_t path;
    uint64_t name;
};

const BackupErrorRecord* AsBackupRecord(const Common::ErrorRecord* record)
{
    return reinterpret_cast<const BackupErrorRecord*>(record);
}

const char16_t* WideReference(const Common::ErrorRecord* record, uint64_t reference)
{
    return static_cast<const char16_t*>(Common::Detail::ResolveTextReference(record, reference));
}

void FreeBackupRecord(Common::ErrorRecord* record)
{
    Common::Detail::FreeRecordBlock(record);
}

Common::ErrorRecord* CloneBackupRecord(const Common::ErrorRecord* record)
{
    return Common::Detail::CloneRecordBytes(record, record->size);
}

std::u16string BackupText(const Common::ErrorRecord* record)
{
    const char16_t* text = WideReference(record, AsBackupRecord(record)->message);
    return text ? std::u16string(text) : std::u16string();
}

uint64_t BackupInteger(const Common::ErrorRecord*, const char*)
{
    return 0;
}

const char* BackupTextParameter(const Common::ErrorRecord*, const char* name)
{
    return Common::Detail::GetModuleParameter(name);
}

const char16_t* BackupWideParameter(const Common::ErrorRecord* record, const char* name)
{
    if (std::strcmp(name, "path") == 0)
        return WideReference(record, AsBackupRecord(record)->path);
    if (std::strcmp(name, "name") == 0)
        return WideReference(record, AsBackupRecord(record)->name);
    return nullptr;
}

const char* BackupNames(const Common::ErrorRecord*)
{
    return "path,name,$module";
}

Common::Error MessageError(unsigned code, unsigned key, const char* function, uint32_t line)
{
    return MakeFileMessageError(code, key, kBackupSource.At(function, line));
}

bool IsCanceled(const backup_parameters* parameters)
{
    return parameters->progress && parameters->progress->IsCanceled();
}

template <class T>
void Put(std::vector<unsigned char>& bytes, size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// The POSIX attribute record of the entry `iterator` stands on.
std::vector<unsigned char> PosixAttributeRecord(i_dir::iterator& iterator, uint32_t type, uint32_t mode)
{
    const char16_t* link = type == ITEM_SYMLINK ? iterator.GetLinkTarget() : nullptr;
    const size_t linkLength = link ? std::char_traits<char16_t>::length(link) : 0;
    uint32_t size = BackupChunk::kPosixHeaderSize;
    if (type == ITEM_CHAR_DEVICE || type == ITEM_BLOCK_DEVICE)
        size = BackupChunk::kPosixDeviceRecordSize;
    else if (type == ITEM_SYMLINK)
        size = static_cast<uint32_t>(24 + 2 * linkLength);
    std::vector<unsigned char> record(size, 0);
    Put<uint32_t>(record, 0, size);
    Put<uint32_t>(record, 4, type);
    Put<uint32_t>(record, 8, iterator.GetUnixOwner());
    Put<uint32_t>(record, 12, iterator.GetUnixGroup());
    Put<uint32_t>(record, 16, mode);
    if (type == ITEM_CHAR_DEVICE || type == ITEM_BLOCK_DEVICE) {
        Put<uint32_t>(record, 20, iterator.GetDeviceMajor());
        Put<uint32_t>(record, 24, iterator.GetDeviceMinor());
    } else if (type == ITEM_SYMLINK) {
        Put<uint16_t>(record, 20, static_cast<uint16_t>(linkLength));
        if (linkLength)
            std::memcpy(record.data() + 22, link, linkLength * sizeof(char16_t)); // the NUL unit stays 0
    }
    return record;
}

} // namespace

const Common::ErrorRecordKind kBackupErrorKind{FreeBackupRecord,    CloneBackupRecord,   BackupText, BackupInteger,
                                               BackupTextParameter, BackupWideParameter, BackupNames};

Common::Error MakeBackupError(unsigned code, unsigned messageKey, const char16_t* path, const char16_t* name,
                              Common::Location location) noexcept
{
    static_assert(sizeof(BackupErrorRecord) == sizeof(Common::ErrorRecord) + 3 * sizeof(uint64_t));
    const Common::Detail::RecordText texts[] = {
        {Common::GetMessageText(messageKey), sizeof(char16_t)}, {path, sizeof(char16_t)}, {name, sizeof(char16_t)}};
    return Common::Error(Common::Detail::BuildTextsRecord(code, &kBackupErrorKind, location, texts, 3));
}

std::unique_ptr<backup_chunk_writer> GetChunkWriter(backup_chunk_sink& sink, uint32_t type, Common::Error& error)
{
    std::unique_ptr<backup_chunk_writer> writer(sink.GetChunk(type));
    if (!writer) {
        error = sink.TakeError();
        // A refusal is never a success, whatever the sink left in its slot.
        if (error.IsSuccess())
            error = MessageError(kWriteFailed, kWriteFailedText, "GetChunk", __LINE__);
    }
    return writer;
}

std::unique_ptr<raw_data> AllocateChunkBuffer(backup_chunk_writer& writer, uint64_t size, Common::Error& error)
{
    std::unique_ptr<raw_data> buffer(writer.Allocate(size));
    if (!buffer || buffer->size < size || (size && !buffer->data)) {
        error = MessageError(kOutOfMemory, kOutOfMemoryText, "Allocate", __LINE__);
        buffer.reset();
    }
    return buffer;
}

void WriteChunkBuffer(backup_chunk_writer& writer, std::unique_ptr<raw_data> buffer)
{
    raw_data* handed = buffer.release();
    writer.Write(handed);
    buffer.reset(handed);
}

Common::Error WriteFixedChunk(backup_chunk_sink& sink, uint32_t type, const void* payload, uint64_t size,
                              bool checkWriter)
{
    Common::Error error;
    std::unique_ptr<backup_chunk_writer> writer = GetChunkWriter(sink, type, error);
    if (!writer)
        return error;
    std::unique_ptr<raw_data> buffer = AllocateChunkBuffer(*writer, size, error);
    if (!buffer)
        return error;
    std::memcpy(buffer->Payload(), payload, size);
    buffer->size = size;
    WriteChunkBuffer(*writer, std::move(buffer));
    if (checkWriter && writer->IsFailed())
        return writer->TakeError();
    return Common::Success;
}

Common::Error BackupPlainStream(i_file& file, backup_chunk_writer& writer, const backup_parameters* parameters)
{
    uint64_t total = 0;
    for (;;) {
        if (IsCanceled(parameters))
            return MessageError(kCanceled, kCanceledText, "BackupPlainStream", 242);
        Common::Error error;
        std::unique_ptr<raw_data> buffer = AllocateChunkBuffer(writer, kBlockSize, error);
        if (!buffer)
            return error;
        uint64_t count = 0;
        file.Read(buffer->Payload(), buffer->size, &count);
        if (file.IsFailed())
            return file.TakeError();
        if (count == 0)
            return Common::Success;
        buffer->size = count;
        if (IsCanceled(parameters))
            return MessageError(kCanceled, kCanceledText, "BackupPlainStream", 258);
        WriteChunkBuffer(writer, std::move(buffer));
        if (writer.IsFailed())
            return writer.TakeError();
        if (parameters->progress) {
            total += count;
            parameters->progress->OnProgress(total);
        }
    }
}

Common::Error CommonBackupFile(i_file* file, i_dir::iterator* iterator, const backup_parameters* parameters)
{
    if (!iterator)
        return MessageError(kOpenFailed, kOpenFailedText, "CommonBackupFile", 113);
    if (!parameters || !parameters->sink)
        return MessageError(kWriteFailed, kWriteFailedText, "CommonBackupFile", 117);
    backup_chunk_sink& sink = *parameters->sink;
    const bool attributes = (parameters->flags & BackupChunk::kNoAttributes) == 0;
    const uint32_t type = iterator->GetType();

    uint32_t word = iterator->GetDOSAttributes();
    if (word == 0xFFFFFFFFu)
        word = type > 127 ? BackupChunk::kDirectoryAttribute : 0;
    if (attributes) {
        Common::Error error = WriteFixedChunk(sink, BackupChunk::kAttributes, &word, sizeof word, true);
        if (!error.IsSuccess())
            return error;
    }

    if (file) {
        Common::Error error;
        std::unique_ptr<backup_chunk_writer> writer = GetChunkWriter(sink, BackupChunk::kData, error);
        if (!writer)
            return error;
        error = BackupPlainStream(*file, *writer, parameters);
        if (!error.IsSuccess())
            return error;
    }

    if ((word & BackupChunk::kDirectoryAttribute) == 0 && attributes) {
        const int64_t times[2] = {iterator->GetModificationTime(), iterator->GetCreationTime()};
        if (times[0] != 0 || times[1] != 0) {
            Common::Error error = WriteFixedChunk(sink, BackupChunk::kTimes, times, sizeof times, true);
            if (!error.IsSuccess())
                return error;
        }
    }
    if (!attributes)
        return Common::Success;

    const uint32_t mode = iterator->GetUnixMode();
    if ((type < ITEM_CHAR_DEVICE || type > ITEM_SYMLINK) && mode == 0xFFFFFFFFu)
        return Common::Success;
    const std::vector<unsigned char> record = PosixAttributeRecord(*iterator, type, mode);
    return WriteFixedChunk(sink, BackupChunk::kPosixAttributes, record.data(), record.size(), true);
}

Common::Error CommonBackupFile(i_dir* directory, const file_identifier* item, const backup_parameters* parameters)
{
    std::unique_ptr<i_dir::iterator> iterator(item ? directory->GetIterator(item) : directory->GetSelfIterator());
    if (!iterator)
        return directory->TakeError();
    const uint32_t type = iterator->GetType();
    std::unique_ptr<i_file> file;
    const bool carriesData = type == ITEM_REGULAR || type == 6;
    if (item && carriesData && parameters && (parameters->flags & BackupChunk::kNoData) == 0) {
        file.reset(directory->OpenRead(iterator.get(), true));
        if (!file)
            return directory->TakeError();
    }
    Common::Error result = CommonBackupFile(file.get(), iterator.get(), parameters);
    if (result.IsSuccess())
        return Common::Success;
    // Named while the iterator still lives.
    Common::Error wrapped = MakeBackupError(kBackupFailed, kBackupFailedText, directory->GetPath(), iterator->GetName(),
                                            kBackupSource.At("CommonBackupFile", 103));
    wrapped.AddCause(result);
    return wrapped;
}
