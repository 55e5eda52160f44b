// The service side of the socket road: listens, authenticates each connection
// with its Hello, then answers its requests through a PacketHandler.
//
// A connection passes three stages, each with a bound of its own, so that
// peers who never log in cannot take the places of those who do, a crowd of
// failing logins cannot keep out a user who logs in right, and no peer makes
// the server hold more than it was sent:
//
// 1. Hello. One gate thread accepts connections and reads their Hellos, all
//    at once without blocking, for up to maxPendingConnections connections.
//    A whole Hello of at most kMaxHelloPayload bytes must come within
//    handshakeMilliseconds of the accept (a peer trickling bytes gains no
//    time), else the connection gets Busy. A connection that finds every
//    place taken pushes out the one that has waited longest, which gets Busy:
//    a crowd of idle connections cannot keep out a client that sends its
//    Hello at once. A Hello that is not one gets Refused.
// 2. Password check. A Hello read whole waits for one of maxParallelChecks
//    checker threads, which calls the authenticator. The handshake deadline
//    bounds only the arrival of the Hello: one that came whole is never turned
//    away for the time it waits behind other checks (the client waits
//    kHandshakeTimeoutMilliseconds). The waiting Hellos are kept by user: each
//    name the authenticator knows (ServerOptions::isKnownUser) is a user of its
//    own, and every name it does not know belongs to one shared user, so that
//    fresh made-up names gain nothing over one; without isKnownUser every name
//    is a user of its own. The checkers serve the users in turn, each user's
//    Hellos oldest first: a Hello waits behind the older Hellos of its own user
//    and, before each of them, at most one check of every other user with
//    Hellos waiting. So a flood of Hellos for some names slows those names, not
//    the logins of others.
//    - At most maxQueuedChecksPerUser Hellos of one user wait: one more
//      pushes out that user's own longest waiting Hello, which gets Busy.
//    - At most maxQueuedChecks Hellos wait in all: one more pushes out the
//      longest waiting Hello of the user with the most waiting, which gets
//      Busy. So Busy means that the service as a whole is full.
//    - A failed check makes that user's next check wait
//      failurePenaltyMilliseconds, doubled for each further recent failure,
//      at most maxFailurePenaltyMilliseconds; meanwhile the user's checks run
//      one at a time. Recent failures halve each failureHalfLifeMilliseconds,
//      and a check that passes forgets them. A user with no Hello waiting
//      and no recent failure holds nothing; the records of failures are
//      bounded (kMaxCheckRecords), the least failing let go first.
//    - A Hello whose peer hung up while it waited is dropped unchecked.
//    - A Hello that would pass maxConnections gets Busy, before its check.
//    A refused Hello gets Refused and is reported to loginRefused; an unknown
//    name and a wrong password are answered and reported alike, each after a
//    check of its own (only its wait in the queue may differ, while the unknown
//    names' turn is flooded and the known name's is not). A Hello whose
//    password passed but whose user has maxSessionsPerUser sessions open gets a
//    Failure frame of call id 0 carrying kSessionLimit (the error blob, its
//    text giving the limit) and is reported to loginOverSessionLimit. Every
//    Busy is reported to loginBusy. The password's bytes are wiped from the
//    Hello's buffer and record once checked; the gate reads exactly the Hello,
//    so no other buffer of the server ever holds them.
// 3. Session. An authenticated connection is served on its own thread, one
//    request after the other, in the order they arrived, up to maxConnections
//    at once and maxSessionsPerUser of one user. A request's memory grows
//    with the bytes that arrived, never with the size its header announced,
//    and is handed over to the handler (PacketHandler::HandleOwned). Once a
//    frame's first byte came, the whole frame must come within
//    frameMilliseconds, and a reply must be taken by the peer within
//    frameMilliseconds; a connection that sends nothing for idleMilliseconds
//    is closed. Replies share one budget of replyBudgetBytes (reply_budget.h):
//    the handler takes a reply's share through CallContext::replyLease before
//    it builds the reply, and the session gives it back once the reply was
//    sent (or could not be). A handler failure, and a reply too large for a
//    frame, goes back as a Failure frame (the error blob). A frame that breaks the
//    protocol, or a deadline that passed, ends that connection only (the
//    peer reads that it was lost).
//
// So the server holds at most maxPendingConnections + maxQueuedChecks +
// maxParallelChecks connections that have not logged in, each with at most
// one Hello's bytes, and at most kMaxCheckRecords records of users beside the
// waiting Hellos, each with a name of at most one Hello's bytes.
//
// Threading: Start and Stop from one controlling thread, GetQueuedChecks
// from any thread. The authenticator
// is called from up to maxParallelChecks checker threads at once;
// isKnownUser and the reports from the gate thread and the checker threads
// at once; the handler from the session threads at once. None of them is
// called with the server's lock held. Stop (also by the destructor) closes
// the listener and every connection, and returns after all threads ended; an
// authenticator or handler still running delays it until it returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/common/mutex.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/host_address.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/reply_budget.h"
#include "platform/ipc/socket_io.h"

namespace Ipc {

// True when the Hello's user, password and service code may connect.
using Authenticator = std::function<bool(const HelloRecord& hello)>;

// True when the authenticator knows `user` (whatever the password).
using KnownUserTest = std::function<bool(const std::string& user)>;

// Told of a login's answer: the user as the peer sent it (any bytes; empty
// for a Busy whose Hello was not read whole) and the peer's address
// ("192.0.2.1:50000", "[2001:db8::1]:50000").
using LoginReport = std::function<void(const std::string& user, const std::string& peer)>;
using LoginRefusedReport = LoginReport;

// The most records of users' recent failures the server keeps.
inline constexpr size_t kMaxCheckRecords = 1024;

struct ServerOptions
{
    std::string address = "127.0.0.1";   // numeric IPv4 or IPv6 address
    uint16_t port = kDefaultServicePort; // 0: an ephemeral port
    size_t maxConnections = 64;          // authenticated connections served at once
    size_t maxSessionsPerUser = 16;      // of them, those of one user
    int handshakeMilliseconds = 5000;    // from the accept to the whole Hello read
    size_t maxPendingConnections = 128;  // connections still sending their Hello
    size_t maxParallelChecks = 4;        // authenticator calls at once
    size_t maxQueuedChecks = 64;         // Hellos read whole, waiting for their check
    size_t maxQueuedChecksPerUser = 8;   // of them, those of one user (all unknown names are one)
    // After a failed check, the user's next check waits this, doubled for each
    // further recent failure up to maxFailurePenaltyMilliseconds; a user's
    // recent failures halve every failureHalfLifeMilliseconds.
    int failurePenaltyMilliseconds = 100;
    int maxFailurePenaltyMilliseconds = 3000;
    int failureHalfLifeMilliseconds = 60000;
    int frameMilliseconds = 60000;               // a frame's bytes once it started; a reply's bytes
    int idleMilliseconds = 300000;               // an authenticated connection waiting for its next request
    size_t replyBudgetBytes = size_t{256} << 20; // replies being built or sent, all sessions
    KnownUserTest isKnownUser = {};              // empty: every name is a user of its own
    LoginReport loginRefused = {};               // each report may be empty
    LoginReport loginBusy = {};
    LoginReport loginOverSessionLimit = {};
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
    // The Hellos read whole and waiting for their check now.
    size_t GetQueuedChecks() COMMON_EXCLUDES(m_lock);
    void Stop() COMMON_EXCLUDES(m_lock);

private:
    struct Pending;
    struct Session;
    // The Hellos of one user waiting for their check, and its recent failures.
    struct CheckRecord
    {
        std::deque<std::unique_ptr<Pending>> waiting; // oldest first
        size_t running = 0;                           // checks of it under way
        unsigned failures = 0;                        // as of lastFailure
        Clock::time_point lastFailure{};
        Clock::time_point readyAt{};      // its next check starts no earlier
        const std::string* key = nullptr; // its key in m_records
        bool inTurn = false;              // in m_turns (while it has Hellos waiting)
        std::list<CheckRecord*>::iterator turn{};
    };

    Server(SocketHandle listener, uint16_t port, const ServerOptions& options, Authenticator authenticator,
           PacketHandler& handler);
    // The gate thread: accepts connections and reads their Hellos.
    void RunGate();
    // Reads what `pending` has sent; false when it is done with (answered or gone).
    bool ReadHello(std::unique_ptr<Pending>& pending);
    void QueueCheck(std::unique_ptr<Pending> pending) COMMON_EXCLUDES(m_lock);
    // Answers Busy and reports it.
    void AnswerBusy(const Pending& pending);
    // A checker thread: checks queued Hellos and starts the sessions of those welcomed.
    void RunChecks() COMMON_EXCLUDES(m_lock);
    void Check(std::unique_ptr<Pending> pending, CheckRecord& record) COMMON_EXCLUDES(m_lock);
    // The next Hello whose turn it is and whose check may start at `now`, taken
    // from its user's Hellos; when none, `wakeAt` receives when the first
    // penalty ends (kNoDeadline when none runs).
    std::unique_ptr<Pending> TakeNextCheck(Clock::time_point now, Clock::time_point& wakeAt, CheckRecord*& record)
        COMMON_REQUIRES(m_lock);
    // Takes the longest waiting Hello of `record` out of the queue.
    std::unique_ptr<Pending> TakeOldest(CheckRecord& record) COMMON_REQUIRES(m_lock);
    // The failures of `record` still counted at `now`.
    unsigned RecentFailures(const CheckRecord& record, Clock::time_point now) const;
    // How long a user's next check waits after `failures` recent failures.
    Clock::duration Penalty(unsigned failures) const;
    // Forgets `record` when it holds nothing; makes room for one more record.
    void ForgetIdle(CheckRecord& record, Clock::time_point now) COMMON_REQUIRES(m_lock);
    void MakeRoomForRecord(Clock::time_point now) COMMON_REQUIRES(m_lock);
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
    ReplyBudget m_replyBudget;
    std::thread m_gate;
    std::vector<std::thread> m_checkers;

    Common::NonRecursiveMutex m_lock;
    std::condition_variable m_checkQueued; // a Hello queued, a check ended, or stopping
    std::map<std::string, CheckRecord> m_records COMMON_GUARDED_BY(m_lock); // by user ("=name") or "?" (unknown)
    std::list<CheckRecord*> m_turns COMMON_GUARDED_BY(m_lock);              // users with Hellos waiting, next first
    size_t m_queued COMMON_GUARDED_BY(m_lock) = 0;                          // Hellos waiting, all users
    size_t m_checksRunning COMMON_GUARDED_BY(m_lock) = 0;
    std::list<std::unique_ptr<Session>> m_sessions COMMON_GUARDED_BY(m_lock);
    std::map<std::string, size_t> m_sessionsOfUser COMMON_GUARDED_BY(m_lock); // sessions open or being opened
    bool m_stopping COMMON_GUARDED_BY(m_lock) = false;
};

} // namespace Ipc
