// byte_range_cursor: the reading position over a byte range in memory, as the
// in-memory input files use it. It does not own the bytes.
//
// Positions are stored as given: a position before 0 or at or after the end
// makes Read deliver nothing. Move and SeekEnd wrap instead of overflowing.
//
// Threading: an object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <cstring>

struct byte_range_cursor
{
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    int64_t position = 0;

    // Copies up to `length` bytes from the position on into `buffer` and moves
    // past them. Returns the count copied.
    uint64_t Read(void* buffer, uint64_t length)
    {
        if (position < 0 || static_cast<uint64_t>(position) >= size)
            return 0;
        const uint64_t available = size - static_cast<uint64_t>(position);
        const uint64_t count = length < available ? length : available;
        if (count == 0)
            return 0;
        std::memcpy(buffer, data + position, static_cast<size_t>(count));
        position += static_cast<int64_t>(count);
        return count;
    }

    uint64_t Seek(uint64_t to)
    {
        position = static_cast<int64_t>(to);
        return to;
    }

    uint64_t Move(int64_t delta)
    {
        position = static_cast<int64_t>(static_cast<uint64_t>(position) + static_cast<uint64_t>(delta));
        return static_cast<uint64_t>(position);
    }

    uint64_t SeekEnd(int64_t delta)
    {
        position = static_cast<int64_t>(size + static_cast<uint64_t>(delta));
        return static_cast<uint64_t>(position);
    }
};
