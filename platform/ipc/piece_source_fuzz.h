// PieceSource: a ByteSource over a buffer that hands its bytes out in pieces
// of odd sizes (`smallest` + offset % `spread`), so that the frames a fuzz
// target reads straddle reads as they do on a socket.
//
// Threading: one thread at a time, as any ByteSource.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/ipc/frame.h"

namespace IpcFuzz {

class PieceSource : public Ipc::ByteSource
{
public:
    PieceSource(const uint8_t* data, size_t size, size_t smallest, size_t spread)
        : m_data(data), m_size(size), m_smallest(smallest), m_spread(spread)
    {
    }
    Common::Error Read(void* into, size_t size, size_t& got) override
    {
        got = std::min({size, m_size - m_offset, m_smallest + m_offset % m_spread});
        if (got != 0) // an empty input may have no address at all
            std::memcpy(into, m_data + m_offset, got);
        m_offset += got;
        return Common::Success;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_smallest;
    size_t m_spread;
    size_t m_offset = 0;
};

} // namespace IpcFuzz
