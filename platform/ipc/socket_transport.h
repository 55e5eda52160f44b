// The remote road's transport: one authenticated stream-socket connection to
// a service process.
//
// Connect resolves the host argument ("host", "host:port", "[v6]:port"; the
// port defaults to kDefaultServicePort), connects (kConnectTimeoutMilliseconds),
// sends Hello with user, password and service code, and waits for the answer
// (kHandshakeTimeoutMilliseconds of socket_io.h): Refused gives
// kAuthenticationRefused, Busy gives kServiceBusy.
// Then one reader thread reads the replies and hands each to the call with
// its call id: a waiting Exchange directly, a started call through a
// completion thread. The reader runs no caller code, so a synchronous call
// from a completion cannot wait on itself. A reply for a call that no longer
// waits (canceled) is skipped unread. When the stream ends or breaks, every
// pending call fails once with kConnectionLost (cause: what broke), and so do
// later calls. The destructor closes the connection the same way and joins
// the reader.
//
// A call waits for its reply as long as it takes (a request may take minutes
// on a busy store), but the socket notices a service host that vanished
// (kClientKeepalive): keepalive probes while nothing flows, and a limit on
// data left unacknowledged; the pending calls then fail with kConnectionLost.
// A service whose host still answers but which stopped serving (a process
// stopped or hung) is not noticed.
//
// Threading: Exchange, Start and Cancel from any thread at once; frames are
// written whole under one write lock. The transport may be destroyed on any
// thread but a completion of its own calls must not be the one still needed
// by that destruction (the reader never runs completions, so it never is).
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/ipc/call.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/socket_io.h"

namespace Ipc {

inline constexpr int kConnectTimeoutMilliseconds = 10000;
// A vanished service host ends the connection within about two minutes.
inline constexpr KeepaliveSettings kClientKeepalive{60, 10, 6, 120000};

class SocketTransport : public Transport
{
public:
    // A bad host argument gives kConnectFailed with an EINVAL cause.
    static Common::Error Connect(const std::string& hostArgument, const HelloRecord& credentials,
                                 std::unique_ptr<SocketTransport>& transport);
    ~SocketTransport() override;

    Common::Error Exchange(ByteView request, Bytes& reply) override;
    std::shared_ptr<CallHandle> Start(Bytes request, Completion completion) override;

    struct Link;

private:
    explicit SocketTransport(std::shared_ptr<Link> link);

    std::shared_ptr<Link> m_link;
    std::thread m_reader;
};

} // namespace Ipc
