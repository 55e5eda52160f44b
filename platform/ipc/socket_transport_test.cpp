#include "platform/ipc/socket_transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <set>

#include "core/common/error_blob.h"
#include "core/common/event.h"
#include "core/common/text_conversion.h"
#include "platform/ipc/server.h"
#include "platform/ipc/socket_io.h"
#include "platform/ipc/transport_test_support.h"
#include "testing/error_matchers.h"

namespace {

using IpcTesting::Completions;
using IpcTesting::ToBytes;
using ::testing::AllOf;
using Testing::CausedBy;
using Testing::ErrorIs;
using Testing::HasPosixCause;
using Testing::HasText;
using Testing::IsSuccessError;

constexpr int32_t kHub = 33;

// A server that knows alice (password "secret", service code 33 only) over the scripted handler.
class SocketRoad : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto authenticate = [](const Ipc::HelloRecord& hello) {
            return hello.user == "alice" && hello.password == "secret" && hello.serviceCode == kHub;
        };
        ASSERT_THAT(Ipc::Server::Start(Ipc::ServerOptions{"127.0.0.1", 0}, authenticate, m_handler, m_server),
                    IsSuccessError());
    }

    void TearDown() override
    {
        m_handler.release.Set();
        m_transport.reset();
        m_server.reset();
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(m_server->GetPort()); }

    Common::Error Connect(const char* user, const char* password, int32_t serviceCode = kHub)
    {
        return Ipc::SocketTransport::Connect(Host(), Ipc::HelloRecord{user, password, serviceCode}, m_transport);
    }

    std::string Exchange(const std::string& text)
    {
        Ipc::Bytes reply;
        EXPECT_THAT(m_transport->Exchange(ToBytes(text), reply), IsSuccessError());
        return std::string(reply.begin(), reply.end());
    }

    // A request of `size` bytes comes back as it went.
    void ExpectEchoed(size_t size)
    {
        Ipc::Bytes request(size);
        for (size_t i = 0; i < size; ++i)
            request[i] = static_cast<uint8_t>(i * 7 + size);
        Ipc::Bytes reply;
        ASSERT_THAT(m_transport->Exchange(request, reply), IsSuccessError());
        EXPECT_EQ(reply, request) << size << " bytes";
    }

    IpcTesting::ScriptedHandler m_handler;
    std::unique_ptr<Ipc::Server> m_server;
    std::unique_ptr<Ipc::SocketTransport> m_transport;
};

TEST_F(SocketRoad, RightPasswordConnectsAndTheHandlerSeesUserAndServiceCode)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    EXPECT_EQ(Exchange("hello"), "hello");
    const Ipc::CallContext context = m_handler.LastContext();
    EXPECT_EQ(context.user, "alice");
    EXPECT_EQ(context.serviceCode, kHub);
}

TEST_F(SocketRoad, WrongCredentialsAreRefused)
{
    EXPECT_THAT(
        Connect("alice", "Secret"),
        AllOf(ErrorIs(Ipc::kAuthenticationRefused), HasText(u"IPC: The service refused the user name or password.")));
    EXPECT_THAT(Connect("mallory", "secret"), ErrorIs(Ipc::kAuthenticationRefused));
    EXPECT_THAT(Connect("alice", "secret", 34), ErrorIs(Ipc::kAuthenticationRefused));
    EXPECT_EQ(m_transport, nullptr);
}

TEST_F(SocketRoad, PayloadsOfEverySizeRoundTrip)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    for (size_t size : {size_t{0}, size_t{1}, size_t{2000}, size_t{800 * 1000}, size_t{3} << 20})
        ExpectEchoed(size);
}

TEST_F(SocketRoad, TheServerHandsEachRequestOverAndReadsTheNextWhateverTheHandlerLeft)
{
    m_handler.takeRequests = true; // each request leaves the session's buffer empty, its memory gone
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    const size_t sizes[] = {size_t{3} << 20, 1, 0, 2000, size_t{800 * 1000}, 5};
    for (size_t size : sizes)
        ExpectEchoed(size);
    EXPECT_EQ(m_handler.handedOver, static_cast<int>(std::size(sizes)));
}

TEST_F(SocketRoad, HandlerFailuresArriveAsTheCallsError)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    Ipc::Bytes reply{'x'};
    EXPECT_THAT(m_transport->Exchange(ToBytes("fail"), reply),
                AllOf(ErrorIs(Ipc::kNotSupported), HasText(u"refused here")));
    EXPECT_TRUE(reply.empty());
    EXPECT_THAT(m_transport->Exchange(ToBytes("throw"), reply),
                AllOf(ErrorIs(Ipc::kNotSupported), HasText(u"thrown here")));
    EXPECT_EQ(Exchange("still there"), "still there");
}

TEST_F(SocketRoad, ReplyTooLargeForAFrameFailsThatCallOnly)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    Ipc::Bytes reply;
    EXPECT_THAT(m_transport->Exchange(ToBytes("huge"), reply),
                AllOf(ErrorIs(Ipc::kFrameTooLarge),
                      HasText(u"IPC: The reply of 67108865 bytes is larger than the frame limit of 67108864 bytes.")));
    EXPECT_EQ(Exchange("after"), "after");
}

TEST(SocketConnect, UnreachableOrBadHostFailsToConnect)
{
    Ipc::SocketHandle listener;
    uint16_t port = 0;
    ASSERT_THAT(Ipc::ListenTcp("127.0.0.1", 0, listener, port), IsSuccessError());
    listener.Reset(); // nobody listens there now

    std::unique_ptr<Ipc::SocketTransport> transport;
    const Common::Error refused = Ipc::SocketTransport::Connect("127.0.0.1:" + std::to_string(port), {"a", "b", 1},
                                                                transport);
    EXPECT_THAT(refused, AllOf(ErrorIs(Ipc::kConnectFailed), HasPosixCause(ECONNREFUSED)));
    EXPECT_STREQ(refused.GetTextParameter("host"), "127.0.0.1");
    EXPECT_EQ(refused.GetTextParameter("port"), std::to_string(port));
    const Common::Error unknown = Ipc::SocketTransport::Connect("no-such-host.invalid:4711", {"a", "b", 1}, transport);
    EXPECT_STREQ(unknown.GetTextParameter("host"), "no-such-host.invalid");
    EXPECT_STREQ(unknown.GetTextParameter("port"), "4711");
    EXPECT_THAT(Ipc::SocketTransport::Connect("127.0.0.1:0", {"a", "b", 1}, transport),
                AllOf(ErrorIs(Ipc::kConnectFailed), HasPosixCause(EINVAL)));
    EXPECT_THAT(Ipc::SocketTransport::Connect("no-such-host.invalid", {"a", "b", 1}, transport),
                AllOf(ErrorIs(Ipc::kConnectFailed), CausedBy(ErrorIs(Ipc::kHostLookupFailed))));
    EXPECT_EQ(transport, nullptr);
}

// A peer on a loopback port that answers the handshake with Welcome, reads
// `requests` request frames, then plays `script` on the socket and closes it.
class ScriptedPeer
{
public:
    ScriptedPeer(int requests, std::function<void(int fd)> script)
    {
        EXPECT_THAT(Ipc::ListenTcp("127.0.0.1", 0, m_listener, m_port), IsSuccessError());
        m_thread = std::thread([this, requests, script = std::move(script)] {
            Ipc::SocketHandle peer(accept(m_listener.Get(), nullptr, nullptr));
            Ipc::SocketSource source(peer.Get());
            Ipc::FrameHeader header{};
            Ipc::Bytes payload;
            if (!Ipc::ReadFrame(source, Ipc::kMaxHelloPayload, header, payload).IsSuccess() ||
                !Ipc::WriteFrame(peer.Get(), Ipc::FrameKind::Welcome, 0, {}).IsSuccess())
                return;
            for (int i = 0; i < requests; ++i) {
                if (!Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload).IsSuccess())
                    return;
                m_callIds.push_back(header.callId);
            }
            script(peer.Get());
        });
    }
    ~ScriptedPeer() { m_thread.join(); }

    std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
    uint16_t Port() const { return m_port; }
    // The call ids of the requests read; valid inside the script.
    const std::vector<uint64_t>& CallIds() const { return m_callIds; }

private:
    Ipc::SocketHandle m_listener;
    uint16_t m_port = 0;
    std::vector<uint64_t> m_callIds;
    std::thread m_thread;
};

void SendRaw(int fd, const Ipc::Bytes& bytes)
{
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

TEST(SocketPeerFaultsThreads, BrokenStreamsFailEveryPendingCallOnceWithTheCause)
{
    struct Case
    {
        const char* what;
        std::function<void(int fd, const std::vector<uint64_t>& ids)> script;
        unsigned cause; // 0: the loss itself is the whole error
    };
    const Case cases[] = {
        {"peer closes", [](int, const std::vector<uint64_t>&) {}, 0},
        {"garbage header", [](int fd, const std::vector<uint64_t>&) { SendRaw(fd, Ipc::Bytes(16, 0xEE)); },
         Ipc::kMalformedFrame},
        {"oversized reply",
         [](int fd, const std::vector<uint64_t>& ids) {
             uint8_t header[Ipc::kFrameHeaderSize];
             Ipc::EncodeFrameHeader({Ipc::FrameKind::Reply, ids[0], Ipc::kMaxFramePayload + 1}, header);
             SendRaw(fd, Ipc::Bytes(header, header + sizeof header));
         },
         Ipc::kFrameTooLarge},
        {"reply cut short",
         [](int fd, const std::vector<uint64_t>& ids) {
             uint8_t header[Ipc::kFrameHeaderSize];
             Ipc::EncodeFrameHeader({Ipc::FrameKind::Reply, ids[1], 100}, header);
             Ipc::Bytes bytes(header, header + sizeof header);
             bytes.resize(bytes.size() + 50, 'x');
             SendRaw(fd, bytes);
         },
         Ipc::kMalformedFrame},
        {"server-only frame kind",
         [](int fd, const std::vector<uint64_t>& ids) {
             ASSERT_THAT(Ipc::WriteFrame(fd, Ipc::FrameKind::Request, ids[0], {}), IsSuccessError());
         },
         Ipc::kMalformedFrame},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer* peerPointer = nullptr;
        ScriptedPeer peer(3, [&](int fd) { c.script(fd, peerPointer->CallIds()); });
        peerPointer = &peer;
        std::unique_ptr<Ipc::SocketTransport> transport;
        ASSERT_THAT(Ipc::SocketTransport::Connect(peer.Host(), {"a", "b", 1}, transport), IsSuccessError());

        Completions completions;
        auto first = transport->Start(ToBytes("one"), completions.For(1));
        auto second = transport->Start(ToBytes("two"), completions.For(2));
        Ipc::Bytes reply;
        const Common::Error third = transport->Exchange(ToBytes("three"), reply);
        ASSERT_TRUE(completions.WaitFor(2));

        std::vector<Common::Error> results{third};
        for (const auto& record : completions.Records())
            results.push_back(record.result);
        for (const Common::Error& result : results) {
            EXPECT_THAT(result, ErrorIs(Ipc::kConnectionLost));
            if (c.cause != 0) {
                EXPECT_THAT(result, CausedBy(ErrorIs(c.cause)));
            }
        }
        // A call after the loss fails at once, with the same reason.
        EXPECT_THAT(transport->Exchange(ToBytes("late"), reply), ErrorIs(Ipc::kConnectionLost));
        first->Cancel(); // after the completion: no second one
        transport.reset();
        EXPECT_EQ(completions.Records().size(), 2u);
    }
}

TEST(SocketPeerFaults, FailureThatReadsAsSuccessIsNotTakenForOne)
{
    ScriptedPeer* peerPointer = nullptr;
    ScriptedPeer peer(1, [&](int fd) {
        const uint8_t successBlob = 1;
        ASSERT_THAT(
            Ipc::WriteFrame(fd, Ipc::FrameKind::Failure, peerPointer->CallIds()[0], Ipc::ByteView(&successBlob, 1)),
            IsSuccessError());
    });
    peerPointer = &peer;
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Ipc::SocketTransport::Connect(peer.Host(), {"a", "b", 1}, transport), IsSuccessError());
    Ipc::Bytes reply;
    EXPECT_THAT(transport->Exchange(ToBytes("x"), reply), ErrorIs(Ipc::kMalformedFrame));
}

TEST(SocketPeerFaults, PeerThatAnswersTheHandshakeWithSomethingElseIsRefused)
{
    Ipc::SocketHandle listener;
    uint16_t port = 0;
    ASSERT_THAT(Ipc::ListenTcp("127.0.0.1", 0, listener, port), IsSuccessError());
    std::thread peer([&] {
        Ipc::SocketHandle socket(accept(listener.Get(), nullptr, nullptr));
        ASSERT_THAT(Ipc::WriteFrame(socket.Get(), Ipc::FrameKind::Reply, 0, {}), IsSuccessError());
    });
    std::unique_ptr<Ipc::SocketTransport> transport;
    EXPECT_THAT(Ipc::SocketTransport::Connect("127.0.0.1:" + std::to_string(port), {"a", "b", 1}, transport),
                ErrorIs(Ipc::kMalformedFrame));
    peer.join();
}

// A service on a loopback port that reads the Hello of each connection and
// answers the n-th with the n-th of `answers` (the last one for all later
// ones), then closes it. Counts the connections.
class ScriptedLogins
{
public:
    using Answer = std::function<void(int fd)>;

    explicit ScriptedLogins(std::vector<Answer> answers) : m_answers(std::move(answers))
    {
        EXPECT_THAT(Ipc::ListenTcp("127.0.0.1", 0, m_listener, m_port), IsSuccessError());
        m_thread = std::thread([this] {
            for (;;) {
                Ipc::SocketHandle peer(accept(m_listener.Get(), nullptr, nullptr));
                if (peer.Get() < 0)
                    return; // the listener was shut
                const size_t index = std::min<size_t>(m_logins++, m_answers.size() - 1);
                Ipc::SocketSource source(peer.Get());
                source.SetDeadline(Ipc::Clock::now() + std::chrono::seconds(10));
                Ipc::FrameHeader header{};
                Ipc::Bytes payload;
                if (Ipc::ReadFrame(source, Ipc::kMaxHelloPayload, header, payload).IsSuccess() &&
                    header.kind == Ipc::FrameKind::Hello)
                    m_answers[index](peer.Get());
            }
        });
    }
    ~ScriptedLogins()
    {
        (void)shutdown(m_listener.Get(), SHUT_RDWR); // ends the waiting accept
        m_thread.join();
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
    uint16_t Port() const { return m_port; }
    // Connections taken so far; each Connect attempt reaches the answer before it returns.
    int Logins() const { return m_logins; }

    static Answer Send(Ipc::FrameKind kind, Ipc::Bytes payload = {})
    {
        return [kind, payload](int fd) { EXPECT_THAT(Ipc::WriteFrame(fd, kind, 0, payload), IsSuccessError()); };
    }
    static Answer SendBytes(Ipc::Bytes bytes)
    {
        return [bytes](int fd) { SendRaw(fd, bytes); };
    }
    // Answers nothing until the client gives up and closes.
    static Answer Silence()
    {
        return [](int fd) { EXPECT_TRUE(IpcTesting::EndsWithin(fd, 10000)); };
    }

private:
    std::vector<Answer> m_answers;
    Ipc::SocketHandle m_listener;
    uint16_t m_port = 0;
    std::atomic<int> m_logins{0};
    std::thread m_thread;
};

Ipc::Bytes BlobOf(const Common::Error& error)
{
    uint32_t size = 0;
    std::unique_ptr<unsigned char[]> blob(Common::SerializeError(error, size));
    return Ipc::Bytes(blob.get(), blob.get() + size);
}

// Waits of milliseconds, so that a test of the retries takes little time.
Ipc::ConnectOptions QuickRetries(int retryMilliseconds)
{
    Ipc::ConnectOptions options;
    options.busyRetryMilliseconds = retryMilliseconds;
    options.firstRetryDelayMilliseconds = 2;
    options.maxRetryDelayMilliseconds = 8;
    return options;
}

using Answers = std::vector<ScriptedLogins::Answer>;

TEST(SocketLoginRetries, BusyAnswersAreTriedAgainOnNewConnectionsUntilAWelcome)
{
    const auto busy = ScriptedLogins::Send(Ipc::FrameKind::Busy);
    ScriptedLogins service(Answers{busy, busy, busy, busy, ScriptedLogins::Send(Ipc::FrameKind::Welcome)});
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Ipc::SocketTransport::Connect(service.Host(), {"a", "b", 1}, QuickRetries(20000), transport),
                IsSuccessError());
    EXPECT_NE(transport, nullptr);
    EXPECT_EQ(service.Logins(), 5);
}

TEST(SocketLoginRetries, ALoginOverTheUsersSessionLimitIsTriedAgainAndItsReasonGivenWhenTheTimeIsOver)
{
    const auto limit = ScriptedLogins::Send(Ipc::FrameKind::Failure,
                                            BlobOf(Ipc::MakeSessionLimitError(16, Common::NoLocation)));
    {
        ScriptedLogins service(Answers{limit, limit, ScriptedLogins::Send(Ipc::FrameKind::Welcome)});
        std::unique_ptr<Ipc::SocketTransport> transport;
        ASSERT_THAT(Ipc::SocketTransport::Connect(service.Host(), {"a", "b", 1}, QuickRetries(20000), transport),
                    IsSuccessError());
        EXPECT_EQ(service.Logins(), 3);
    }
    ScriptedLogins service(Answers{limit});
    std::unique_ptr<Ipc::SocketTransport> transport;
    EXPECT_THAT(Ipc::SocketTransport::Connect(service.Host(), {"a", "b", 1}, QuickRetries(100), transport),
                AllOf(ErrorIs(Ipc::kSessionLimit),
                      HasText(u"IPC: The user has as many sessions open as the service allows (16); close one and "
                              u"try again.")));
    EXPECT_GE(service.Logins(), 2);
    EXPECT_EQ(transport, nullptr);
}

TEST(SocketLoginRetries, AServiceThatStaysBusyIsGivenUpAfterTheTimeForRetries)
{
    ScriptedLogins service(Answers{ScriptedLogins::Send(Ipc::FrameKind::Busy)});
    Ipc::ConnectOptions options;
    options.busyRetryMilliseconds = 300;
    options.firstRetryDelayMilliseconds = 10;
    options.maxRetryDelayMilliseconds = 40;
    std::unique_ptr<Ipc::SocketTransport> transport;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THAT(Ipc::SocketTransport::Connect(service.Host(), {"a", "b", 1}, options, transport),
                AllOf(ErrorIs(Ipc::kServiceBusy), HasText(u"IPC: The service is busy; try again later.")));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(options.busyRetryMilliseconds));
    EXPECT_EQ(transport, nullptr);
    // Each wait lasts at least half its delay (which doubles from 10 ms up to
    // 40 ms) except the last one, cut to the end of the time for retries.
    int mostWaits = 1;
    for (int delay = options.firstRetryDelayMilliseconds, waited = delay / 2; waited <= options.busyRetryMilliseconds;
         delay = std::min(delay * 2, options.maxRetryDelayMilliseconds), waited += delay / 2)
        ++mostWaits;
    EXPECT_GE(service.Logins(), 2);
    EXPECT_LE(service.Logins(), mostWaits + 1);
}

TEST(SocketLoginRetries, AWaitLongerThanTheTimeLeftIsCutToIt)
{
    ScriptedLogins service(Answers{ScriptedLogins::Send(Ipc::FrameKind::Busy)});
    Ipc::ConnectOptions options;
    options.busyRetryMilliseconds = 300;
    options.firstRetryDelayMilliseconds = 60000; // a wait of 30 s at least, were it not cut
    options.maxRetryDelayMilliseconds = 60000;
    std::unique_ptr<Ipc::SocketTransport> transport;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THAT(Ipc::SocketTransport::Connect(service.Host(), {"a", "b", 1}, options, transport),
                ErrorIs(Ipc::kServiceBusy));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(service.Logins(), 2); // the first attempt and the one at the end of the time for retries
}

TEST(SocketLoginRetries, NoneButBusyIsTriedAgain)
{
    Common::Error turnedDown(0xAD01F0, "IPC: alice has too many sessions.", Common::NoLocation);
    turnedDown.AddPosixError(EUSERS);
    Ipc::Bytes cutBlob = BlobOf(turnedDown);
    cutBlob.resize(cutBlob.size() - 3); // the cause cut short
    struct Case
    {
        const char* what;
        ScriptedLogins::Answer answer;
        unsigned code;
    };
    const Case cases[] = {
        {"refused", ScriptedLogins::Send(Ipc::FrameKind::Refused), Ipc::kAuthenticationRefused},
        {"failure", ScriptedLogins::Send(Ipc::FrameKind::Failure, BlobOf(turnedDown)), 0xAD01F0},
        {"failure whose blob is cut", ScriptedLogins::Send(Ipc::FrameKind::Failure, cutBlob), Ipc::kMalformedFrame},
        {"failure of garbage", ScriptedLogins::Send(Ipc::FrameKind::Failure, Ipc::Bytes(40, 0xC3)),
         Ipc::kMalformedFrame},
        {"a reply", ScriptedLogins::Send(Ipc::FrameKind::Reply), Ipc::kMalformedFrame},
        {"garbage header", ScriptedLogins::SendBytes(Ipc::Bytes(16, 0xEE)), Ipc::kMalformedFrame},
        {"closed without a word", [](int) {}, Ipc::kConnectionLost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A second attempt would be welcome.
        ScriptedLogins service(Answers{c.answer, ScriptedLogins::Send(Ipc::FrameKind::Welcome)});
        std::unique_ptr<Ipc::SocketTransport> transport;
        const Common::Error error = Ipc::SocketTransport::Connect(service.Host(), {"a", "b", 1}, QuickRetries(20000),
                                                                  transport);
        EXPECT_THAT(error, ErrorIs(c.code));
        EXPECT_EQ(service.Logins(), 1);
        EXPECT_EQ(transport, nullptr);
        if (c.code == 0xAD01F0) {
            EXPECT_THAT(error, AllOf(HasText(u"IPC: alice has too many sessions."), HasPosixCause(EUSERS)));
        }
    }
}

TEST(SocketLoginRetries, AServiceThatNeverAnswersTheLoginIsNamedWithTheTimeWaited)
{
    ScriptedLogins service(Answers{ScriptedLogins::Silence(), ScriptedLogins::Send(Ipc::FrameKind::Welcome)});
    Ipc::ConnectOptions options = QuickRetries(20000);
    options.handshakeMilliseconds = 250;
    std::unique_ptr<Ipc::SocketTransport> transport;
    const Common::Error error = Ipc::SocketTransport::Connect(service.Host(), {"a", "b", 1}, options, transport);
    const std::string port = std::to_string(service.Port());
    EXPECT_THAT(
        error,
        AllOf(ErrorIs(Ipc::kConnectFailed),
              HasText(Common::FromUtf8(
                  ("IPC: The service at 127.0.0.1:" + port + " did not answer the login within 0.25 s.").c_str())),
              CausedBy(ErrorIs(Ipc::kConnectionLost)), HasPosixCause(ETIMEDOUT)));
    EXPECT_STREQ(error.GetTextParameter("host"), "127.0.0.1");
    EXPECT_STREQ(error.GetTextParameter("port"), port.c_str());
    EXPECT_EQ(service.Logins(), 1); // not tried again
}

TEST(SocketLoginRetries, TheWholeSecondsOfTheRealWaitAreNamedWithoutAFraction)
{
    const Common::Error error = Ipc::MakeLoginUnansweredError("::1", 47806, Ipc::kHandshakeTimeoutMilliseconds,
                                                              Common::NoLocation);
    EXPECT_THAT(error, HasText(u"IPC: The service at [::1]:47806 did not answer the login within 30 s."));
    EXPECT_STREQ(error.GetTextParameter("host"), "::1");
}

// The descriptor of this process's TCP socket whose peer is the loopback `port`, or -1.
int SocketConnectedTo(uint16_t port)
{
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 && address.sin_family == AF_INET &&
            ntohs(address.sin_port) == port)
            return fd;
    }
    return -1;
}

TEST(SocketConnectThreads, TheClientSocketWatchesForAVanishedHost)
{
    Common::Event checked{true, false};
    ScriptedPeer peer(0, [&](int) { (void)checked.TimedWait(10000); });
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Ipc::SocketTransport::Connect(peer.Host(), {"a", "b", 1}, transport), IsSuccessError());
    const int fd = SocketConnectedTo(peer.Port());
    ASSERT_GE(fd, 0);
    const auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        EXPECT_EQ(getsockopt(fd, level, name, &value, &size), 0);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), Ipc::kClientKeepalive.idleSeconds);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), Ipc::kClientKeepalive.intervalSeconds);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), Ipc::kClientKeepalive.count);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT),
              static_cast<int>(Ipc::kClientKeepalive.unacknowledgedMilliseconds));
    // Far below the system's default idle of two hours.
    EXPECT_LE(Ipc::kClientKeepalive.idleSeconds + Ipc::kClientKeepalive.intervalSeconds * Ipc::kClientKeepalive.count,
              300);
    checked.Set();
}

class SocketRoadThreads : public SocketRoad
{
};

TEST_F(SocketRoadThreads, HundredStartedCallsCompleteOnceEachOffTheCallersThread)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    Completions completions;
    std::vector<std::shared_ptr<Ipc::CallHandle>> calls;
    for (int i = 0; i < 100; ++i)
        calls.push_back(m_transport->Start(ToBytes("call " + std::to_string(i)), completions.For(i)));
    ASSERT_TRUE(completions.WaitFor(100));
    EXPECT_EQ(Exchange("fence"), "fence"); // every reply of the 100 was read before this one
    for (auto& call : calls)
        call->Cancel(); // completed already: nothing more

    const auto records = completions.Records();
    ASSERT_EQ(records.size(), 100u);
    std::set<int> ids;
    for (const auto& record : records) {
        EXPECT_THAT(record.result, IsSuccessError());
        EXPECT_EQ(record.reply, "call " + std::to_string(record.id));
        EXPECT_NE(record.thread, std::this_thread::get_id());
        ids.insert(record.id);
    }
    EXPECT_EQ(ids.size(), 100u);
}

TEST_F(SocketRoadThreads, CancelOfAStalledCallCompletesPromptlyAndItsLateReplyIsDropped)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    Completions completions;
    auto call = m_transport->Start(ToBytes("stall"), completions.For(1));
    ASSERT_TRUE(m_handler.entered.TimedWait(10000));

    const auto before = std::chrono::steady_clock::now();
    call->Cancel();
    ASSERT_TRUE(completions.WaitFor(1, std::chrono::milliseconds(1000)));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
    call->Cancel();

    m_handler.release.Set(); // the late reply comes now, before the next one
    EXPECT_EQ(Exchange("next"), "next");
    const auto records = completions.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THAT(records[0].result, AllOf(ErrorIs(Ipc::kCallCanceled), HasText(u"IPC: The call was canceled.")));
    EXPECT_EQ(records[0].reply, "");
}

TEST_F(SocketRoadThreads, SynchronousCallFromInsideACompletionDoesNotDeadlock)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    Completions completions;
    auto outer = m_transport->Start(ToBytes("outer"), [&](const Common::Error&, Ipc::Bytes&&) {
        Ipc::Bytes reply;
        Common::Error result = m_transport->Exchange(ToBytes("inner"), reply);
        completions.Add({1, result, std::string(reply.begin(), reply.end()), std::this_thread::get_id()});
    });
    ASSERT_TRUE(completions.WaitFor(1));
    EXPECT_THAT(completions.Records()[0].result, IsSuccessError());
    EXPECT_EQ(completions.Records()[0].reply, "inner");
}

TEST_F(SocketRoadThreads, ClosingTheTransportFailsItsPendingCallsOnce)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    Completions completions;
    auto stalled = m_transport->Start(ToBytes("stall"), completions.For(1));
    auto queued = m_transport->Start(ToBytes("behind the stalled one"), completions.For(2));
    ASSERT_TRUE(m_handler.entered.TimedWait(10000));
    m_transport.reset();
    ASSERT_TRUE(completions.WaitFor(2));
    for (const auto& record : completions.Records())
        EXPECT_THAT(record.result, ErrorIs(Ipc::kConnectionLost));
    stalled->Cancel(); // the transport is gone; the call completed already
    m_handler.release.Set();
    m_server->Stop();
    EXPECT_EQ(completions.Records().size(), 2u);
}

TEST_F(SocketRoadThreads, CallsFromManyThreadsGetTheirOwnReplies)
{
    ASSERT_THAT(Connect("alice", "secret"), IsSuccessError());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const std::string text = std::to_string(t) + "/" + std::to_string(i) + std::string(t * 1000, '.');
                Ipc::Bytes reply;
                if (!m_transport->Exchange(ToBytes(text), reply).IsSuccess() ||
                    std::string(reply.begin(), reply.end()) != text)
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A server that welcomes everyone, with the given limits.
class ServerLimits : public ::testing::Test
{
protected:
    void Start(size_t maxConnections, int handshakeMilliseconds)
    {
        Ipc::ServerOptions options{"127.0.0.1", 0};
        options.maxConnections = maxConnections;
        options.handshakeMilliseconds = handshakeMilliseconds;
        ASSERT_THAT(Ipc::Server::Start(
                        options, [](const Ipc::HelloRecord&) { return true; }, m_handler, m_server),
                    IsSuccessError());
    }

    Ipc::SocketHandle ConnectRaw() { return IpcTesting::ConnectRaw(m_server->GetPort()); }

    std::string Host() const { return "127.0.0.1:" + std::to_string(m_server->GetPort()); }

    IpcTesting::ScriptedHandler m_handler;
    std::unique_ptr<Ipc::Server> m_server;
};

TEST_F(ServerLimits, LoginsOverTheCapAreAnsweredBusyAndTheirPlacesComeBack)
{
    Start(2, 30000);
    Ipc::FrameKind answer{};
    Ipc::SocketHandle first = IpcTesting::HandshakeRaw(m_server->GetPort(), {"alice", "secret", kHub}, answer);
    ASSERT_EQ(answer, Ipc::FrameKind::Welcome);
    std::unique_ptr<Ipc::SocketTransport> second;
    ASSERT_THAT(Ipc::SocketTransport::Connect(Host(), {"alice", "secret", kHub}, second), IsSuccessError());
    std::unique_ptr<Ipc::SocketTransport> third;
    Ipc::ConnectOptions once;
    once.busyRetryMilliseconds = 0;
    EXPECT_THAT(Ipc::SocketTransport::Connect(Host(), {"alice", "secret", kHub}, once, third),
                AllOf(ErrorIs(Ipc::kServiceBusy), HasText(u"IPC: The service is busy; try again later.")));

    ASSERT_EQ(shutdown(first.Get(), SHUT_WR), 0);
    ASSERT_TRUE(IpcTesting::EndsWithin(first.Get(), 5000));
    EXPECT_THAT(Ipc::SocketTransport::Connect(Host(), {"alice", "secret", kHub}, third), IsSuccessError());
}

TEST_F(ServerLimits, HandshakeTrickledByteByByteIsCutAtItsDeadline)
{
    Start(8, 300);
    Ipc::Bytes hello;
    ASSERT_THAT(Ipc::EncodeHello({"alice", std::string(1000, 'p'), kHub}, hello), IsSuccessError());
    uint8_t header[Ipc::kFrameHeaderSize];
    Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Hello, 0, static_cast<uint32_t>(hello.size())}, header);
    hello.insert(hello.begin(), header, header + sizeof header);

    Ipc::SocketHandle peer = ConnectRaw();
    const auto started = std::chrono::steady_clock::now();
    bool ended = false;
    for (size_t i = 0; i < 100 && !ended; ++i) { // one byte each 50 ms: far below any per-receive limit
        if (send(peer.Get(), &hello[i], 1, MSG_NOSIGNAL) != 1)
            break;
        ended = IpcTesting::EndsWithin(peer.Get(), 50);
    }
    EXPECT_TRUE(ended || IpcTesting::EndsWithin(peer.Get(), 0));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

} // namespace
