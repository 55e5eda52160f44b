// Reads arbitrary bytes as a stream of frames, the way the socket road's
// reader and the server's handshake do: headers checked against the limits,
// payloads read or skipped, Hello payloads decoded and encoded again.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/ipc/frame.h"

namespace {

class BufferSource : public Ipc::ByteSource
{
public:
    BufferSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    Common::Error Read(void* into, size_t size, size_t& got) override
    {
        // Odd-sized pieces, so that frames straddle reads.
        got = std::min({size, m_size - m_offset, size_t{7} + m_offset % 5});
        std::memcpy(into, m_data + m_offset, got);
        m_offset += got;
        return Common::Success;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BufferSource source(data, size);
    Ipc::FrameHeader header{};
    Ipc::Bytes payload;
    // The first frame is read as a server reads a Hello, the rest as replies.
    if (!Ipc::ReadFrame(source, Ipc::kMaxHelloPayload, header, payload).IsSuccess())
        return 0;
    Ipc::HelloRecord hello;
    if (Ipc::DecodeHello(payload, hello).IsSuccess()) {
        Ipc::Bytes again;
        if (!Ipc::EncodeHello(hello, again).IsSuccess() || again != payload)
            std::abort();
    }
    for (int frame = 0; frame < 1000; ++frame) {
        if (!Ipc::ReadFrameHeader(source, Ipc::kMaxFramePayload, header).IsSuccess())
            return 0;
        // Skip every other payload, as the reader does for canceled calls.
        const Common::Error read = header.callId % 2 ? Ipc::SkipFramePayload(source, header.payloadSize)
                                                     : Ipc::ReadFramePayload(source, header.payloadSize, payload);
        if (!read.IsSuccess())
            return 0;
        if (header.callId % 2 == 0 && payload.size() != header.payloadSize)
            std::abort();
    }
    return 0;
}
