// The server's stages under hostile and heavy load, over real loopback sockets.

#include "platform/ipc/server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/common/error_blob.h"
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
const Ipc::HelloRecord kBob{"bob", "hunter2", kHub};

bool IsAlice(const Ipc::HelloRecord& hello)
{
    return hello.user == "alice" && hello.password == "secret";
}

// The users the authenticators below know: alice and bob.
bool IsKnown(const std::string& user)
{
    return user == "alice" || user == "bob";
}

bool IsRight(const Ipc::HelloRecord& hello)
{
    return IsAlice(hello) || (hello.user == kBob.user && hello.password == kBob.password);
}

// True when `condition` holds within 10 s, looked at every millisecond.
bool Eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

Ipc::SocketHandle SendHello(uint16_t port, const Ipc::HelloRecord& hello)
{
    Ipc::SocketHandle socket = IpcTesting::TrySendHello(port, hello);
    EXPECT_GE(socket.Get(), 0) << "cannot send the Hello of " << hello.user;
    return socket;
}

// The kind of the answer that `socket` receives within `limit` (Hello when none came).
Ipc::FrameKind ReadAnswer(const Ipc::SocketHandle& socket, std::chrono::milliseconds limit = 10s)
{
    Ipc::SocketSource source(socket.Get());
    source.SetDeadline(Ipc::Clock::now() + limit);
    Ipc::FrameHeader header{};
    return Ipc::ReadFrameHeader(source, 0, header).IsSuccess() ? header.kind : Ipc::FrameKind::Hello;
}

// True when something (an answer, or the end) waits on `socket` now.
bool HasAnswer(const Ipc::SocketHandle& socket)
{
    pollfd wait{socket.Get(), POLLIN, 0};
    return poll(&wait, 1, 0) == 1;
}

// Records what each login report was told.
class LoginReports
{
public:
    Ipc::LoginReport Reporter()
    {
        return [this](const std::string& user, const std::string& peer) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_users.push_back(user);
            m_peers.push_back(peer);
        };
    }

    std::vector<std::string> Users()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_users;
    }

    std::vector<std::string> Peers()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_peers;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_users;
    std::vector<std::string> m_peers;
};

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
        m_users.push_back(hello.user);
        return IsRight(hello);
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

    // The users of the checks done, in their order.
    std::vector<std::string> Users()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_users;
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
    std::vector<std::string> m_users;
};

// An authenticator whose every check takes `cost`, as a password hash does,
// and that records when each check of which user ran.
class TimedChecks
{
public:
    struct Call
    {
        std::string user;
        std::chrono::steady_clock::time_point start;
        std::chrono::steady_clock::time_point end;
    };

    explicit TimedChecks(std::chrono::milliseconds cost) : m_cost(cost) {}

    Ipc::Authenticator Authenticator()
    {
        return [this](const Ipc::HelloRecord& hello) {
            Call call{hello.user, std::chrono::steady_clock::now(), {}};
            std::this_thread::sleep_for(m_cost); // the work of a hash
            call.end = std::chrono::steady_clock::now();
            std::lock_guard<std::mutex> guard(m_lock);
            m_calls.push_back(call);
            return IsRight(hello);
        };
    }

    std::vector<Call> Calls()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls;
    }

    size_t Count()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls.size();
    }

private:
    const std::chrono::milliseconds m_cost;
    std::mutex m_lock;
    std::vector<Call> m_calls;
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

TEST_F(ServerStagesThreads, AHelloWaitingBehindChecksPastTheHandshakeDeadlineIsStillChecked)
{
    Ipc::ServerOptions options;
    options.maxParallelChecks = 1;
    options.handshakeMilliseconds = 300;
    Start(options, m_checks.Authenticator());
    Ipc::SocketHandle first = SendHello(Port(), kAlice);
    ASSERT_TRUE(m_checks.WaitForInside(1));
    Ipc::SocketHandle second = SendHello(Port(), kBob);
    ASSERT_TRUE(Eventually([&] { return m_server->GetQueuedChecks() == 1; }));
    // The second Hello came whole in time; its check waits far past the handshake deadline.
    LetTimePass(1000ms);
    EXPECT_FALSE(HasAnswer(second));
    m_checks.Release();
    EXPECT_EQ(ReadAnswer(first), Ipc::FrameKind::Welcome);
    EXPECT_EQ(ReadAnswer(second), Ipc::FrameKind::Welcome);
}

// The server's login stages under floods of failing logins.
class ServerLoginsThreads : public ServerStagesThreads
{
};

TEST_F(ServerLoginsThreads, AFloodOfFailingLoginsDoesNotKeepOutAnotherUser)
{
    struct Case
    {
        const char* name;
        int penaltyMilliseconds;
    };
    // The turns alone keep the flood from the other user; the penalty also slows the flood's checks.
    const Case cases[] = {{"with the default penalty", Ipc::ServerOptions().failurePenaltyMilliseconds},
                          {"by turns alone", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimedChecks checks(30ms);
        Ipc::ServerOptions options;
        options.maxParallelChecks = 1;
        options.failurePenaltyMilliseconds = c.penaltyMilliseconds;
        options.isKnownUser = IsKnown;
        Start(options, checks.Authenticator());
        // Wrong passwords for bob and made-up names, each Hello sent again as soon as it is answered.
        IpcTesting::Flood flood(Port(), 128, [](size_t connection, uint64_t count) {
            return connection % 2 == 0 ? Ipc::HelloRecord{"bob", "guess-" + std::to_string(count), kHub}
                                       : Ipc::HelloRecord{"intruder-" + std::to_string(count), "guess", kHub};
        });
        ASSERT_TRUE(Eventually([&] { return flood.Answers() >= 64 && checks.Count() >= 2; }));
        for (int login = 0; login < 20; ++login) {
            const size_t checksBefore = checks.Count();
            const auto started = std::chrono::steady_clock::now();
            Ipc::SocketHandle session = SendHello(Port(), kAlice);
            EXPECT_EQ(ReadAnswer(session, 15s), Ipc::FrameKind::Welcome) << "login " << login;
            EXPECT_LT(std::chrono::steady_clock::now() - started, 15s) << "login " << login;
            // Alice waits at most for the check under way and one of each user before her.
            EXPECT_LE(checks.Count() - checksBefore, 8u) << "login " << login;
        }
        flood.Stop();
        m_server.reset(); // before `checks`
    }
}

TEST_F(ServerLoginsThreads, AnUnknownNameIsCheckedAndRefusedAsAWrongPasswordIs)
{
    TimedChecks checks(0ms);
    LoginReports refused;
    Ipc::ServerOptions options;
    options.isKnownUser = IsKnown;
    options.loginRefused = refused.Reporter();
    Start(options, checks.Authenticator());
    for (const Ipc::HelloRecord& hello :
         {Ipc::HelloRecord{"bob", "wrong", kHub}, Ipc::HelloRecord{"zed", "wrong", kHub}}) {
        Ipc::SocketHandle socket = SendHello(Port(), hello);
        EXPECT_EQ(ReadAnswer(socket), Ipc::FrameKind::Refused) << hello.user;
    }
    // Both cost a check: the time of the answer does not tell a known name.
    std::vector<std::string> checked;
    for (const TimedChecks::Call& call : checks.Calls())
        checked.push_back(call.user);
    EXPECT_EQ(checked, (std::vector<std::string>{"bob", "zed"}));
    EXPECT_EQ(refused.Users(), (std::vector<std::string>{"bob", "zed"}));
}

TEST_F(ServerLoginsThreads, AUserOverItsPlacesOrAFullQueuePushesOutTheOldestHelloOfTheLargestUser)
{
    struct Case
    {
        const char* name;
        size_t perUser;
        size_t inAll;
        std::vector<Ipc::HelloRecord> hellos; // sent in this order behind a held check
    };
    const Ipc::HelloRecord carol{"carol", "x", kHub};
    const Ipc::HelloRecord dave{"dave", "x", kHub};
    const Ipc::HelloRecord bob{"bob", "wrong", kHub};
    // Each time, the first Hello of bob (the second sent) is pushed out by the last one sent, and only it.
    const Case cases[] = {
        {"bob over his own places", 2, 64, {carol, bob, bob, bob}},
        {"the queue full: bob has the most", 8, 4, {carol, bob, bob, bob, dave}},
        {"the queue full: bob has as many as carol, and waited longer", 8, 4, {dave, bob, carol, bob, carol}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeldChecks held;
        LoginReports busy;
        Ipc::ServerOptions options;
        options.maxParallelChecks = 1;
        options.maxQueuedChecksPerUser = c.perUser;
        options.maxQueuedChecks = c.inAll;
        options.failurePenaltyMilliseconds = 0;
        options.loginBusy = busy.Reporter();
        Start(options, held.Authenticator());
        Ipc::SocketHandle first = SendHello(Port(), kAlice);
        ASSERT_TRUE(held.WaitForInside(1));
        std::vector<Ipc::SocketHandle> sent;
        for (size_t i = 0; i < c.hellos.size(); ++i) {
            sent.push_back(SendHello(Port(), c.hellos[i]));
            const size_t waiting = i + 1 < c.hellos.size() ? i + 1 : i; // the last one pushes one out
            ASSERT_TRUE(Eventually([&] { return m_server->GetQueuedChecks() == waiting; })) << "Hello " << i;
        }
        EXPECT_EQ(ReadAnswer(sent[1]), Ipc::FrameKind::Busy);
        EXPECT_EQ(busy.Users(), std::vector<std::string>{"bob"});
        std::vector<Ipc::SocketHandle> others;
        for (size_t i = 0; i < sent.size(); ++i) {
            if (i != 1)
                others.push_back(std::move(sent[i]));
        }
        for (const Ipc::SocketHandle& other : others)
            EXPECT_FALSE(HasAnswer(other));
        held.Release();
        EXPECT_EQ(ReadAnswer(first), Ipc::FrameKind::Welcome);
        for (const Ipc::SocketHandle& other : others)
            EXPECT_EQ(ReadAnswer(other), Ipc::FrameKind::Refused);
        m_server.reset(); // before `held`
    }
}

TEST_F(ServerLoginsThreads, AHelloWhosePeerHungUpWhileItWaitedCostsNoCheck)
{
    Ipc::ServerOptions options;
    options.maxParallelChecks = 1;
    Start(options, m_checks.Authenticator());
    Ipc::SocketHandle first = SendHello(Port(), kAlice);
    ASSERT_TRUE(m_checks.WaitForInside(1));
    {
        Ipc::SocketHandle gone = SendHello(Port(), {"carol", "x", kHub});
        ASSERT_TRUE(Eventually([&] { return m_server->GetQueuedChecks() == 1; }));
    }
    m_checks.Release();
    EXPECT_EQ(ReadAnswer(first), Ipc::FrameKind::Welcome);
    Ipc::SocketHandle next = SendHello(Port(), kBob);
    EXPECT_EQ(ReadAnswer(next), Ipc::FrameKind::Welcome);
    EXPECT_EQ(m_checks.Users(), (std::vector<std::string>{"alice", "bob"}));
}

TEST_F(ServerLoginsThreads, ASessionOverTheUsersLimitIsRefusedWithTheReasonOnceItsPasswordPassed)
{
    LoginReports limited;
    LoginReports refused;
    Ipc::ServerOptions options;
    options.maxSessionsPerUser = 2;
    options.loginOverSessionLimit = limited.Reporter();
    options.loginRefused = refused.Reporter();
    Start(options, IsRight);
    std::vector<Ipc::SocketHandle> sessions;
    for (int i = 0; i < 2; ++i) {
        sessions.push_back(SendHello(Port(), kAlice));
        ASSERT_EQ(ReadAnswer(sessions.back()), Ipc::FrameKind::Welcome);
    }
    // A wrong password learns nothing of the sessions.
    Ipc::SocketHandle wrong = SendHello(Port(), {"alice", "wrong", kHub});
    EXPECT_EQ(ReadAnswer(wrong), Ipc::FrameKind::Refused);

    Ipc::SocketHandle third = SendHello(Port(), kAlice);
    Ipc::SocketSource source(third.Get());
    source.SetDeadline(Ipc::Clock::now() + 10s);
    Ipc::FrameHeader header{};
    Ipc::Bytes blob;
    ASSERT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, blob), IsSuccessError());
    EXPECT_EQ(header.kind, Ipc::FrameKind::Failure);
    EXPECT_EQ(header.callId, 0u);
    EXPECT_THAT(Common::DeserializeError(blob.data(), static_cast<uint32_t>(blob.size())),
                AllOf(ErrorIs(Ipc::kSessionLimit),
                      HasText(u"IPC: The user has as many sessions open as the service allows (2); close one and "
                              u"try again.")));
    EXPECT_TRUE(EndsWithin(third.Get(), 5000));
    EXPECT_EQ(limited.Users(), std::vector<std::string>{"alice"});
    ASSERT_EQ(limited.Peers().size(), 1u);
    EXPECT_THAT(limited.Peers()[0], ::testing::StartsWith("127.0.0.1:"));
    EXPECT_EQ(refused.Users(), std::vector<std::string>{"alice"});

    // Another user still logs in, and a place of alice's comes back once a session of hers ended.
    Ipc::SocketHandle bob = SendHello(Port(), kBob);
    EXPECT_EQ(ReadAnswer(bob), Ipc::FrameKind::Welcome);
    ASSERT_EQ(shutdown(sessions[0].Get(), SHUT_WR), 0);
    ASSERT_TRUE(EndsWithin(sessions[0].Get(), 5000));
    Ipc::SocketHandle again = SendHello(Port(), kAlice);
    EXPECT_EQ(ReadAnswer(again), Ipc::FrameKind::Welcome);
}

TEST_F(ServerLoginsThreads, AFailedCheckDelaysThatUsersNextCheckByAPenaltyThatGrowsIsBoundedAndFades)
{
    enum class Login
    {
        Wrong,
        Right,
        WrongAfterAPause, // once the half-life has passed twice
    };
    struct Case
    {
        const char* name;
        int halfLifeMilliseconds;
        std::vector<Login> logins; // bob's, one after the other
        // Per login: the least and the most milliseconds from the end of the check before to the start of its own.
        std::vector<std::pair<int, int>> gaps;
    };
    constexpr int kStep = 100;
    constexpr int kMost = 400;
    constexpr int kAny = 100000;
    const Case cases[] = {
        {"doubles up to its bound",
         600000,
         {Login::Wrong, Login::Wrong, Login::Wrong, Login::Wrong, Login::Wrong},
         {{0, kAny}, {kStep, kAny}, {2 * kStep, kAny}, {kMost, 2 * kMost}, {kMost, 2 * kMost}}},
        {"a passing check forgets the failures",
         600000,
         {Login::Wrong, Login::Wrong, Login::Right, Login::Wrong, Login::Wrong},
         {{0, kAny}, {kStep, kAny}, {2 * kStep, kAny}, {0, kAny}, {kStep, kMost}}},
        {"failures halve with time",
         300,
         {Login::Wrong, Login::Wrong, Login::WrongAfterAPause, Login::Wrong},
         {{0, kAny}, {kStep, kAny}, {0, kAny}, {kStep, kMost}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimedChecks checks(0ms);
        Ipc::ServerOptions options;
        options.maxParallelChecks = 1;
        options.failurePenaltyMilliseconds = kStep;
        options.maxFailurePenaltyMilliseconds = kMost;
        options.failureHalfLifeMilliseconds = c.halfLifeMilliseconds;
        Start(options, checks.Authenticator());
        for (Login login : c.logins) {
            if (login == Login::WrongAfterAPause)
                LetTimePass(std::chrono::milliseconds(2 * c.halfLifeMilliseconds + 100));
            Ipc::SocketHandle socket = SendHello(Port(), {"bob", login == Login::Right ? "hunter2" : "wrong", kHub});
            EXPECT_EQ(ReadAnswer(socket), login == Login::Right ? Ipc::FrameKind::Welcome : Ipc::FrameKind::Refused);
        }
        const std::vector<TimedChecks::Call> calls = checks.Calls();
        ASSERT_EQ(calls.size(), c.logins.size());
        for (size_t i = 1; i < calls.size(); ++i) {
            const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(calls[i].start - calls[i - 1].end);
            EXPECT_GE(gap.count(), c.gaps[i].first) << "login " << i;
            EXPECT_LT(gap.count(), c.gaps[i].second) << "login " << i;
        }
        m_server.reset(); // before `checks`
    }
}

TEST_F(ServerLoginsThreads, AnotherUserIsCheckedWhileAFailedUserWaitsForItsPenalty)
{
    TimedChecks checks(0ms);
    Ipc::ServerOptions options;
    options.maxParallelChecks = 1;
    options.failurePenaltyMilliseconds = 1000;
    Start(options, checks.Authenticator());
    Ipc::SocketHandle failed = SendHello(Port(), {"bob", "wrong", kHub});
    ASSERT_EQ(ReadAnswer(failed), Ipc::FrameKind::Refused);
    Ipc::SocketHandle waiting = SendHello(Port(), kBob);
    ASSERT_TRUE(Eventually([&] { return m_server->GetQueuedChecks() == 1; }));
    Ipc::SocketHandle other = SendHello(Port(), kAlice);
    EXPECT_EQ(ReadAnswer(other), Ipc::FrameKind::Welcome);
    EXPECT_FALSE(HasAnswer(waiting));
    EXPECT_EQ(ReadAnswer(waiting), Ipc::FrameKind::Welcome);
    const std::vector<TimedChecks::Call> calls = checks.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].user, "alice");
    EXPECT_GE(calls[2].start - calls[0].end, 1000ms);
}

TEST_F(ServerLoginsThreads, BusyAnswersAreReportedWithTheUserWhenTheHelloCameWhole)
{
    LoginReports busy;
    Ipc::ServerOptions options;
    options.handshakeMilliseconds = 200;
    options.maxConnections = 1;
    options.loginBusy = busy.Reporter();
    Start(options);
    Ipc::SocketHandle idle = IpcTesting::ConnectRaw(Port());
    EXPECT_EQ(ReadAnswer(idle), Ipc::FrameKind::Busy);
    Ipc::SocketHandle session = SendHello(Port(), kAlice);
    ASSERT_EQ(ReadAnswer(session), Ipc::FrameKind::Welcome);
    Ipc::SocketHandle overConnections = SendHello(Port(), kBob);
    EXPECT_EQ(ReadAnswer(overConnections), Ipc::FrameKind::Busy);
    EXPECT_EQ(busy.Users(), (std::vector<std::string>{"", "bob"}));
    for (const std::string& peer : busy.Peers())
        EXPECT_THAT(peer, ::testing::StartsWith("127.0.0.1:"));
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

TEST_F(ServerStagesThreads, AReplysShareOfTheBudgetComesBackOnceItWasSentOrFailed)
{
    Ipc::ServerOptions options;
    options.replyBudgetBytes = 16;
    Start(options);
    Ipc::FrameKind answer{};
    const Ipc::SocketHandle first = HandshakeRaw(Port(), kAlice, answer);
    ASSERT_EQ(answer, Ipc::FrameKind::Welcome);
    const Ipc::SocketHandle second = HandshakeRaw(Port(), kAlice, answer);
    ASSERT_EQ(answer, Ipc::FrameKind::Welcome);
    // Each request's share is the whole budget: one is served only when the
    // one before gave its share back, whether it was answered or failed.
    struct Step
    {
        const Ipc::SocketHandle& peer;
        const char* text;
        Ipc::FrameKind answer;
    };
    const Step steps[] = {
        {first, "share-larger-than-all", Ipc::FrameKind::Reply}, // runs alone
        {second, "share-sixteen-16", Ipc::FrameKind::Reply},     {first, "sharefail-16-byte", Ipc::FrameKind::Failure},
        {second, "share-sixteen-16", Ipc::FrameKind::Reply},     {first, "sharethrow-16-by", Ipc::FrameKind::Failure},
        {second, "share-sixteen-16", Ipc::FrameKind::Reply},
    };
    uint64_t callId = 0;
    for (const Step& step : steps) {
        ASSERT_THAT(Ipc::WriteFrame(step.peer.Get(), Ipc::FrameKind::Request, ++callId, ToBytes(step.text)),
                    IsSuccessError());
        Ipc::SocketSource source(step.peer.Get());
        source.SetDeadline(Ipc::Clock::now() + 10s);
        Ipc::FrameHeader header{};
        Ipc::Bytes payload;
        ASSERT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload), IsSuccessError()) << step.text;
        EXPECT_EQ(header.kind, step.answer) << step.text;
    }
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
