// The server side of both roads: the service answers each request through a
// PacketHandler, and plugs its handler in as the local road's peer.
//
// The local road has one process-wide handler. The service registers it from
// a static initializer of a program that links the service, so the slot is a
// constant-initialized atomic that needs no construction order:
//
//     namespace { const bool kPlugged = (Ipc::RegisterLocalHandler(&TheHandler()), true); }
//
// A request comes lent (Handle: the caller keeps the bytes until it returns)
// or handed over (HandleOwned: the caller's buffer is the handler's to take or
// release as soon as it has read it, so a large request need not stay alive
// while the handler works on it). Started calls of the local road and the
// socket road's requests are handed over; Exchange lends.
//
// Threading: Handle and HandleOwned are called from many threads at once (one
// per connection on the socket road, any caller's or library thread on the
// local road) and must be safe for that. Registration and lookup are atomic.
#pragma once

#include <cstdint>
#include <string>

#include "core/common/error.h"
#include "platform/ipc/bytes.h"

namespace Ipc {

class ReplyLease;

// Who sent a request: the user of the connection (empty on the local road) and
// the service code the caller asked for; and the lease through which a handler
// takes its reply's share of the server's reply budget before it builds the
// reply (reply_budget.h). The server gives that share back once the reply was
// sent. Null where no budget holds (the local road).
struct CallContext
{
    std::string user;
    int32_t serviceCode = 0;
    ReplyLease* replyLease = nullptr;
};

class PacketHandler
{
public:
    virtual ~PacketHandler() = default;

    // Answers one request. Success: `reply` (empty on entry) holds the reply
    // bytes for the caller. A failure is a transport-level failure: the
    // caller's call fails with that error and `reply` is dropped. Answers of
    // the service's own protocol, failures included, belong in `reply`.
    virtual Common::Error Handle(const CallContext& context, ByteView request, Bytes& reply) = 0;

    // Answers a request whose bytes the caller hands over: the handler may
    // take them over or release them (best once it has read them); the caller
    // does not look at them afterwards, it only reuses or destroys the buffer.
    // Otherwise as Handle, which answers here unless a handler has a use for
    // the bytes.
    virtual Common::Error HandleOwned(const CallContext& context, Bytes& request, Bytes& reply);
};

// Calls handler.Handle with an empty `reply`. A Common::Error the handler
// throws becomes the result, and so does running out of memory (the reply is
// then emptied); other exceptions pass through.
Common::Error InvokeHandler(PacketHandler& handler, const CallContext& context, ByteView request, Bytes& reply);

// The same through handler.HandleOwned: `request` is handed over, whatever the
// outcome; read it no more afterwards.
Common::Error InvokeHandlerOwned(PacketHandler& handler, const CallContext& context, Bytes& request, Bytes& reply);

// Makes `handler` the local road's peer (it must live until exit); null
// unplugs. The last registration wins.
void RegisterLocalHandler(PacketHandler* handler);

// The local road's peer, or null when no service is linked into the program.
PacketHandler* GetLocalHandler();

} // namespace Ipc
