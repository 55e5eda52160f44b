// A bare round trip for benchmarks and tests: a handler that answers every
// request with its own bytes, reachable through either road.
//
//     Ipc::EchoRoad road;
//     Common::Error error = Ipc::OpenSocketEchoRoad(road); // or OpenLocalEchoRoad
//     error = road.transport->Exchange(bytes, reply);     // reply == bytes
//
// The socket road runs an in-process Server on an ephemeral loopback port
// that accepts any user.
//
// Threading: as Transport; the road is opened and closed on one thread.
#pragma once

#include <memory>

#include "platform/ipc/call.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/server.h"

namespace Ipc {

class EchoHandler : public PacketHandler
{
public:
    Common::Error Handle(const CallContext& context, ByteView request, Bytes& reply) override;
};

struct EchoRoad
{
    EchoHandler handler;
    std::unique_ptr<Server> server;       // socket road only
    std::unique_ptr<Transport> transport; // destroyed before the server
    ~EchoRoad();
};

Common::Error OpenSocketEchoRoad(EchoRoad& road);
Common::Error OpenLocalEchoRoad(EchoRoad& road);

} // namespace Ipc
