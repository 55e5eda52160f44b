// Restore of one file item from the typed chunks of a backup (backup_chunks.h),
// the part every platform shares.
//
// A chunk processor reads the chunks one by one from the caller's
// restore_chunk_source and records what they say; its restore_target creates
// the item with the type the chunks give (regular file, directory, device
// node, FIFO, socket or symbolic link) through the directory's o_dir
// operations, writes the data into it, and at the end applies the attribute
// word, times, owner, permissions and flag word. The platform's processor
// (core/file/unix/posix_restore.h) adds the extended attributes.
//
// Chunk data comes from outside: every size read from it is bounded before
// anything is allocated, a record too large for its kind is 0x4000D "The file
// is corrupted.", and a short payload is 0x40002. Whatever fails, the item
// created so far is removed, unless it is a directory. When the owner or the
// permissions cannot be set, the progress object decides (OnSecurityWriting:
// 0 fail, 2 ignore and keep the item); without one the failure is ignored.
//
// Threading: a restore runs on the caller's thread; the directory, the
// source and the progress object are used by it alone meanwhile.
#pragma once

#include <cstdint>
#include <memory>

#include "core/common/error.h"
#include "core/file/backup_chunks.h"
#include "core/include/file/dir.h"

// The head of one stream of a chunk-2 payload (the Win32 backup-stream
// format), 20 bytes on the wire.
struct restore_stream_header
{
    uint32_t id; // 1 data, 9 sparse block
    uint32_t attributes;
    uint64_t size;
    uint32_t nameSize;
};

// The item being restored: what has been created so far and the restore's
// failure. Destroying it closes the file and, when the failure is set,
// removes the item unless it is a directory (or nothing was created).
class restore_target
{
public:
    // The item `name` (not copied; must outlive the target) of `directory`.
    restore_target(o_dir* directory, const char16_t* name) noexcept;
    ~restore_target();
    restore_target(const restore_target&) = delete;
    restore_target& operator=(const restore_target&) = delete;

    // Each create operation succeeds at once when the item already has the
    // asked type, fails with 0x4000D when it has another, and creates it
    // when nothing exists yet. A failure is left in the target.
    bool CreateAsDirectory();
    bool CreateAsFile();
    bool CreateAsDeviceNode(uint32_t itemType, uint32_t mode, uint32_t major, uint32_t minor);
    bool CreateAsSymLink(const char16_t* text);
    // These do nothing while the failure is set; a directory without the
    // operation (0x4000E) is no failure.
    bool SetDOSAttributes(uint32_t word);
    bool SetTimes(int64_t modificationTime, int64_t secondTime, int64_t accessTime);
    bool SetUnixOwner(uint32_t user, uint32_t group);
    bool SetUnixPermissions(uint32_t mode);
    // Always runs; the outcome is not kept.
    void SetFlags(uint32_t word);

    int32_t GetItemType() const noexcept { return m_itemType; }
    o_dir* GetDirectory() const noexcept { return m_directory; }
    const char16_t* GetName() const noexcept { return m_name; }
    // The created regular file, open for writing; null for other items.
    ro_file* GetFileTarget() const noexcept { return m_fileTarget.get(); }

    bool IsFailed() const noexcept { return !m_failure.IsSuccess(); }
    const Common::Error& GetFailure() const noexcept { return m_failure; }
    void SetFailure(const Common::Error& failure) noexcept { m_failure = failure; }
    void ClearFailure() noexcept { m_failure = Common::Success; }

private:
    // Moves the directory's slot into the failure; true when it was success
    // or `tolerated`.
    bool TakeDirectoryResult(unsigned tolerated);
    // True when nothing exists yet; false with 0x4000D when the item has a
    // type other than `itemType`. `*done` is set when it already has it.
    bool MayCreate(int32_t itemType, bool* done);
    // Creates the item with `makeItem` (a directory operation) when nothing
    // exists yet; `tolerated` is a directory result taken as success.
    template <class MakeItem>
    bool CreateItem(int32_t itemType, unsigned tolerated, MakeItem makeItem);

    int32_t m_itemType = -1; // -1: nothing created yet
    o_dir* m_directory;
    const char16_t* m_name;
    std::unique_ptr<ro_file> m_fileTarget;
    Common::Error m_failure;
};

namespace RestoreHelpers {

class RestoreChunkProcessor
{
public:
    virtual ~RestoreChunkProcessor() = default;
    // Handles one chunk; may take the stream over (leaving null).
    virtual Common::Error ProcessChunk(uint8_t type, std::unique_ptr<i_file>& stream,
                                       const restore_parameters* parameters) = 0;
    // Reads every chunk of the source and finishes the item.
    virtual Common::Error DoRestore(const restore_parameters* parameters) = 0;
    // Handles one stream of a chunk-2 payload; 0x4000E leaves it to the caller.
    virtual Common::Error ProcessWinntStream(i_file& stream, const restore_stream_header& header,
                                             backup_progress* progress) = 0;
};

// The chunk types every platform shares: 1 to 6 and 10.
class CommonRestoreChunkProcessor : public RestoreChunkProcessor
{
public:
    // Restores `name` (not copied) into `directory`.
    CommonRestoreChunkProcessor(o_dir* directory, const char16_t* name);

    Common::Error ProcessChunk(uint8_t type, std::unique_ptr<i_file>& stream,
                               const restore_parameters* parameters) override;
    Common::Error DoRestore(const restore_parameters* parameters) override;
    Common::Error ProcessWinntStream(i_file& stream, const restore_stream_header& header,
                                     backup_progress* progress) override;

protected:
    // The first 20 bytes of chunk 6.
    struct posix_header
    {
        uint32_t size; // 0: none read
        uint32_t itemType;
        uint32_t user;
        uint32_t group;
        uint32_t mode;
    };

    // Reads exactly `size` bytes of `stream`; a short or failed read makes the
    // stream's error the target's failure and `error`.
    bool ReadExactly(i_file& stream, void* buffer, uint64_t size, Common::Error& error);
    // Records `failure` as the target's failure and returns it.
    Common::Error Fail(const Common::Error& failure);
    Common::Error ProcessPosixRecord(i_file& stream);

    int64_t m_time1 = 0;
    int64_t m_time2 = 0;
    uint32_t m_attributeWord = 0xFFFFFFFFu;
    uint32_t m_flagWord = 0;
    posix_header m_posixHeader{};
    std::unique_ptr<restore_target> m_target;
};

} // namespace RestoreHelpers

// Copies at most `limit` bytes of `stream` into `file` in blocks of 16384,
// asking for cancellation before and after each read and reporting each
// block's bytes.
Common::Error RestorePlainStream(i_file& stream, o_file& file, int64_t limit, backup_progress* progress);

// Restores a chunk-2 payload into `file`: data streams are copied, sparse
// blocks become holes, other streams are skipped; `processor` may take any
// stream first.
Common::Error RestoreWindowsStream(RestoreHelpers::RestoreChunkProcessor& processor, std::unique_ptr<i_file>& stream,
                                   ro_file& file, backup_progress* progress);

// The decision on a failure to set the owner or permissions: 2 (ignore)
// without a progress object, else the progress object's answer to 0x40023
// with the failure as cause.
uint32_t Ask4SecurityWriting(restore_target& target, const restore_parameters* parameters);
