// The file interfaces of the file layer, split by capability:
//
//   i_file        sequential input           o_file   sequential output
//   sized_file    size and start             si_file  sized input
//   raccess_file  positioning and unlocking
//   ri_file       random-access input with shared locks
//   ro_file       random-access output with truncation and exclusive locks
//   rio_file      random-access input and output
//
// file_object is a virtual base shared once by every object. All failures go
// to the error slot of file_object (see file_object.h); nothing here throws.
// The byte-range lock operations act only on files opened with range locks.
//
// The two-argument Read and Write are the read-all and write-all operations:
// a class that overrides the three-argument form must bring them back into
// scope with `using i_file::Read;` / `using o_file::Write;`.
//
// Binary contract: declaration order is the binary order; never insert or reorder.
//
// Threading: an object is used by one thread at a time.
#pragma once

#include <cstdint>

#include "core/common/file_object.h"

class i_file : public virtual file_object
{
public:
    // Reads up to `size` bytes; `*bytesRead` receives the count transferred.
    // Fewer bytes than asked with a clear slot means the end of the data.
    virtual void Read(void* buffer, uint64_t size, uint64_t* bytesRead) = 0;

    // Read-all: calls the virtual Read; when the slot is clear afterwards and
    // fewer than `size` bytes came, stores 0x40002 "The end of the file has
    // been reached.". Returns the count transferred.
    uint64_t Read(void* buffer, uint64_t size);
};

class o_file : public virtual file_object
{
public:
    // Writes up to `size` bytes; `*bytesWritten` receives the count written.
    virtual void Write(const void* data, uint64_t size, uint64_t* bytesWritten) = 0;
    // Default: nothing to flush.
    virtual void Flush();

    // Write-all: calls the virtual Write; when the slot is clear afterwards
    // and fewer than `size` bytes went out, stores 0x40004 "The disk is
    // full.". Returns the count written.
    uint64_t Write(const void* data, uint64_t size);
};

class sized_file : public virtual file_object
{
public:
    virtual void Rewind() = 0;
    virtual uint64_t GetSize() = 0;
};

class si_file : public i_file, public virtual sized_file
{
};

class raccess_file : public virtual sized_file
{
public:
    // Seek(0).
    void Rewind() override;
    // Size that keeps the position: p = Move(0); s = SeekEnd(0); Seek(p).
    uint64_t GetSize() override;

    virtual uint64_t Seek(uint64_t position) = 0;
    virtual uint64_t Move(int64_t delta) = 0;
    virtual uint64_t SeekEnd(int64_t delta) = 0;
    // Default: unsupported (0x4000E), only when the slot is clear.
    virtual void Unlock(uint64_t offset, uint64_t length);
};

class ri_file : public si_file, public virtual raccess_file
{
public:
    // Default: unsupported (0x4000E), only when the slot is clear.
    virtual void LockShared(uint64_t offset, uint64_t length, bool wait);
};

class ro_file : public o_file, public virtual raccess_file
{
public:
    virtual void Truncate(uint64_t length) = 0;
    virtual void LockExclusive(uint64_t offset, uint64_t length, bool wait) = 0;
};

class rio_file : public ri_file, public ro_file
{
};
