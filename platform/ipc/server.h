// The service side of the socket road: listens, authenticates each connection
// with its Hello, then answers its requests through a PacketHandler.
//
// A connection passes three stages, each with a bound of its own, so that
// peers who never log in cannot take the places of those who do, and no
// peer makes the server hold more than it was sent:
//
// 1. Hello. One gate thread accepts connections and reads their Hellos, all
//    at once without blocking, for up to maxPendingConnections connections.
//    A whole Hello of at most kMaxHelloPayload bytes must come within
//    handshakeMilliseconds of the accept (a peer trickling bytes gains no
//    time), else the connection gets Busy. A connection that finds every
//    place taken pushes out the one that has waited longest, which gets Busy:
//    a crowd of idle connections cannot keep out a client that sends its
//    Hello at once. A Hello that is not one gets Refused.
// 2. Password check. A Hello read whole waits in a queue of at most
//    maxQueuedChecks for one of maxParallelChecks checker threads, which
//    calls the authenticator. A Hello that finds the queue full, whose check
//    cannot start before its handshake deadline, or whose login would pass
//    maxConnections, gets Busy; a refused one gets Refused and is reported to
//    ServerOptions::loginRefused. So every client has its answer within
//    handshakeMilliseconds and one check, far within its own wait
//    (kHandshakeTimeoutMilliseconds). The password's bytes are wiped from the
//    Hello's buffer and record once checked; the gate reads exactly the
//    Hello, so no other buffer of the server ever holds them.
// 3. Session. An authenticated connection is served on its own thread, one
//    request after the other, in the order they arrived, up to maxConnections
//    at once. A request's memory grows with the bytes that arrived, never
//    with the size its header announced, and is handed over to the handler
//    (PacketHandler::HandleOwned). Once a frame's first byte came, the
//    whole frame must come within frameMilliseconds, and a reply must be
//    taken by the peer within frameMilliseconds; a connection that sends
//    nothing for idleMilliseconds is closed. A handler failure, and a reply
//    too large for a frame, goes back as a Failure frame (the error blob). A
//    frame that breaks the protocol, or a deadline that passed, ends that
//    connection only (the peer reads that it was lost).
//
// Threading: Start and Stop from one controlling thread. The authenticator
// and loginRefused are called from up to maxParallelChecks checker threads at
// once, the handler from the session threads at once. Stop (also by the
// destructor) closes the listener and every connection, and returns after all
// threads ended; an authenticator or handler still running delays it until it
// returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/common/mutex.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/host_address.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/socket_io.h"

namespace Ipc {

// True when the Hello's user, password and service code may connect.
using Authenticator = std::function<bool(const HelloRecord& hello)>;

// Told of each refused login: the user as the peer sent it (any bytes) and
// the peer's address ("192.0.2.1:50000", "[2001:db8::1]:50000").
using LoginRefusedReport = std::function<void(const std::string& user, const std::string& peer)>;

struct ServerOptions
{
    std::string address = "127.0.0.1";    // numeric IPv4 or IPv6 address
    uint16_t port = kDefaultServicePort;  // 0: an ephemeral port
    size_t maxConnections = 64;           // authenticated connections served at once
    int handshakeMilliseconds = 5000;     // from the accept to the whole Hello read and its check started
    size_t maxPendingConnections = 128;   // connections still sending their Hello
    size_t maxParallelChecks = 4;         // authenticator calls at once
    size_t maxQueuedChecks = 64;          // Hellos read whole, waiting for their check
    int frameMilliseconds = 60000;        // a frame's bytes once it started; a reply's bytes
    int idleMilliseconds = 300000;        // an authenticated connection waiting for its next request
    LoginRefusedReport loginRefused = {}; // may be empty
};

class Server
{
public:
    // `handler` must outlive the server. A port in use, or an address that is
    // not numeric, gives kListenFailed naming them.
    static Common::Error Start(const ServerOptions& options, Authenticator authenticator, PacketHandler& handler,
                               std::unique_ptr<Server>& server);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    uint16_t GetPort() const { return m_port; }
    void Stop() COMMON_EXCLUDES(m_lock);

private:
    struct Pending;
    struct Session;

    Server(SocketHandle listener, uint16_t port, const ServerOptions& options, Authenticator authenticator,
           PacketHandler& handler);
    // The gate thread: accepts connections and reads their Hellos.
    void RunGate();
    // Reads what `pending` has sent; false when it is done with (answered or gone).
    bool ReadHello(std::unique_ptr<Pending>& pending);
    void QueueCheck(std::unique_ptr<Pending> pending) COMMON_EXCLUDES(m_lock);
    // A checker thread: checks queued Hellos and starts the sessions of those welcomed.
    void RunChecks() COMMON_EXCLUDES(m_lock);
    void Check(std::unique_ptr<Pending> pending) COMMON_EXCLUDES(m_lock);
    void Serve(Session& session);
    // Joins the threads of sessions that ended.
    void ReapEndedSessions() COMMON_REQUIRES(m_lock);

    SocketHandle m_listener;
    SocketHandle m_wakeRead; // a byte here ends the gate
    SocketHandle m_wakeWrite;
    uint16_t m_port;
    ServerOptions m_options;
    Authenticator m_authenticator;
    PacketHandler& m_handler;
    std::thread m_gate;
    std::vector<std::thread> m_checkers;

    Common::NonRecursiveMutex m_lock;
    std::condition_variable m_checkQueued;
    std::deque<std::unique_ptr<Pending>> m_checkQueue COMMON_GUARDED_BY(m_lock);
    size_t m_checksRunning COMMON_GUARDED_BY(m_lock) = 0;
    std::list<std::unique_ptr<Session>> m_sessions COMMON_GUARDED_BY(m_lock);
    bool m_stopping COMMON_GUARDED_BY(m_lock) = false;
};

} // namespace Ipc
