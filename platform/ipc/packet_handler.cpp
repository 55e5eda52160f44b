#include "platform/ipc/packet_handler.h"

#include <atomic>
#include <new>

namespace Ipc {

namespace {

constinit std::atomic<PacketHandler*> g_localHandler{nullptr};

// Runs `handle` with an empty `reply`, which it keeps only on success.
template <typename Handle>
Common::Error Invoke(Bytes& reply, Handle handle)
{
    reply.clear();
    try {
        Common::Error result = handle();
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

} // namespace

Common::Error PacketHandler::HandleOwned(const CallContext& context, Bytes& request, Bytes& reply)
{
    return Handle(context, request, reply);
}

Common::Error InvokeHandler(PacketHandler& handler, const CallContext& context, ByteView request, Bytes& reply)
{
    return Invoke(reply, [&] { return handler.Handle(context, request, reply); });
}

Common::Error InvokeHandlerOwned(PacketHandler& handler, const CallContext& context, Bytes& request, Bytes& reply)
{
    return Invoke(reply, [&] { return handler.HandleOwned(context, request, reply); });
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
