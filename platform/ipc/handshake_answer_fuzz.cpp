// Reads arbitrary bytes as the answer to a Hello, the way Connect does: the
// header checked against the answer's limit, a Failure's blob read whole or
// refused. A welcome is success and nothing else is; a well-formed Failure
// never passes for a welcome.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/ipc/frame.h"
#include "platform/ipc/ipc_errors.h"

namespace {

class BufferSource : public Ipc::ByteSource
{
public:
    BufferSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    Common::Error Read(void* into, size_t size, size_t& got) override
    {
        // Odd-sized pieces, so that the answer straddles reads.
        got = std::min({size, m_size - m_offset, size_t{5} + m_offset % 7});
        if (got != 0) // an empty input may have no address at all
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
    Ipc::FrameKind answer = Ipc::FrameKind::Request;
    const Common::Error error = Ipc::ReadHandshakeAnswer(source, answer);
    if (error.IsSuccess() != (answer == Ipc::FrameKind::Welcome))
        std::abort();
    if (answer == Ipc::FrameKind::Busy && error.GetCode() != Ipc::kServiceBusy)
        std::abort();
    if (answer == Ipc::FrameKind::Refused && error.GetCode() != Ipc::kAuthenticationRefused)
        std::abort();
    if (answer == Ipc::FrameKind::Hello && error.GetCode() != Ipc::kMalformedFrame &&
        error.GetCode() != Ipc::kFrameTooLarge && error.GetCode() != Ipc::kConnectionLost)
        std::abort();
    return 0;
}
