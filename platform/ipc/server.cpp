#include "platform/ipc/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>

#include "core/common/error_blob.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/server");

// How long the gate stops accepting when descriptors ran out and no waiting
// connection can make room: the backlog keeps the new ones meanwhile.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Connections accepted at most per turn of the gate, so that Hellos already
// there are read between them.
constexpr int kAcceptsPerTurn = 16;

Common::Error SendFailure(int fd, uint64_t callId, const Common::Error& failure, Clock::time_point deadline)
{
    uint32_t size = 0;
    std::unique_ptr<unsigned char[]> blob(Common::SerializeError(failure, size));
    return WriteFrame(fd, FrameKind::Failure, callId, ByteView(blob.get(), size), deadline);
}

// Sends an empty handshake answer without waiting: 16 bytes always fit a
// fresh connection's buffer, and a peer that is gone needs no answer.
void SendAnswer(int fd, FrameKind kind)
{
    uint8_t header[kFrameHeaderSize];
    EncodeFrameHeader(FrameHeader{kind, 0, 0}, header);
    (void)send(fd, header, sizeof header, MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string PeerText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        (void)inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
    }
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        (void)inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    return text;
}

// True when the peer of `fd` closed its end or the connection broke: its
// Hello needs no check, since no answer can reach it.
bool PeerHungUp(int fd)
{
    pollfd wait{fd, POLLRDHUP, 0};
    return poll(&wait, 1, 0) > 0 && (wait.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// The key of `user`'s Hellos: the name itself when it is known (or nothing is
// known of names), else the one key that every unknown name shares.
std::string CheckKey(const std::string& user, const KnownUserTest& isKnownUser)
{
    if (isKnownUser && !isKnownUser(user))
        return "?";
    return "=" + user;
}

int MillisecondsUntil(Clock::time_point when, Clock::time_point now)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

} // namespace

// A connection that has not logged in yet.
struct Server::Pending
{
    SocketHandle socket; // non-blocking while the gate reads it
    std::string peer;
    Clock::time_point deadline; // for the whole Hello
    Clock::time_point queuedAt{};
    uint8_t header[kFrameHeaderSize] = {};
    size_t headerGot = 0;
    Bytes payload; // sized by the header, at most kMaxHelloPayload
    size_t payloadGot = 0;
    HelloRecord hello;

    ~Pending()
    {
        WipeBytes(payload.data(), payload.size());
        WipeBytes(hello.password.data(), hello.password.size());
    }
};

struct Server::Session
{
    explicit Session(ReplyBudget& replyBudget) : replyLease(replyBudget) {}

    SocketHandle socket; // closed only after the thread was joined, so its number cannot be reused meanwhile
    CallContext context;
    ReplyLease replyLease; // the share of the reply being built or sent
    std::thread thread;
    std::atomic<bool> ended{false};
};

Server::Server(SocketHandle listener, uint16_t port, const ServerOptions& options, Authenticator authenticator,
               PacketHandler& handler)
    : m_listener(std::move(listener)), m_port(port), m_options(options), m_authenticator(std::move(authenticator)),
      m_handler(handler), m_replyBudget(options.replyBudgetBytes)
{
    m_options.maxParallelChecks = std::max<size_t>(m_options.maxParallelChecks, 1);
    m_options.maxQueuedChecks = std::max<size_t>(m_options.maxQueuedChecks, 1);
    m_options.maxQueuedChecksPerUser = std::max<size_t>(m_options.maxQueuedChecksPerUser, 1);
    m_options.maxSessionsPerUser = std::max<size_t>(m_options.maxSessionsPerUser, 1);
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
    const int flags = fcntl(listener.Get(), F_GETFL);
    if (flags < 0 || fcntl(listener.Get(), F_SETFL, flags | O_NONBLOCK) < 0 || pipe2(wake, O_CLOEXEC) < 0) {
        error = MakeIpcAddressError(kListenFailed, kListenFailedText, options.address, options.port,
                                    kSource.At("Start", __LINE__));
        error.AddPosixError(errno);
        return error;
    }
    std::unique_ptr<Server> started(new Server(std::move(listener), port, options, std::move(authenticator), handler));
    started->m_wakeRead.Reset(wake[0]);
    started->m_wakeWrite.Reset(wake[1]);
    started->m_gate = std::thread([raw = started.get()] { raw->RunGate(); });
    for (size_t i = 0; i < started->m_options.maxParallelChecks; ++i)
        started->m_checkers.emplace_back([raw = started.get()] { raw->RunChecks(); });
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
        Common::LockGuard guard(m_lock);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    const char byte = 0;
    while (write(m_wakeWrite.Get(), &byte, 1) < 0 && errno == EINTR) {}
    m_gate.join(); // the connections still sending their Hello are closed with it
    m_checkQueued.notify_all();
    for (std::thread& checker : m_checkers)
        checker.join();
    // No new sessions from here on.
    std::list<std::unique_ptr<Session>> sessions;
    {
        Common::LockGuard guard(m_lock);
        m_turns.clear();
        m_records.clear(); // closes the connections still waiting for their check
        m_queued = 0;
        sessions.swap(m_sessions);
        m_sessionsOfUser.clear();
    }
    for (auto& session : sessions)
        (void)shutdown(session->socket.Get(), SHUT_RDWR); // an ended session may be shut already
    for (auto& session : sessions)
        session->thread.join();
}

size_t Server::GetQueuedChecks()
{
    Common::LockGuard guard(m_lock);
    return m_queued;
}

void Server::ReapEndedSessions()
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if ((*it)->ended.load()) {
            (*it)->thread.join();
            const auto open = m_sessionsOfUser.find((*it)->context.user);
            if (open != m_sessionsOfUser.end() && --open->second == 0)
                m_sessionsOfUser.erase(open);
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::RunGate()
{
    std::list<std::unique_ptr<Pending>> pending; // oldest first
    Clock::time_point acceptPausedUntil{};
    std::vector<pollfd> waits;
    std::vector<std::list<std::unique_ptr<Pending>>::iterator> polled;
    for (;;) {
        const Clock::time_point now = Clock::now();
        // Hellos not read whole in time are let go: a trickler gains nothing, and a
        // client too slow for a loaded server may try again.
        for (auto it = pending.begin(); it != pending.end();) {
            if ((*it)->deadline <= now) {
                AnswerBusy(**it);
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        const bool accepting = acceptPausedUntil <= now;
        int timeout = accepting ? -1 : MillisecondsUntil(acceptPausedUntil, now);
        waits.assign({{m_wakeRead.Get(), POLLIN, 0}, {accepting ? m_listener.Get() : -1, POLLIN, 0}});
        polled.clear();
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            waits.push_back({(*it)->socket.Get(), POLLIN, 0});
            polled.push_back(it);
            const int left = MillisecondsUntil((*it)->deadline, now);
            timeout = timeout < 0 ? left : std::min(timeout, left);
        }
        if (poll(waits.data(), waits.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits[0].revents != 0)
            return;
        // Hellos that arrived are read before new connections may push anyone out.
        for (size_t i = 0; i < polled.size(); ++i) {
            if (waits[i + 2].revents != 0 && !ReadHello(*polled[i]))
                pending.erase(polled[i]);
        }
        if (waits[1].revents == 0)
            continue;
        for (int turn = 0; turn < kAcceptsPerTurn; ++turn) {
            sockaddr_storage peer{};
            socklen_t peerSize = sizeof peer;
            SocketHandle accepted(
                accept4(m_listener.Get(), reinterpret_cast<sockaddr*>(&peer), &peerSize, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (accepted.Get() < 0) {
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    if (pending.empty()) {
                        acceptPausedUntil = Clock::now() + kAcceptPause;
                        break;
                    }
                    AnswerBusy(*pending.front()); // makes room for a newer one
                    pending.pop_front();
                    continue;
                }
                break; // none left (EAGAIN), or the peer gave up already
            }
            if (pending.size() >= m_options.maxPendingConnections) {
                AnswerBusy(*pending.front());
                pending.pop_front();
            }
            auto waiting = std::make_unique<Pending>();
            waiting->socket = std::move(accepted);
            waiting->peer = PeerText(peer);
            waiting->deadline = Clock::now() + std::chrono::milliseconds(m_options.handshakeMilliseconds);
            pending.push_back(std::move(waiting));
        }
    }
}

bool Server::ReadHello(std::unique_ptr<Pending>& pending)
{
    Pending& hello = *pending;
    const int fd = hello.socket.Get();
    for (;;) {
        // Exactly the Hello's bytes: what follows stays in the socket for the session.
        const bool inHeader = hello.headerGot < kFrameHeaderSize;
        uint8_t* into = inHeader ? hello.header + hello.headerGot : hello.payload.data() + hello.payloadGot;
        const size_t wanted = inHeader ? kFrameHeaderSize - hello.headerGot : hello.payload.size() - hello.payloadGot;
        ssize_t got = 0;
        if (wanted > 0) {
            got = recv(fd, into, wanted, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK; // a broken connection needs no answer
            if (got == 0)
                return false; // the peer gave up
        }
        if (inHeader) {
            hello.headerGot += static_cast<size_t>(got);
            if (hello.headerGot < kFrameHeaderSize)
                continue;
            FrameHeader header{};
            if (!DecodeFrameHeader(hello.header, kMaxHelloPayload, header).IsSuccess() ||
                header.kind != FrameKind::Hello || header.callId != 0) {
                SendAnswer(fd, FrameKind::Refused);
                return false;
            }
            hello.payload.resize(header.payloadSize);
            continue;
        }
        hello.payloadGot += static_cast<size_t>(got);
        if (hello.payloadGot < hello.payload.size())
            continue;
        const bool decoded = DecodeHello(hello.payload, hello.hello).IsSuccess();
        WipeBytes(hello.payload.data(), hello.payload.size());
        if (!decoded) {
            SendAnswer(fd, FrameKind::Refused);
            return false;
        }
        QueueCheck(std::move(pending));
        return false;
    }
}

void Server::AnswerBusy(const Pending& pending)
{
    if (m_options.loginBusy)
        m_options.loginBusy(pending.hello.user, pending.peer);
    SendAnswer(pending.socket.Get(), FrameKind::Busy);
}

void Server::QueueCheck(std::unique_ptr<Pending> pending)
{
    std::string key = CheckKey(pending->hello.user, m_options.isKnownUser);
    std::unique_ptr<Pending> pushedOut;
    {
        Common::LockGuard guard(m_lock);
        const Clock::time_point now = Clock::now();
        auto found = m_records.find(key);
        if (found == m_records.end()) {
            MakeRoomForRecord(now);
            found = m_records.emplace(std::move(key), CheckRecord{}).first;
            found->second.key = &found->first;
        }
        CheckRecord& record = found->second;
        pending->queuedAt = now;
        record.waiting.push_back(std::move(pending));
        ++m_queued;
        if (!record.inTurn) {
            record.turn = m_turns.insert(m_turns.end(), &record);
            record.inTurn = true;
        }
        if (record.waiting.size() > m_options.maxQueuedChecksPerUser) {
            pushedOut = TakeOldest(record); // a flood of one user's Hellos pushes out only its own
        } else if (m_queued > m_options.maxQueuedChecks) {
            // The service is full: the user with the most Hellos waiting gives up the one that waited longest.
            CheckRecord* largest = m_turns.front();
            for (CheckRecord* candidate : m_turns) {
                const size_t size = candidate->waiting.size();
                if (size > largest->waiting.size() ||
                    (size == largest->waiting.size() &&
                     candidate->waiting.front()->queuedAt < largest->waiting.front()->queuedAt))
                    largest = candidate;
            }
            pushedOut = TakeOldest(*largest);
            ForgetIdle(*largest, now);
        }
        m_checkQueued.notify_one();
    }
    if (pushedOut)
        AnswerBusy(*pushedOut);
}

std::unique_ptr<Server::Pending> Server::TakeOldest(CheckRecord& record)
{
    std::unique_ptr<Pending> oldest = std::move(record.waiting.front());
    record.waiting.pop_front();
    --m_queued;
    if (record.waiting.empty() && record.inTurn) {
        m_turns.erase(record.turn);
        record.inTurn = false;
    }
    return oldest;
}

std::unique_ptr<Server::Pending> Server::TakeNextCheck(Clock::time_point now, Clock::time_point& wakeAt,
                                                       CheckRecord*& taken)
{
    wakeAt = kNoDeadline;
    for (CheckRecord* record : m_turns) {
        // A user with recent failures has one check at a time, each after its penalty.
        if (record->running > 0 && RecentFailures(*record, now) > 0)
            continue; // the check's end wakes the checkers
        if (record->readyAt > now) {
            wakeAt = std::min(wakeAt, record->readyAt);
            continue;
        }
        std::unique_ptr<Pending> next = TakeOldest(*record);
        if (record->inTurn) // the others with Hellos waiting come first
            m_turns.splice(m_turns.end(), m_turns, record->turn);
        taken = record;
        return next;
    }
    return nullptr;
}

unsigned Server::RecentFailures(const CheckRecord& record, Clock::time_point now) const
{
    if (record.failures == 0 || now <= record.lastFailure)
        return record.failures;
    const auto halfLife = std::chrono::milliseconds(std::max(m_options.failureHalfLifeMilliseconds, 1));
    const auto halvings = (now - record.lastFailure) / halfLife;
    return halvings >= 32 ? 0 : record.failures >> halvings;
}

Clock::duration Server::Penalty(unsigned failures) const
{
    const long long most = std::max(m_options.maxFailurePenaltyMilliseconds, 0);
    long long penalty = std::min<long long>(std::max(m_options.failurePenaltyMilliseconds, 0), most);
    for (unsigned i = 1; i < failures && penalty < most; ++i)
        penalty = std::min(penalty * 2, most);
    return std::chrono::milliseconds(penalty);
}

void Server::ForgetIdle(CheckRecord& record, Clock::time_point now)
{
    if (record.waiting.empty() && record.running == 0 && RecentFailures(record, now) == 0 && record.readyAt <= now)
        m_records.erase(m_records.find(*record.key));
}

void Server::MakeRoomForRecord(Clock::time_point now)
{
    if (m_records.size() < kMaxCheckRecords)
        return;
    // Idle records whose failures are past go first; else the idle one failing least, and longest ago.
    auto spare = m_records.end();
    unsigned spareFailures = 0;
    for (auto it = m_records.begin(); it != m_records.end();) {
        const CheckRecord& record = it->second;
        if (!record.waiting.empty() || record.running > 0) {
            ++it;
            continue;
        }
        const unsigned failures = RecentFailures(record, now);
        if (failures == 0 && record.readyAt <= now) {
            it = m_records.erase(it);
            continue;
        }
        if (spare == m_records.end() || failures < spareFailures ||
            (failures == spareFailures && record.lastFailure < spare->second.lastFailure)) {
            spare = it;
            spareFailures = failures;
        }
        ++it;
    }
    if (m_records.size() >= kMaxCheckRecords && spare != m_records.end())
        m_records.erase(spare);
}

void Server::RunChecks()
{
    for (;;) {
        std::unique_ptr<Pending> next;
        CheckRecord* record = nullptr;
        bool full = false;
        {
            Common::UniqueLock guard(m_lock);
            for (;;) {
                if (m_stopping)
                    return;
                Clock::time_point wakeAt;
                next = TakeNextCheck(Clock::now(), wakeAt, record);
                if (next)
                    break;
                if (wakeAt == kNoDeadline)
                    m_checkQueued.wait(guard.Waitable());
                else
                    m_checkQueued.wait_until(guard.Waitable(), wakeAt);
            }
            ReapEndedSessions();
            // No place for it once logged in: the client may try again.
            full = m_sessions.size() + m_checksRunning >= m_options.maxConnections;
            if (full) {
                ForgetIdle(*record, Clock::now());
            } else {
                ++m_checksRunning;
                ++record->running;
            }
        }
        if (full)
            AnswerBusy(*next);
        else
            Check(std::move(next), *record);
    }
}

void Server::Check(std::unique_ptr<Pending> pending, CheckRecord& record)
{
    const int fd = pending->socket.Get();
    // A peer that hung up while its Hello waited gets no answer, so it costs no check.
    const bool gone = PeerHungUp(fd);
    const bool passed = !gone && m_authenticator(pending->hello);
    WipeBytes(pending->hello.password.data(), pending->hello.password.size());
    const std::string& user = pending->hello.user;
    bool overLimit = false;
    {
        Common::LockGuard guard(m_lock);
        const Clock::time_point now = Clock::now();
        --record.running;
        if (passed) {
            record.failures = 0;
            record.readyAt = now;
            ReapEndedSessions();
            const auto open = m_sessionsOfUser.find(user);
            overLimit = open != m_sessionsOfUser.end() && open->second >= m_options.maxSessionsPerUser;
            if (!overLimit)
                ++m_sessionsOfUser[user]; // its place, held until the session ends or cannot start
        } else if (!gone) {
            record.failures = std::min(RecentFailures(record, now), 30u) + 1;
            record.lastFailure = now;
            record.readyAt = now + Penalty(record.failures);
        }
        ForgetIdle(record, now);    // `record` may be gone from here on
        m_checkQueued.notify_all(); // its user's next Hello may be checked
    }
    const bool reserved = passed && !overLimit;
    bool welcomed = false;
    if (gone) {
        // Nothing to answer.
    } else if (!passed) {
        if (m_options.loginRefused)
            m_options.loginRefused(user, pending->peer);
        SendAnswer(fd, FrameKind::Refused);
    } else if (overLimit) {
        if (m_options.loginOverSessionLimit)
            m_options.loginOverSessionLimit(user, pending->peer);
        // The password was right, so the peer may learn why it cannot log in.
        (void)SendFailure(fd, 0, MakeSessionLimitError(m_options.maxSessionsPerUser, kSource.At("Check", __LINE__)),
                          Clock::now() + std::chrono::milliseconds(m_options.handshakeMilliseconds));
    } else {
        // The session reads and writes with deadlines of its own, on a blocking socket.
        const int flags = fcntl(fd, F_GETFL);
        welcomed = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) >= 0 &&
            WriteFrame(fd, FrameKind::Welcome, 0, {},
                       Clock::now() + std::chrono::milliseconds(m_options.frameMilliseconds))
                .IsSuccess();
    }
    Common::LockGuard guard(m_lock);
    --m_checksRunning;
    if (!welcomed || m_stopping) {
        const auto open = m_sessionsOfUser.find(user);
        if (reserved && open != m_sessionsOfUser.end() && --open->second == 0)
            m_sessionsOfUser.erase(open);
        return; // closed with `pending`
    }
    auto session = std::make_unique<Session>(m_replyBudget);
    session->socket = std::move(pending->socket);
    session->context = CallContext{pending->hello.user, pending->hello.serviceCode, &session->replyLease};
    Session& started = *session;
    m_sessions.push_back(std::move(session));
    started.thread = std::thread([this, &started] { Serve(started); });
}

void Server::Serve(Session& session)
{
    const int fd = session.socket.Get();
    SocketSource source(fd);
    FrameHeader header{};
    Bytes payload;
    for (;;) {
        source.SetDeadline(Clock::now() + std::chrono::milliseconds(m_options.idleMilliseconds));
        size_t available = 0;
        if (!source.Fill(available).IsSuccess() || available == 0)
            break; // idle too long, or gone
        source.SetDeadline(Clock::now() + std::chrono::milliseconds(m_options.frameMilliseconds));
        if (!ReadFrame(source, kMaxFramePayload, header, payload).IsSuccess() || header.kind != FrameKind::Request)
            break;
        Bytes reply;
        // Handed over: a large request need not stay alive through the handler's work, nor its buffer
        // through the session; the next frame fills the buffer again, whatever the handler left in it.
        Common::Error result = InvokeHandlerOwned(m_handler, session.context, payload, reply);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_options.frameMilliseconds);
        Common::Error sent = result.IsSuccess() ? WriteFrame(fd, FrameKind::Reply, header.callId, reply, deadline)
                                                : SendFailure(fd, header.callId, result, deadline);
        if (sent.GetCode() == kFrameTooLarge) // refused before anything was sent: the call fails, not the link
            sent = SendFailure(fd, header.callId, sent, deadline);
        Bytes().swap(reply); // its memory first, then its share of the budget
        session.replyLease.Release();
        if (!sent.IsSuccess())
            break;
    }
    session.ended.store(true);     // before the peer can see the end, so its place is free once it does
    (void)shutdown(fd, SHUT_RDWR); // tells the peer this connection is over
}

} // namespace Ipc
