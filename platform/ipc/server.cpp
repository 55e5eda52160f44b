#include "platform/ipc/server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>

#include "core/common/error_blob.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/server");

Common::Error SendFailure(int fd, uint64_t callId, const Common::Error& failure)
{
    uint32_t size = 0;
    std::unique_ptr<unsigned char[]> blob(Common::SerializeError(failure, size));
    return WriteFrame(fd, FrameKind::Failure, callId, ByteView(blob.get(), size));
}

// Reads the handshake against one deadline for the whole of it: each receive may
// wait only for what is left, so a peer sending a byte now and then gains no time.
class DeadlineSource : public ByteSource
{
public:
    DeadlineSource(ByteSource& source, int fd, int milliseconds)
        : m_source(source), m_fd(fd),
          m_deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds))
    {
    }

    Common::Error Read(void* into, size_t size, size_t& got) override
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            Common::Error error = MakeIpcError(kConnectionLost, kConnectionLostText, kSource.At("Read", __LINE__));
            error.AddPosixError(ETIMEDOUT);
            return error;
        }
        (void)SetReceiveTimeout(m_fd, static_cast<int>(left.count())); // without it the peer only waits longer
        return m_source.Read(into, size, got);
    }

private:
    ByteSource& m_source;
    int m_fd;
    std::chrono::steady_clock::time_point m_deadline;
};

} // namespace

struct Server::Session
{
    SocketHandle socket; // closed only after the thread was joined, so its number cannot be reused meanwhile
    std::thread thread;
    std::atomic<bool> ended{false};
};

Server::Server(SocketHandle listener, uint16_t port, const ServerOptions& options, Authenticator authenticator,
               PacketHandler& handler)
    : m_listener(std::move(listener)), m_port(port), m_maxConnections(options.maxConnections),
      m_handshakeMilliseconds(options.handshakeMilliseconds), m_authenticator(std::move(authenticator)),
      m_handler(handler)
{
}

Common::Error Server::Start(const ServerOptions& options, Authenticator authenticator, PacketHandler& handler,
                            std::unique_ptr<Server>& server)
{
    SocketHandle listener;
    uint16_t port = 0;
    Common::Error error = ListenTcp(options.address, options.port, listener, port);
    if (!error.IsSuccess())
        return error;
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) < 0) {
        error = MakeIpcError(kConnectFailed, kConnectFailedText, kSource.At("Start", __LINE__));
        error.AddPosixError(errno);
        return error;
    }
    std::unique_ptr<Server> started(new Server(std::move(listener), port, options, std::move(authenticator), handler));
    started->m_wakeRead.Reset(wake[0]);
    started->m_wakeWrite.Reset(wake[1]);
    started->m_acceptor = std::thread([raw = started.get()] { raw->AcceptConnections(); });
    server = std::move(started);
    return Common::Success;
}

Server::~Server()
{
    Stop();
}

void Server::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    const char byte = 0;
    while (write(m_wakeWrite.Get(), &byte, 1) < 0 && errno == EINTR) {}
    m_acceptor.join();
    // No new sessions from here on.
    for (auto& session : m_sessions)
        (void)shutdown(session->socket.Get(), SHUT_RDWR); // an ended session may be shut already
    for (auto& session : m_sessions)
        session->thread.join();
    m_sessions.clear();
}

void Server::ReapEndedSessions()
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if ((*it)->ended.load()) {
            (*it)->thread.join();
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::AcceptConnections()
{
    for (;;) {
        pollfd waits[2] = {{m_listener.Get(), POLLIN, 0}, {m_wakeRead.Get(), POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits[1].revents != 0)
            return;
        SocketHandle accepted(accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (accepted.Get() < 0)
            continue; // the peer gave up already, or descriptors ran out for now
        std::lock_guard<std::mutex> guard(m_lock);
        ReapEndedSessions();
        if (m_sessions.size() >= m_maxConnections)
            continue; // closed unread: a flood of connections holds no more threads
        auto session = std::make_unique<Session>();
        session->socket = std::move(accepted);
        Session& started = *session;
        m_sessions.push_back(std::move(session));
        started.thread = std::thread([this, &started] { Serve(started); });
    }
}

void Server::Serve(Session& session)
{
    const int fd = session.socket.Get();
    SocketSource source(fd);
    DeadlineSource handshake(source, fd, m_handshakeMilliseconds);
    FrameHeader header{};
    Bytes payload;
    HelloRecord hello;
    bool welcome = ReadFrame(handshake, kMaxHelloPayload, header, payload).IsSuccess() &&
        header.kind == FrameKind::Hello && header.callId == 0 && DecodeHello(payload, hello).IsSuccess() &&
        m_authenticator(hello);
    if (!welcome) {
        (void)WriteFrame(fd, FrameKind::Refused, 0, {}); // the peer may be gone already
    } else if (WriteFrame(fd, FrameKind::Welcome, 0, {}).IsSuccess()) {
        (void)SetReceiveTimeout(fd, 0); // as above
        const CallContext context{hello.user, hello.serviceCode};
        hello.password.assign(hello.password.size(), '\0');
        while (ReadFrame(source, kMaxFramePayload, header, payload).IsSuccess() && header.kind == FrameKind::Request) {
            Bytes reply;
            Common::Error result = InvokeHandler(m_handler, context, payload, reply);
            Common::Error sent = result.IsSuccess() ? WriteFrame(fd, FrameKind::Reply, header.callId, reply)
                                                    : SendFailure(fd, header.callId, result);
            if (sent.GetCode() == kFrameTooLarge) // refused before anything was sent: the call fails, not the link
                sent = SendFailure(fd, header.callId, sent);
            if (!sent.IsSuccess())
                break;
        }
    }
    session.ended.store(true);     // before the peer can see the end, so its place is free once it does
    (void)shutdown(fd, SHUT_RDWR); // tells the peer this connection is over
}

} // namespace Ipc
