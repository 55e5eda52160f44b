#include "platform/ipc/packet_handler.h"

#include <atomic>
#include <new>

namespace Ipc {

namespace {

constinit std::atomic<PacketHandler*> g_localHandler{nullptr};

} // namespace

Common::Error InvokeHandler(PacketHandler& handler, const CallContext& context, ByteView request, Bytes& reply)
{
    reply.clear();
    try {
        Common::Error result = handler.Handle(context, request, reply);
        if (!result.IsSuccess())
            reply.clear();
        return result;
    } catch (const Common::Error& thrown) {
        reply.clear();
        return thrown;
    } catch (const std::bad_alloc&) {
        reply.clear();
        return Common::Error(Common::GetOutOfMemoryErrorRecord());
    }
}

void RegisterLocalHandler(PacketHandler* handler)
{
    g_localHandler.store(handler, std::memory_order_release);
}

PacketHandler* GetLocalHandler()
{
    return g_localHandler.load(std::memory_order_acquire);
}

} // namespace Ipc
