// Reads arbitrary bytes as a stream of frames, the way the socket road's
// reader and the server's handshake do: headers checked against the limits,
// payloads read or skipped, Hello payloads decoded and encoded again.

#include <cstdint>
#include <cstdlib>

#include "platform/ipc/frame.h"
#include "platform/ipc/piece_source_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IpcFuzz::PieceSource source(data, size, 7, 5);
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
