// The typed-chunk interfaces of backup ("BKUP") and restore ("RSTR") of file
// items, as the callers of those control requests implement them. Nothing in
// this program implements them; the backup (backup.h) writes chunks into a
// backup_chunk_sink and the restore (restore.h) reads them from a
// restore_chunk_source.
//
// Chunk types and payloads (integers little-endian, fields back to back):
//   1  DOS attribute word (u32)
//   2  a stream in the Win32 backup-stream format (read by the restore only)
//   3  reserved (read by the restore only)
//   4  the item's data, in as many buffers as it takes
//   5  modification time (s64 ms), second time (s64)
//   6  POSIX attribute record: size, item type, user, group, mode (u32 each);
//      for devices major and minor (u32 each); for symbolic links the link
//      length in UTF-16 units (u16), the UTF-16 text and a NUL unit
//   7  extended attributes, one record per buffer: name length with NUL
//      (u16), value length (u64), the name and its NUL, the value
//   8  inode flags (u32)
//   10 item flag word (u32)
//
// The interfaces below are shared with the callers' code: declaration order
// is the binary order; never insert or reorder.
//
// Threading: a backup or restore runs on the caller's thread and calls these
// objects from it only.
#pragma once

#include <cstdint>

#include "core/common/error.h"
#include "core/common/file_object.h"
#include "core/common/location.h"
#include "core/include/file/file.h"

// Errors of the platform-neutral backup and restore are located here.
inline constexpr Common::SourceFile kBackupSource("core/file/backup");

namespace BackupChunk {
inline constexpr uint32_t kAttributes = 1;
inline constexpr uint32_t kWindowsStream = 2;
inline constexpr uint32_t kReserved = 3;
inline constexpr uint32_t kData = 4;
inline constexpr uint32_t kTimes = 5;
inline constexpr uint32_t kPosixAttributes = 6;
inline constexpr uint32_t kExtendedAttributes = 7;
inline constexpr uint32_t kInodeFlags = 8;
inline constexpr uint32_t kItemFlags = 10;

// Sizes of the POSIX attribute record (chunk 6).
inline constexpr uint32_t kPosixHeaderSize = 20;
inline constexpr uint32_t kPosixDeviceRecordSize = 28;
// Header of an extended attribute record (chunk 7): u16 name length, u64 value length.
inline constexpr uint32_t kXattrHeaderSize = 10;

// "BKUP" flags.
inline constexpr uint32_t kNoData = 4;       // no chunk 4
inline constexpr uint32_t kNoAttributes = 8; // no chunks 1, 5 and 6
// "RSTR" flags.
inline constexpr uint32_t kNoTimes = 2; // chunk 5 is skipped

// DOS attribute bit of a directory.
inline constexpr uint32_t kDirectoryAttribute = 0x10;
} // namespace BackupChunk

// One buffer of chunk bytes: the payload is `size` bytes at data + offset.
// Destroying it frees the block (allocated with new[]).
class raw_data
{
public:
    raw_data() = default;
    raw_data(const raw_data&) = delete;
    raw_data& operator=(const raw_data&) = delete;
    virtual ~raw_data() { delete[] data; }

    unsigned char* Payload() const noexcept { return data + offset; }

    unsigned char* data = nullptr;
    uint64_t size = 0;
    uint64_t offset = 0;
};

class backup_buffer_allocator
{
public:
    // A buffer whose payload has `size` bytes; never null.
    virtual raw_data* Allocate(uint64_t size) = 0;
};

// Writes one chunk. Its slot reports a failed write.
class backup_chunk_writer : public file_object, public backup_buffer_allocator
{
public:
    // Takes the buffer; the writer may take it over by setting it to null. A
    // buffer still set afterwards is the caller's to destroy.
    virtual void Write(raw_data*& buffer) = 0;
};

// Hands out one writer per chunk. Its slot holds the reason of a refusal.
class backup_chunk_sink : public virtual file_object
{
public:
    // An owned writer for a chunk of `type`, or null (the reason in the slot).
    virtual backup_chunk_writer* GetChunk(uint32_t type) = 0;
};

// Cancellation, progress and the security question of a restore.
class backup_progress
{
public:
    virtual ~backup_progress() = default;
    virtual void OnProgress(uint64_t count) = 0;
    virtual bool IsCanceled() = 0;
    // Decision when the owner or permissions of a restored item cannot be
    // set: 0 fail, 2 ignore (1 is not defined).
    virtual uint32_t OnSecurityWriting(Common::Error error, const char16_t* path) = 0;
};

// Gives the chunks of one item to the restore.
class restore_chunk_source : public file_object
{
public:
    // The next chunk as an owned stream of its payload, its type in `type`;
    // null when no chunk is left.
    virtual i_file* GetNextChunk(uint8_t& type) = 0;
};

struct backup_parameters
{
    backup_chunk_sink* sink;   // must not be null
    backup_progress* progress; // null: neither progress nor cancellation
    uint32_t flags;            // BackupChunk::kNoData, BackupChunk::kNoAttributes
};

struct restore_parameters
{
    restore_chunk_source* source;
    backup_progress* progress; // null: neither progress nor cancellation
    uint32_t flags;            // BackupChunk::kNoTimes
};
