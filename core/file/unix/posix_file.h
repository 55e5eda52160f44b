// posix_file: the file of the POSIX implementation, a rio_file over an owned
// descriptor. Reads and writes go straight to the descriptor. Opening by
// path is OpenPosixFile (posix_open.h), which posix_dir::Open wraps.
//
// Failures are stored in the file's error slot (keep-first for Read, Write,
// Flush, Truncate, the lock operations and IOCTL; replace for Seek, Move and
// SeekEnd). Write ends short with a clear slot when the system reports a full
// disk or a file too large; the write-all operation then stores 0x40004.
//
// Binary contract: declaration order is the binary order; never insert or reorder.
//
// Threading: a posix_file is used by one thread at a time.
#pragma once

#include <cstdint>

#include "core/common/error.h"
#include "core/include/file/file.h"

class posix_base_file : public rio_file
{
};

class posix_file : public posix_base_file
{
public:
    // Control requests understood by IOCTL (each begins with its code).
    struct gsec_request // "GSEC": physical 512-byte sector of the position
    {
        uint64_t code;
        uint64_t sector;      // out; all ones when the block is not allocated
        uint64_t sectorsLeft; // out: sectors left in the block
        uint8_t flag;         // out: 0
    };
    struct uioc_request // "UIOC": raw ioctl(2) on the descriptor
    {
        uint64_t code;
        int32_t request; // in
        void* argument;  // in
        int32_t result;  // out
        int32_t error;   // out: errno when result is not 0
    };
    struct sami_request // "SAMI": switch to append mode
    {
        uint64_t code;
    };
    struct ufl_request // "GUFL" (out) / "SUFL" (in): inode flags
    {
        uint64_t code;
        uint64_t flags; // the system transfers the low 32 bits
    };
    struct sftm_request // "SFTM": times of the open file
    {
        uint64_t code;
        int64_t modificationTime; // in, ms
        int64_t unused;
        int64_t accessTime; // in, ms
    };
    struct sdat_request // "SDAT": deallocate a range, size unchanged
    {
        uint64_t code;
        uint64_t offset; // in
        uint64_t length; // in
    };

    // Takes ownership of `descriptor`.
    posix_file(int descriptor, bool rangeLocks) noexcept;
    ~posix_file() override;

    using i_file::Read;
    using o_file::Write;

    void Read(void* buffer, uint64_t size, uint64_t* bytesRead) override;
    void LockShared(uint64_t offset, uint64_t length, bool wait) override;
    void Write(const void* data, uint64_t size, uint64_t* bytesWritten) override;
    void Flush() override;
    uint64_t Seek(uint64_t position) override;
    uint64_t Move(int64_t delta) override;
    uint64_t SeekEnd(int64_t delta) override;
    void Truncate(uint64_t length) override;
    void IOCTL(void* request) override;
    void LockExclusive(uint64_t offset, uint64_t length, bool wait) override;
    void Unlock(uint64_t offset, uint64_t length) override;

    int GetDescriptor() const noexcept { return m_descriptor; }
    bool HasRangeLocks() const noexcept { return m_rangeLocks; }

private:
    // The control requests of IOCTL, one each.
    void MapSector(gsec_request& request);
    void RawControl(uioc_request& request);
    void SetAppendMode();
    void GetInodeFlags(ufl_request& request);
    void SetInodeFlags(ufl_request& request);
    void SetTimes(sftm_request& request);
    void Deallocate(sdat_request& request);

    int m_descriptor;
    bool m_rangeLocks;
};

// Locks (shared or exclusive) or unlocks a byte range of `descriptor` with a
// record lock; length 0 reaches to the end of the file. `wait` waits for a
// conflicting lock to go (never for an unlock). Failure: 0x40017 "Failed to
// lock the file." with the errno as POSIX cause.
Common::Error DoLockFileHandle(bool lock, int descriptor, bool exclusive, bool wait, uint64_t offset,
                               uint64_t length) noexcept;
