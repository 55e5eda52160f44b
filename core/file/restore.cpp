#include "core/file/restore.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/common/assertion.h"
#include "core/common/file_errors.h"

namespace {

using namespace FileErrors;

constexpr uint64_t kBlockSize = 16384;
// The largest POSIX attribute record: a link of 65535 UTF-16 units.
constexpr uint32_t kMaxPosixRecordSize = 24 + 2 * 0xFFFF;
constexpr uint32_t kStreamHeaderSize = 20;
constexpr uint32_t kDataStream = 1;
constexpr uint32_t kSparseBlock = 9;

// Control requests of directories and files (their layouts are shared with
// every directory and file class).
struct stme_request // "STME" on a directory: times of a named item
{
    uint64_t code;
    const char16_t* name;
    int64_t modificationTime;
    int64_t secondTime;
    int64_t accessTime;
};
struct sftm_request // "SFTM" on a file: times of the open file
{
    uint64_t code;
    int64_t modificationTime;
    int64_t secondTime;
    int64_t accessTime;
};
struct smfn_request // "SMFN" on a directory: item flag word of a named item
{
    uint64_t code;
    const char16_t* name;
    uint32_t word;
};
struct smuf_request // "SMUF" on a file: item flag word of the open file
{
    uint64_t code;
    uint32_t word;
};

Common::Error MessageError(unsigned code, unsigned key, const char* function, uint32_t line)
{
    return MakeFileMessageError(code, key, kBackupSource.At(function, line));
}

Common::Error Canceled(const char* function, uint32_t line)
{
    return MessageError(kCanceled, kCanceledText, function, line);
}

bool IsCanceled(backup_progress* progress)
{
    return progress && progress->IsCanceled();
}

template <class T>
T Get(const unsigned char* bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The read-all of `size` bytes; the stream's error when it failed or ran short.
Common::Error ReadAll(i_file& stream, void* buffer, uint64_t size)
{
    stream.Read(buffer, size);
    return stream.IsFailed() ? stream.TakeError() : Common::Success;
}

// Skips `size` bytes of `stream` in blocks, asking for cancellation before each.
Common::Error Skip(i_file& stream, uint64_t size, backup_progress* progress)
{
    unsigned char block[kBlockSize];
    while (size > 0) {
        if (IsCanceled(progress))
            return Canceled("RestoreWindowsStream", 745);
        const uint64_t part = std::min(size, kBlockSize);
        Common::Error error = ReadAll(stream, block, part);
        if (!error.IsSuccess())
            return error;
        size -= part;
    }
    return Common::Success;
}

// Copies `length` bytes from `stream` into `file` in blocks.
Common::Error CopyStreamData(i_file& stream, o_file& file, uint64_t length, backup_progress* progress)
{
    unsigned char block[kBlockSize];
    while (length > 0) {
        if (IsCanceled(progress))
            return Canceled("RestoreWindowsStream", 780);
        const uint64_t part = std::min(length, kBlockSize);
        Common::Error error = ReadAll(stream, block, part);
        if (!error.IsSuccess())
            return error;
        if (IsCanceled(progress))
            return Canceled("RestoreWindowsStream", 792);
        file.Write(block, part);
        if (file.IsFailed())
            return file.TakeError();
        if (progress)
            progress->OnProgress(part);
        length -= part;
    }
    return Common::Success;
}

} // namespace

// ---- restore_target ---------------------------------------------------------

restore_target::restore_target(o_dir* directory, const char16_t* name) noexcept : m_directory(directory), m_name(name)
{
}

restore_target::~restore_target()
{
    m_fileTarget.reset();
    if (IsFailed() && m_itemType != -1 && m_itemType != ITEM_DIRECTORY) {
        m_directory->Remove(m_name);
        (void)m_directory->TakeError(); // the restore's failure is what the caller learns
    }
}

bool restore_target::TakeDirectoryResult(unsigned tolerated)
{
    m_failure = m_directory->TakeError();
    const unsigned code = m_failure.GetCode();
    if (code == 0 || (tolerated != 0 && code == tolerated)) {
        m_failure = Common::Success;
        return true;
    }
    return false;
}

bool restore_target::MayCreate(int32_t itemType, bool* done)
{
    *done = m_itemType == itemType;
    if (*done || m_itemType == -1)
        return true;
    m_failure = MessageError(kCorrupted, kCorruptedText, "MayCreate", 1093);
    return false;
}

template <class MakeItem>
bool restore_target::CreateItem(int32_t itemType, unsigned tolerated, MakeItem makeItem)
{
    bool done = false;
    if (!MayCreate(itemType, &done))
        return false;
    if (done)
        return true;
    makeItem();
    if (!TakeDirectoryResult(tolerated))
        return false;
    m_itemType = itemType;
    return true;
}

bool restore_target::CreateAsDirectory()
{
    return CreateItem(ITEM_DIRECTORY, kAlreadyExists, [this] { m_directory->CreateDir(m_name, nullptr); });
}

bool restore_target::CreateAsFile()
{
    const bool result = CreateItem(ITEM_REGULAR, 0,
                                   [this] { m_fileTarget.reset(m_directory->Create(m_name, false, nullptr)); });
    if (!result)
        m_fileTarget.reset();
    // A file exists exactly when the creation succeeded.
    if ((m_fileTarget != nullptr) != result)
        (void)Common::ReportAssertion("(FileTarget != 0) == result", kBackupSource.path, 965);
    return result;
}

bool restore_target::CreateAsDeviceNode(uint32_t itemType, uint32_t mode, uint32_t major, uint32_t minor)
{
    return CreateItem(static_cast<int32_t>(itemType), 0,
                      [&] { m_directory->CreateDeviceNode(m_name, itemType, mode, major, minor); });
}

bool restore_target::CreateAsSymLink(const char16_t* text)
{
    return CreateItem(ITEM_SYMLINK, 0, [&] { m_directory->CreateSymLink(m_name, text, ITEM_SYMLINK, 0); });
}

bool restore_target::SetDOSAttributes(uint32_t word)
{
    if (IsFailed())
        return false;
    m_directory->SetDOSAttributes(m_name, word);
    return TakeDirectoryResult(kNotSupported);
}

bool restore_target::SetUnixOwner(uint32_t user, uint32_t group)
{
    if (IsFailed())
        return false;
    m_directory->SetUnixOwner(m_name, user, group);
    return TakeDirectoryResult(kNotSupported);
}

bool restore_target::SetUnixPermissions(uint32_t mode)
{
    if (IsFailed())
        return false;
    m_directory->SetUnixPermissions(m_name, mode);
    return TakeDirectoryResult(kNotSupported);
}

bool restore_target::SetTimes(int64_t modificationTime, int64_t secondTime, int64_t accessTime)
{
    if (IsFailed())
        return false;
    if (modificationTime == 0)
        modificationTime = secondTime;
    if (accessTime == 0)
        accessTime = modificationTime;
    if (!m_fileTarget) {
        stme_request request{MakeControlCode("STME"), m_name, modificationTime, secondTime, accessTime};
        m_directory->IOCTL(&request);
        return TakeDirectoryResult(kNotSupported);
    }
    sftm_request request{MakeControlCode("SFTM"), modificationTime, secondTime, accessTime};
    m_fileTarget->IOCTL(&request);
    m_failure = m_fileTarget->TakeError();
    return !IsFailed();
}

void restore_target::SetFlags(uint32_t word)
{
    if (!m_fileTarget) {
        smfn_request request{MakeControlCode("SMFN"), m_name, word};
        m_directory->IOCTL(&request);
        (void)m_directory->TakeError(); // a flag word that cannot be set is not reported
        return;
    }
    smuf_request request{MakeControlCode("SMUF"), word};
    m_fileTarget->IOCTL(&request);
    (void)m_fileTarget->TakeError(); // a flag word that cannot be set is not reported
}

// ---- streams ----------------------------------------------------------------

Common::Error RestorePlainStream(i_file& stream, o_file& file, int64_t limit, backup_progress* progress)
{
    unsigned char block[kBlockSize];
    int64_t total = 0;
    while (total < limit) {
        if (IsCanceled(progress))
            return Canceled("RestorePlainStream", 283);
        const uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(limit - total), kBlockSize);
        uint64_t count = 0;
        stream.Read(block, want, &count);
        if (stream.IsFailed())
            return stream.TakeError();
        if (count == 0)
            return Common::Success;
        count = std::min(count, want); // a stream never gives more than asked
        if (IsCanceled(progress))
            return Canceled("RestorePlainStream", 298);
        file.Write(block, count);
        if (file.IsFailed())
            return file.TakeError();
        if (progress)
            progress->OnProgress(count);
        total += static_cast<int64_t>(count);
    }
    return Common::Success;
}

Common::Error RestoreWindowsStream(RestoreHelpers::RestoreChunkProcessor& processor, std::unique_ptr<i_file>& stream,
                                   ro_file& file, backup_progress* progress)
{
    int64_t position = 0;
    int64_t end = 0;
    for (;;) {
        unsigned char bytes[kStreamHeaderSize];
        uint64_t count = 0;
        stream->Read(bytes, sizeof bytes, &count);
        if (stream->IsFailed())
            return stream->TakeError();
        if (count == 0) {
            if (position < end) {
                // Close the last hole: the file reaches its full length.
                file.Move(end - position - 1);
                if (file.IsFailed())
                    return file.TakeError();
                const unsigned char zero = 0;
                file.Write(&zero, 1);
                if (file.IsFailed())
                    return file.TakeError();
            }
            return Common::Success;
        }
        if (count < sizeof bytes)
            return MessageError(kEndOfFile, kEndOfFileText, "RestoreWindowsStream", 705);
        const restore_stream_header header{Get<uint32_t>(bytes), Get<uint32_t>(bytes + 4), Get<uint64_t>(bytes + 8),
                                           Get<uint32_t>(bytes + 16)};

        Common::Error error = processor.ProcessWinntStream(*stream, header, progress);
        if (error.IsSuccess())
            continue;
        if (error.GetCode() != kNotSupported)
            return error;

        uint64_t offset = 0;
        uint64_t length = 0;
        if (header.id == kDataStream && header.nameSize == 0) {
            length = header.size;
        } else if (header.id == kSparseBlock && header.nameSize == 0) {
            if (header.size < 8)
                return MessageError(kCorrupted, kCorruptedText, "RestoreWindowsStream", 728);
            unsigned char field[8];
            error = ReadAll(*stream, field, sizeof field);
            if (!error.IsSuccess())
                return error;
            offset = Get<uint64_t>(field);
            length = header.size - 8;
        } else {
            error = Skip(*stream, header.size, progress);
            if (error.IsSuccess())
                error = Skip(*stream, header.nameSize, progress);
            if (!error.IsSuccess())
                return error;
            continue;
        }
        // Offsets and lengths are signed on the wire; their sum must stay in range.
        constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
        if (offset > kMax || length > kMax - offset || static_cast<int64_t>(offset) < end)
            return MessageError(kCorrupted, kCorruptedText, "RestoreWindowsStream", 760);
        end = static_cast<int64_t>(offset + length);
        if (length > 0) {
            if (position < static_cast<int64_t>(offset)) {
                file.Move(static_cast<int64_t>(offset) - position);
                if (file.IsFailed())
                    return file.TakeError();
            }
            error = CopyStreamData(*stream, file, length, progress);
            if (!error.IsSuccess())
                return error;
            position = end;
        }
    }
}

uint32_t Ask4SecurityWriting(restore_target& target, const restore_parameters* parameters)
{
    if (!parameters || !parameters->progress)
        return 2;
    std::u16string path;
    if (auto* directory = dynamic_cast<i_dir*>(target.GetDirectory()))
        if (const char16_t* text = directory->GetPath())
            path = text;
    if (target.GetName())
        path += target.GetName();
    Common::Error error = MakeFileMessageError(kSecurityError, kSecurityErrorText,
                                               kBackupSource.At("Ask4SecurityWriting", 919));
    error.AddCause(target.GetFailure());
    return parameters->progress->OnSecurityWriting(error, path.c_str());
}

// ---- the common chunk processor ---------------------------------------------

namespace RestoreHelpers {

CommonRestoreChunkProcessor::CommonRestoreChunkProcessor(o_dir* directory, const char16_t* name)
    : m_target(std::make_unique<restore_target>(directory, name))
{
}

Common::Error CommonRestoreChunkProcessor::Fail(const Common::Error& failure)
{
    m_target->SetFailure(failure);
    return failure;
}

bool CommonRestoreChunkProcessor::ReadExactly(i_file& stream, void* buffer, uint64_t size, Common::Error& error)
{
    error = ReadAll(stream, buffer, size);
    if (error.IsSuccess())
        return true;
    m_target->SetFailure(error);
    return false;
}

Common::Error CommonRestoreChunkProcessor::ProcessWinntStream(i_file&, const restore_stream_header&, backup_progress*)
{
    return MessageError(kNotSupported, kNotSupportedText, "ProcessWinntStream", 1350);
}

Common::Error CommonRestoreChunkProcessor::ProcessPosixRecord(i_file& stream)
{
    Common::Error error;
    unsigned char head[BackupChunk::kPosixHeaderSize];
    if (!ReadExactly(stream, head, sizeof head, error))
        return error;
    m_posixHeader = {Get<uint32_t>(head), Get<uint32_t>(head + 4), Get<uint32_t>(head + 8), Get<uint32_t>(head + 12),
                     Get<uint32_t>(head + 16)};
    // Bounded before anything is allocated: no valid record is larger.
    if (m_posixHeader.size > kMaxPosixRecordSize) {
        m_posixHeader.size = 0;
        return Fail(MessageError(kCorrupted, kCorruptedText, "ProcessChunk", __LINE__));
    }
    std::vector<unsigned char> extra;
    if (m_posixHeader.size > BackupChunk::kPosixHeaderSize) {
        extra.resize(m_posixHeader.size - BackupChunk::kPosixHeaderSize);
        if (!ReadExactly(stream, extra.data(), extra.size(), error))
            return error;
    }

    const uint32_t type = m_posixHeader.itemType;
    switch (type) {
    case ITEM_REGULAR:
    case 6:
        (void)m_target->CreateAsFile();
        break;
    case ITEM_CHAR_DEVICE:
    case ITEM_BLOCK_DEVICE:
        // Major and minor follow the header; a record without both is corrupt.
        if (extra.size() < 8)
            return Fail(MessageError(kCorrupted, kCorruptedText, "ProcessChunk", 1301));
        (void)m_target->CreateAsDeviceNode(type, m_posixHeader.mode, Get<uint32_t>(extra.data()),
                                           Get<uint32_t>(extra.data() + 4));
        break;
    case ITEM_FIFO:
    case ITEM_SOCKET:
        (void)m_target->CreateAsDeviceNode(type, m_posixHeader.mode, 0, 0);
        break;
    case ITEM_SYMLINK: {
        // The text starts after the 16-bit length and ends at its NUL or at
        // the end of the record, whichever comes first.
        if (extra.size() < 2)
            return Fail(MessageError(kCorrupted, kCorruptedText, "ProcessChunk", 1318));
        std::u16string text;
        for (size_t at = 2; at + 1 < extra.size(); at += 2) {
            const char16_t unit = Get<char16_t>(extra.data() + at);
            if (unit == 0)
                break;
            text.push_back(unit);
        }
        (void)m_target->CreateAsSymLink(text.c_str());
        break;
    }
    case ITEM_DIRECTORY:
        (void)m_target->CreateAsDirectory();
        break;
    default:
        (void)Common::ReportAssertion("!\"What type is it? You shall create this item.\"", kBackupSource.path, 1327);
        if (m_target->GetItemType() == -1)
            (void)m_target->CreateAsFile();
        break;
    }
    // A failed create stays in the target; the restore stops at its next turn.
    return Common::Success;
}

Common::Error CommonRestoreChunkProcessor::ProcessChunk(uint8_t type, std::unique_ptr<i_file>& stream,
                                                        const restore_parameters* parameters)
{
    Common::Error error;
    backup_progress* progress = parameters ? parameters->progress : nullptr;
    switch (type) {
    case BackupChunk::kAttributes: {
        unsigned char word[4];
        if (!ReadExactly(*stream, word, sizeof word, error))
            return error;
        m_attributeWord = Get<uint32_t>(word);
        if (m_attributeWord & BackupChunk::kDirectoryAttribute)
            (void)m_target->CreateAsDirectory();
        return Common::Success;
    }
    case BackupChunk::kWindowsStream:
    case BackupChunk::kData: {
        if (m_target->GetItemType() == -1 && !m_target->CreateAsFile())
            return Common::Success;
        ro_file* file = m_target->GetFileTarget();
        if (!file)
            return Common::Success; // not a regular file: the data has nowhere to go
        if (type == BackupChunk::kData) {
            error = RestorePlainStream(*stream, *file, std::numeric_limits<int64_t>::max(), progress);
        } else {
            std::unique_ptr<i_file> taken = std::move(stream);
            error = RestoreWindowsStream(*this, taken, *file, progress);
        }
        if (!error.IsSuccess())
            return Fail(error);
        file->Flush();
        m_target->SetFailure(file->TakeError());
        return m_target->GetFailure();
    }
    case BackupChunk::kReserved:
        if (m_target->GetItemType() == -1)
            return Fail(MessageError(kNotSupported, kNotSupportedText, "ProcessChunk", 1249));
        return Common::Success;
    case BackupChunk::kTimes: {
        if (parameters && (parameters->flags & BackupChunk::kNoTimes))
            return Common::Success;
        unsigned char times[16];
        if (!ReadExactly(*stream, times, sizeof times, error))
            return error;
        m_time1 = Get<int64_t>(times);
        m_time2 = Get<int64_t>(times + 8);
        return Common::Success;
    }
    case BackupChunk::kPosixAttributes:
        return ProcessPosixRecord(*stream);
    case BackupChunk::kItemFlags: {
        unsigned char word[4];
        if (!ReadExactly(*stream, word, sizeof word, error))
            return error;
        m_flagWord = Get<uint32_t>(word);
        return Common::Success;
    }
    default:
        return Common::Success;
    }
}

Common::Error CommonRestoreChunkProcessor::DoRestore(const restore_parameters* parameters)
{
    backup_progress* progress = parameters ? parameters->progress : nullptr;
    restore_chunk_source* source = parameters ? parameters->source : nullptr;
    while (source && !m_target->IsFailed()) {
        if (IsCanceled(progress)) {
            m_target->SetFailure(Canceled("DoRestore", 1143));
            break;
        }
        uint8_t type = 0;
        std::unique_ptr<i_file> stream(source->GetNextChunk(type));
        if (!stream)
            break;
        Common::Error result = ProcessChunk(type, stream, parameters);
        if (!result.IsSuccess())
            m_target->SetFailure(result);
    }
    if (m_target->IsFailed())
        return m_target->GetFailure();

    if (m_target->GetItemType() == -1 && !m_target->CreateAsFile())
        return m_target->GetFailure();
    if (m_attributeWord != 0xFFFFFFFFu)
        (void)m_target->SetDOSAttributes(m_attributeWord);
    if (m_time1 != 0 || m_time2 != 0)
        (void)m_target->SetTimes(m_time1, m_time2, 0);
    if (m_posixHeader.size >= BackupChunk::kPosixHeaderSize) {
        (void)m_target->SetUnixOwner(m_posixHeader.user, m_posixHeader.group);
        (void)m_target->SetUnixPermissions(m_posixHeader.mode);
        if (m_target->IsFailed()) {
            switch (Ask4SecurityWriting(*m_target, parameters)) {
            case 0:
                return m_target->GetFailure();
            case 2:
                // Accepted as it is: the item stays.
                m_target->ClearFailure();
                return Common::Success;
            default:
                (void)Common::ReportAssertion("false", kBackupSource.path, 1184);
                break;
            }
        }
    }
    if (m_flagWord != 0)
        m_target->SetFlags(m_flagWord);
    return m_target->GetFailure();
}

} // namespace RestoreHelpers
