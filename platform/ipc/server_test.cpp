// The server's stages under hostile and heavy load, over real loopback sockets.

#include "platform/ipc/server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "core/common/event.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/socket_transport.h"
#include "platform/ipc/transport_test_support.h"
#include "testing/error_matchers.h"

namespace {

using IpcTesting::EndsWithin;
using IpcTesting::HandshakeRaw;
using IpcTesting::ToBytes;
using ::testing::AllOf;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;
using namespace std::chrono_literals;

constexpr int32_t kHub = 33;
const Ipc::HelloRecord kAlice{"alice", "secret", kHub};

bool IsAlice(const Ipc::HelloRecord& hello)
{
    return hello.user == "alice" && hello.password == "secret";
}

// Lets `duration` pass, so that a deadline of the server expires; no other
// thread is waited for.
void LetTimePass(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

// An authenticator that holds every check until released, and counts how
// many it holds at once.
class HeldChecks
{
public:
    bool Check(const Ipc::HelloRecord& hello)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        ++m_inside;
        m_most = std::max(m_most, m_inside);
        m_changed.notify_all();
        m_changed.wait_for(guard, 10s, [this] { return m_released; });
        --m_inside;
        return IsAlice(hello);
    }

    // True when `count` checks are held at once within 10 s.
    bool WaitForInside(int count)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, 10s, [&] { return m_inside >= count; });
    }

    void Release()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

    int Most()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_most;
    }

    Ipc::Authenticator Authenticator()
    {
        return [this](const Ipc::HelloRecord& hello) { return Check(hello); };
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_inside = 0;
    int m_most = 0;
    bool m_released = false;
};

class ServerStagesThreads : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_checks.Release();
        m_handler.release.Set();
        m_server.reset();
    }

    void Start(Ipc::ServerOptions options, Ipc::Authenticator authenticator = IsAlice)
    {
        options.address = "127.0.0.1";
        options.port = 0;
        ASSERT_THAT(Ipc::Server::Start(options, std::move(authenticator), m_handler, m_server), IsSuccessError());
    }

    uint16_t Port() const { return m_server->GetPort(); }
    std::string Host() const { return "127.0.0.1:" + std::to_string(Port()); }

    // One attempt: the server's answer itself, a Busy included.
    Common::Error Login(std::unique_ptr<Ipc::SocketTransport>& transport, const Ipc::HelloRecord& hello = kAlice)
    {
        Ipc::ConnectOptions once;
        once.busyRetryMilliseconds = 0;
        return Ipc::SocketTransport::Connect(Host(), hello, once, transport);
    }

    HeldChecks m_checks; // outlives the server, whose checkers may still call it
    IpcTesting::ScriptedHandler m_handler;
    std::unique_ptr<Ipc::Server> m_server;
};

TEST_F(ServerStagesThreads, IdleConnectionsBeyondThePendingPlacesCannotKeepOutALogin)
{
    Ipc::ServerOptions options;
    Start(options); // the default places and Hello deadline
    std::vector<Ipc::SocketHandle> idle;
    for (size_t i = 0; i < options.maxPendingConnections + 72; ++i) {
        idle.push_back(IpcTesting::ConnectRaw(Port()));
        ASSERT_GE(idle.back().Get(), 0);
    }
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Login(transport), IsSuccessError());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(options.handshakeMilliseconds));
    Ipc::Bytes reply;
    EXPECT_THAT(transport->Exchange(ToBytes("in"), reply), IsSuccessError());

    // The one that waited longest made room, and was told why.
    Ipc::SocketSource source(idle.front().Get());
    source.SetDeadline(Ipc::Clock::now() + 10s);
    Ipc::FrameHeader header{};
    ASSERT_THAT(Ipc::ReadFrameHeader(source, 0, header), IsSuccessError());
    EXPECT_EQ(header.kind, Ipc::FrameKind::Busy);
}

TEST_F(ServerStagesThreads, ChecksRunInParallelUpToTheirBound)
{
    Ipc::ServerOptions options;
    options.maxParallelChecks = 3;
    Start(options, m_checks.Authenticator());
    std::vector<std::thread> clients;
    std::atomic<int> welcomed{0};
    for (int i = 0; i < 5; ++i)
        clients.emplace_back([&] {
            std::unique_ptr<Ipc::SocketTransport> transport;
            if (Login(transport).IsSuccess())
                ++welcomed;
        });
    EXPECT_TRUE(m_checks.WaitForInside(3));
    m_checks.Release();
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(m_checks.Most(), 3);
    EXPECT_EQ(welcomed.load(), 5);
}

TEST_F(ServerStagesThreads, AHelloThatFindsTheCheckQueueFullIsAnsweredBusy)
{
    Ipc::ServerOptions options;
    options.maxParallelChecks = 1;
    options.maxQueuedChecks = 1;
    options.handshakeMilliseconds = 30000;
    Start(options, m_checks.Authenticator());
    Ipc::FrameKind answer{};
    std::thread first([&] { (void)HandshakeRaw(Port(), kAlice, answer); });
    ASSERT_TRUE(m_checks.WaitForInside(1));
    Ipc::SocketHandle queued = IpcTesting::ConnectRaw(Port());
    Ipc::Bytes hello;
    ASSERT_THAT(Ipc::EncodeHello(kAlice, hello), IsSuccessError());
    ASSERT_THAT(Ipc::WriteFrame(queued.Get(), Ipc::FrameKind::Hello, 0, hello), IsSuccessError());

    // The queue's one place may not be taken yet when the next Hello comes: try until it is.
    std::unique_ptr<Ipc::SocketTransport> refused;
    Common::Error result;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    do {
        result = Login(refused);
    } while (result.GetCode() != Ipc::kServiceBusy && std::chrono::steady_clock::now() < deadline);
    EXPECT_THAT(result, AllOf(ErrorIs(Ipc::kServiceBusy), HasText(u"IPC: The service is busy; try again later.")));

    m_checks.Release();
    first.join();
    EXPECT_EQ(answer, Ipc::FrameKind::Welcome);
}

TEST_F(ServerStagesThreads, AHelloWhoseCheckCannotStartBeforeItsDeadlineIsAnsweredBusy)
{
    Ipc::ServerOptions options;
    options.maxParallelChecks = 1;
    options.handshakeMilliseconds = 500;
    Start(options, m_checks.Authenticator());
    Ipc::FrameKind firstAnswer{};
    std::thread first([&] { (void)HandshakeRaw(Port(), kAlice, firstAnswer); });
    ASSERT_TRUE(m_checks.WaitForInside(1));
    Ipc::FrameKind secondAnswer{};
    std::thread second([&] { (void)HandshakeRaw(Port(), kAlice, secondAnswer); });
    // The second Hello waits in the queue; its check can start only once the
    // first one is released, and its deadline has passed by then.
    LetTimePass(1500ms);
    m_checks.Release();
    first.join();
    second.join();
    EXPECT_EQ(firstAnswer, Ipc::FrameKind::Welcome);
    EXPECT_EQ(secondAnswer, Ipc::FrameKind::Busy);
}

TEST_F(ServerStagesThreads, RefusedLoginsAreReportedWithTheirUserAndPeer)
{
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> reports;
    Ipc::ServerOptions options;
    options.loginRefused = [&](const std::string& user, const std::string& peer) {
        std::lock_guard<std::mutex> guard(lock);
        reports.emplace_back(user, peer);
    };
    Start(options);
    std::unique_ptr<Ipc::SocketTransport> transport;
    EXPECT_THAT(Login(transport, {"mallory", "guess", kHub}), ErrorIs(Ipc::kAuthenticationRefused));
    ASSERT_THAT(Login(transport), IsSuccessError());
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, "mallory");
    EXPECT_THAT(reports[0].second, ::testing::StartsWith("127.0.0.1:"));
}

TEST_F(ServerStagesThreads, ARequestTrickledAfterLoginIsCutAtItsFrameDeadline)
{
    Ipc::ServerOptions options;
    options.frameMilliseconds = 300;
    Start(options);
    Ipc::FrameKind answer{};
    Ipc::SocketHandle peer = HandshakeRaw(Port(), kAlice, answer);
    ASSERT_EQ(answer, Ipc::FrameKind::Welcome);
    uint8_t header[Ipc::kFrameHeaderSize];
    Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Request, 1, 1000}, header);
    const auto started = std::chrono::steady_clock::now();
    bool ended = false;
    for (size_t i = 0; i < 200 && !ended; ++i) { // a byte each 20 ms: each far within any per-receive limit
        const uint8_t byte = i < sizeof header ? header[i] : 'x';
        if (send(peer.Get(), &byte, 1, MSG_NOSIGNAL) != 1)
            break;
        ended = EndsWithin(peer.Get(), 20);
    }
    EXPECT_TRUE(ended || EndsWithin(peer.Get(), 0));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 3s);
}

TEST_F(ServerStagesThreads, AnIdleSessionIsClosedAtItsDeadlineWhileABusyOneStays)
{
    Ipc::ServerOptions options;
    options.idleMilliseconds = 300;
    Start(options);
    Ipc::FrameKind answer{};
    Ipc::SocketHandle idle = HandshakeRaw(Port(), kAlice, answer);
    ASSERT_EQ(answer, Ipc::FrameKind::Welcome);
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<Ipc::SocketTransport> busy;
    ASSERT_THAT(Login(busy), IsSuccessError());
    EXPECT_FALSE(EndsWithin(idle.Get(), 0));
    // Requests closer together than the idle limit keep the session open past it.
    while (std::chrono::steady_clock::now() - started < 900ms) {
        Ipc::Bytes reply;
        ASSERT_THAT(busy->Exchange(ToBytes("still here"), reply), IsSuccessError());
        LetTimePass(50ms);
    }
    EXPECT_TRUE(EndsWithin(idle.Get(), 3000));
    Ipc::Bytes reply;
    EXPECT_THAT(busy->Exchange(ToBytes("and here"), reply), IsSuccessError());
}

TEST_F(ServerStagesThreads, AReplyThePeerDoesNotTakeEndsTheConnectionAtItsDeadline)
{
    Ipc::ServerOptions options;
    options.maxConnections = 1; // its place comes back once the server gave the connection up
    options.frameMilliseconds = 300;
    options.idleMilliseconds = 3000; // a reply sent whole ends the connection only then
    Start(options);
    Ipc::FrameKind answer{};
    Ipc::SocketHandle peer = HandshakeRaw(Port(), kAlice, answer);
    ASSERT_EQ(answer, Ipc::FrameKind::Welcome);
    // A fixed receive buffer, so that the sockets between the two hold far less than the reply.
    const int buffer = 256 << 10;
    ASSERT_EQ(setsockopt(peer.Get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer), 0);
    ASSERT_THAT(Ipc::WriteFrame(peer.Get(), Ipc::FrameKind::Request, 1, ToBytes("large")), IsSuccessError());
    // Nothing is read meanwhile: the one place is taken until the server gives up on the reply.
    std::unique_ptr<Ipc::SocketTransport> next;
    Common::Error login;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((login = Login(next)).GetCode() == Ipc::kServiceBusy && std::chrono::steady_clock::now() < deadline)
        LetTimePass(20ms);
    EXPECT_THAT(login, IsSuccessError());
    // The stream ends short of the reply.
    size_t received = 0;
    char scratch[65536];
    for (;;) {
        const ssize_t got = recv(peer.Get(), scratch, sizeof scratch, 0);
        if (got <= 0)
            break;
        received += static_cast<size_t>(got);
    }
    EXPECT_LT(received, size_t{32} << 20);
}

TEST(ServerListenThreads, APortInUseIsAListenFailureNamingAddressAndPort)
{
    IpcTesting::ScriptedHandler handler;
    std::unique_ptr<Ipc::Server> first;
    ASSERT_THAT(Ipc::Server::Start(Ipc::ServerOptions{"127.0.0.1", 0}, IsAlice, handler, first), IsSuccessError());
    std::unique_ptr<Ipc::Server> second;
    const Common::Error error = Ipc::Server::Start(Ipc::ServerOptions{"127.0.0.1", first->GetPort()}, IsAlice, handler,
                                                   second);
    EXPECT_THAT(error,
                AllOf(ErrorIs(Ipc::kListenFailed), HasText(u"IPC: Failed to listen for connections."),
                      Testing::HasPosixCause(EADDRINUSE)));
    EXPECT_STREQ(error.GetTextParameter("host"), "127.0.0.1");
    EXPECT_EQ(error.GetTextParameter("port"), std::to_string(first->GetPort()));
    EXPECT_EQ(second, nullptr);
}

} // namespace
