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
#include <cstring>

#include "core/file/file.h"

template <typename CharT>
class buf_ifile : public ri_file
{
    static_assert(sizeof(CharT) == 1, "buf_ifile reads byte ranges");

public:
    // A file over [data, data + size), standing at position 0. Null data
    // stands for an empty range.
    buf_ifile(const CharT* data, uint64_t size) : m_data(data), m_size(data != nullptr ? size : 0) {}

    using i_file::Read;

    void Read(void* buffer, uint64_t length, uint64_t* bytesRead) override
    {
        *bytesRead = 0;
        if (m_position < 0 || static_cast<uint64_t>(m_position) >= m_size)
            return;
        const uint64_t available = m_size - static_cast<uint64_t>(m_position);
        const uint64_t count = length < available ? length : available;
        if (count == 0)
            return;
        std::memcpy(buffer, m_data + m_position, static_cast<size_t>(count));
        m_position += static_cast<int64_t>(count);
        *bytesRead = count;
    }

    uint64_t Seek(uint64_t position) override
    {
        m_position = static_cast<int64_t>(position);
        return position;
    }

    uint64_t Move(int64_t delta) override
    {
        // Wraps instead of overflowing; a wrapped position reads nothing.
        m_position = static_cast<int64_t>(static_cast<uint64_t>(m_position) + static_cast<uint64_t>(delta));
        return static_cast<uint64_t>(m_position);
    }

    uint64_t SeekEnd(int64_t delta) override
    {
        m_position = static_cast<int64_t>(m_size + static_cast<uint64_t>(delta));
        return static_cast<uint64_t>(m_position);
    }

private:
    const CharT* m_data;
    int64_t m_position = 0;
    uint64_t m_size;
};
