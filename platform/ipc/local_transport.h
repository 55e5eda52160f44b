// The local road's transport: calls a PacketHandler of this process.
//
// Exchange runs the handler on the calling thread, lending it the request.
// Start runs it on a completion thread, handing the request over
// (PacketHandler::HandleOwned), and completes the call there; a call canceled
// before its handler ran never reaches the handler, and one canceled while it
// runs completes at once with kCallCanceled (the handler's reply is dropped).
//
// Threading: any number of threads at once; the handler must allow that.
#pragma once

#include "platform/ipc/call.h"
#include "platform/ipc/packet_handler.h"

namespace Ipc {

class LocalTransport : public Transport
{
public:
    // `handler` must outlive every call of this transport.
    LocalTransport(PacketHandler& handler, CallContext context);

    Common::Error Exchange(ByteView request, Bytes& reply) override;
    std::shared_ptr<CallHandle> Start(Bytes request, Completion completion) override;

private:
    PacketHandler& m_handler;
    const CallContext m_context;
};

} // namespace Ipc
