// The remote road's transport: one authenticated stream-socket connection to
// a service process.
//
// Connect resolves the host argument ("host", "host:port", "[v6]:port"; the
// port defaults to kDefaultServicePort), connects (kConnectTimeoutMilliseconds),
// sends Hello with user, password and service code, and reads the answer
// (ReadHandshakeAnswer of frame.h) within kHandshakeTimeoutMilliseconds of
// socket_io.h: Refused gives kAuthenticationRefused, a Failure the error it
// carries (such as a limit on the user's sessions), and a service that took
// the connection but sent no whole answer in time kConnectFailed whose text
// names host, port and the seconds waited (MakeLoginUnansweredError).
// Busy, and a Failure of kSessionLimit (the user holds as many sessions as
// the service allows), are tried again on a new connection after a wait that starts at
// kFirstBusyRetryDelayMilliseconds and doubles up to
// kMaxBusyRetryDelayMilliseconds, each drawn at random between half of it
// and all of it, so that clients turned away together do not come back
// together; the last wait is cut to end kBusyRetryMilliseconds after the
// first attempt began, and a Busy after that gives kServiceBusy (a session
// limit its own error). Nothing else is tried again: a refusal, another
// Failure, a malformed answer or a host not reached is returned at once.
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
// Threading: Connect from any thread at once (it waits on the caller's
// thread between attempts); Exchange, Start and Cancel from any thread at
// once; frames are written whole under one write lock. The transport may be destroyed on any
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
// How long and how often a busy service is asked again.
inline constexpr int kBusyRetryMilliseconds = 20000;
inline constexpr int kFirstBusyRetryDelayMilliseconds = 100;
inline constexpr int kMaxBusyRetryDelayMilliseconds = 2000;

// The waits of Connect; the defaults are the real ones, tests shorten them.
struct ConnectOptions
{
    int connectMilliseconds = kConnectTimeoutMilliseconds;     // each address tried
    int handshakeMilliseconds = kHandshakeTimeoutMilliseconds; // from the Hello sent to the answer read whole
    int busyRetryMilliseconds = kBusyRetryMilliseconds;        // 0: a Busy is returned at once
    int firstRetryDelayMilliseconds = kFirstBusyRetryDelayMilliseconds;
    int maxRetryDelayMilliseconds = kMaxBusyRetryDelayMilliseconds;
};

class SocketTransport : public Transport
{
public:
    // A bad host argument gives kConnectFailed with an EINVAL cause.
    static Common::Error Connect(const std::string& hostArgument, const HelloRecord& credentials,
                                 std::unique_ptr<SocketTransport>& transport);
    static Common::Error Connect(const std::string& hostArgument, const HelloRecord& credentials,
                                 const ConnectOptions& options, std::unique_ptr<SocketTransport>& transport);
    ~SocketTransport() override;

    Common::Error Exchange(ByteView request, Bytes& reply) override;
    std::shared_ptr<CallHandle> Start(Bytes request, Completion completion) override;

    struct Link;

private:
    explicit SocketTransport(std::shared_ptr<Link> link);
    static Common::Error Attempt(const HostAddress& address, const HelloRecord& credentials,
                                 const ConnectOptions& options, std::shared_ptr<Link>& link, FrameKind& answer);

    std::shared_ptr<Link> m_link;
    std::thread m_reader;
};

} // namespace Ipc
