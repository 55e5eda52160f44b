// buf_ifile: a random-access input file over a byte range that belongs to the
// caller; the bytes are read in place and must outlive the file.
//
// Positions are stored as given: a position before 0 or at or after the end
// makes Read deliver nothing. No operation of the file stores an error; the
// interface defaults (locks, IOCTL) and the read-all operation do.
//
// Threading: an object is used by one thread at a time.
#pragma once

#include <cstdint>

#include "core/file/byte_range_cursor.h"
#include "core/include/file/file.h"

template <typename CharT>
class buf_ifile : public ri_file
{
    static_assert(sizeof(CharT) == 1, "buf_ifile reads byte ranges");

public:
    // A file over [data, data + size), standing at position 0. Null data
    // stands for an empty range.
    buf_ifile(const CharT* data, uint64_t size)
        : m_cursor{reinterpret_cast<const unsigned char*>(data), data != nullptr ? size : 0}
    {
    }

    using i_file::Read;

    void Read(void* buffer, uint64_t length, uint64_t* bytesRead) override
    {
        *bytesRead = m_cursor.Read(buffer, length);
    }

    // Bytes from the position to the end (0 when the position lies outside).
    uint64_t Remaining() const
    {
        if (m_cursor.position < 0 || static_cast<uint64_t>(m_cursor.position) >= m_cursor.size)
            return 0;
        return m_cursor.size - static_cast<uint64_t>(m_cursor.position);
    }

    // The Remaining() bytes from the position on, where they lie (null when
    // there are none).
    const CharT* Rest() const
    {
        if (Remaining() == 0)
            return nullptr;
        return reinterpret_cast<const CharT*>(m_cursor.data + m_cursor.position);
    }

    uint64_t Seek(uint64_t position) override { return m_cursor.Seek(position); }
    uint64_t Move(int64_t delta) override { return m_cursor.Move(delta); }
    uint64_t SeekEnd(int64_t delta) override { return m_cursor.SeekEnd(delta); }

private:
    byte_range_cursor m_cursor;
};
