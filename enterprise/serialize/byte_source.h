// Serialization::ByteSource: bytes handed over front to back, a piece at a
// time, their number known from the start. A reader that decodes bytes from
// a text as they are asked for offers them this way, so that no whole copy
// of them need be held.
//
// Threading: one thread at a time, as the reader that offers the source.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Serialization {

class ByteSource
{
public:
    // How many bytes the source holds in all.
    virtual uint64_t Size() const = 0;
    // The next `count` bytes into `out`; the caller takes no more than Size()
    // in all.
    virtual void Read(unsigned char* out, size_t count) = 0;
    // The first `count` bytes (count <= Size()) into `out`, however far the
    // reading has gone.
    virtual void ReadFirst(unsigned char* out, size_t count) const = 0;

protected:
    ~ByteSource() = default;
};

} // namespace Serialization
