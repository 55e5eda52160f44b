#include "service/not_supported_handler.h"

#include "platform/ipc/ipc_errors.h"

namespace Service {

namespace {

constexpr Common::SourceFile kSource("service/not_supported_handler");

} // namespace

Common::Error NotSupportedHandler::Handle(const Ipc::CallContext&, Ipc::ByteView, Ipc::Bytes&)
{
    return Ipc::MakeIpcError(Ipc::kNotSupported, Ipc::kNotSupportedText, kSource.At("Handle", __LINE__));
}

Ipc::PacketHandler& GetServiceHandler()
{
    static NotSupportedHandler* const handler = new NotSupportedHandler; // never destroyed: calls may run at exit
    return *handler;
}

} // namespace Service
