// The service's request handler until the service core answers requests: it
// answers every request with the transport-level failure
// Ipc::kNotSupported ("IPC: The request is not supported by this service.").
//
// Threading: stateless; any number of threads at once.
#pragma once

#include "platform/ipc/packet_handler.h"

namespace Service {

class NotSupportedHandler : public Ipc::PacketHandler
{
public:
    Common::Error Handle(const Ipc::CallContext& context, Ipc::ByteView request, Ipc::Bytes& reply) override;
};

// The handler of this program, on both roads; lives until exit.
Ipc::PacketHandler& GetServiceHandler();

} // namespace Service
