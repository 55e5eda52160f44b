// The service side of the socket road: listens, authenticates each connection
// with its Hello, then answers its requests through a PacketHandler.
//
// Each connection is served on its own thread, one request after the other,
// in the order they arrived. A whole Hello must come within
// ServerOptions::handshakeMilliseconds of the accept (a peer trickling bytes
// gains no time) and be at most kMaxHelloPayload bytes; a refused one is
// answered with Refused and the connection closed. At most
// ServerOptions::maxConnections connections are served at once; one more is
// closed at once, unread. A handler failure, and a reply too large for a
// frame, goes back as a Failure frame (the error blob). A frame that breaks
// the protocol ends that connection only.
//
// Threading: Start and Stop from one controlling thread. The authenticator
// and the handler are called from the connection threads at once. Stop (also
// by the destructor) closes the listener and every connection, and returns
// after all threads ended; a handler still running delays it until it
// returns.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ipc/frame.h"
#include "platform/ipc/host_address.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/socket_io.h"

namespace Ipc {

// True when the Hello's user, password and service code may connect.
using Authenticator = std::function<bool(const HelloRecord& hello)>;

struct ServerOptions
{
    std::string address = "127.0.0.1";   // numeric IPv4 or IPv6 address
    uint16_t port = kDefaultServicePort; // 0: an ephemeral port
    size_t maxConnections = 64;          // connections served at once, authenticated or not
    int handshakeMilliseconds = kHandshakeTimeoutMilliseconds;
};

class Server
{
public:
    // `handler` must outlive the server.
    static Common::Error Start(const ServerOptions& options, Authenticator authenticator, PacketHandler& handler,
                               std::unique_ptr<Server>& server);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    uint16_t GetPort() const { return m_port; }
    void Stop();

private:
    struct Session;

    Server(SocketHandle listener, uint16_t port, const ServerOptions& options, Authenticator authenticator,
           PacketHandler& handler);
    void AcceptConnections();
    void Serve(Session& session);
    void ReapEndedSessions();

    SocketHandle m_listener;
    SocketHandle m_wakeRead; // a byte here ends the accept loop
    SocketHandle m_wakeWrite;
    uint16_t m_port;
    size_t m_maxConnections;
    int m_handshakeMilliseconds;
    Authenticator m_authenticator;
    PacketHandler& m_handler;
    std::thread m_acceptor;
    std::mutex m_lock; // guards m_sessions and m_stopping
    std::list<std::unique_ptr<Session>> m_sessions;
    bool m_stopping = false;
};

} // namespace Ipc
