#include "platform/ipc/echo_road.h"

#include "platform/ipc/local_transport.h"
#include "platform/ipc/socket_transport.h"

namespace Ipc {

Common::Error EchoHandler::Handle(const CallContext&, ByteView request, Bytes& reply)
{
    reply.assign(request.begin(), request.end());
    return Common::Success;
}

EchoRoad::~EchoRoad()
{
    transport.reset();
    server.reset();
}

Common::Error OpenSocketEchoRoad(EchoRoad& road)
{
    Common::Error error = Server::Start(
        ServerOptions{"127.0.0.1", 0}, [](const HelloRecord&) { return true; }, road.handler, road.server);
    if (!error.IsSuccess())
        return error;
    std::unique_ptr<SocketTransport> transport;
    error = SocketTransport::Connect("127.0.0.1:" + std::to_string(road.server->GetPort()), HelloRecord{"echo", "", 0},
                                     transport);
    road.transport = std::move(transport);
    return error;
}

Common::Error OpenLocalEchoRoad(EchoRoad& road)
{
    road.transport = std::make_unique<LocalTransport>(road.handler, CallContext{});
    return Common::Success;
}

} // namespace Ipc
