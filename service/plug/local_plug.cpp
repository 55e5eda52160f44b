// Plugs the service in as the local road's peer when a program that links the
// service starts. Compiled into every program that links the service library
// (an interface source), so no linker drops it.

#include "platform/ipc/packet_handler.h"
#include "service/service_core.h"

namespace {

const bool kPlugged = (Ipc::RegisterLocalHandler(&Service::GetServiceHandler()), true);

} // namespace
