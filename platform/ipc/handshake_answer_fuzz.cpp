// Reads arbitrary bytes as the answer to a Hello, the way Connect does: the
// header checked against the answer's limit, a Failure's blob read whole or
// refused. A welcome is success and nothing else is; a well-formed Failure
// never passes for a welcome.

#include <cstdint>
#include <cstdlib>

#include "platform/ipc/frame.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/piece_source_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IpcFuzz::PieceSource source(data, size, 5, 7);
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
