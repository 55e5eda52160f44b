// The diagnostics of the service process on standard error, each kind bounded
// so that no peer can make the service write without end:
// - logins turned away: refused (user or password), answered busy (the
//   server at its limits) and refused a session (the user's sessions at
//   their limit), one line each (the user name escaped and cut short, since
//   it comes from the peer; the peer's address; never the password). Each of
//   the three kinds has its own budget, at most kRefusedLoginBurst lines at
//   once and one more every kRefusedLoginInterval, so that a flood of busy
//   answers cannot hide the refused logins; the lines of a kind held back
//   are counted in its next one;
// - failed internal checks (assertions): the first report of each place is
//   written whole, text and stack; its repeats are counted, and a count that
//   reaches a power of two is written as one line. Each report still goes on
//   to the trace dispatcher, as it would without the digest.
//
// Threading: the reports of RefusedLoginLog and AssertionDigest::Take from any
// thread at once; each serializes its own state, and each line is written
// with one write.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "core/common/mutex.h"

namespace Service {

inline constexpr unsigned kRefusedLoginBurst = 10;
inline constexpr std::chrono::seconds kRefusedLoginInterval{6};
// The bytes of a peer's user name that a line shows.
inline constexpr size_t kLoggedUserBytes = 64;
// Places of failed checks told apart; later new places share one count.
inline constexpr size_t kAssertionPlaces = 256;

// Where a diagnostic goes: one call per line or report, the text as is.
using LogWriter = void (*)(const std::string& text);
// Writes `text` to standard error in one write.
void WriteToStandardError(const std::string& text);

// Lets `burst` lines through at once and one more every `interval` after.
class LineBudget
{
public:
    LineBudget(unsigned burst, std::chrono::steady_clock::duration interval);
    // True when a line may be written at `now`; `heldBack` then receives the
    // number of lines refused since the last one let through.
    bool Take(std::chrono::steady_clock::time_point now, uint64_t& heldBack);

private:
    const double m_burst;
    const std::chrono::steady_clock::duration m_interval;
    double m_tokens;
    std::chrono::steady_clock::time_point m_last{};
    bool m_started = false;
    uint64_t m_heldBack = 0;
};

// `text` in double quotes, bytes outside printable ASCII and the characters
// '"' and '\' written as \xNN, cut after `maxBytes` bytes ("..." after the
// closing quote tells it was).
std::string QuoteForLog(const std::string& text, size_t maxBytes);

class RefusedLoginLog
{
public:
    explicit RefusedLoginLog(LogWriter writer = WriteToStandardError);
    // A login refused for its user or password.
    void Report(const std::string& user, const std::string& peer) COMMON_EXCLUDES(m_lock);
    // A login answered busy; `user` is empty when its Hello was not read whole.
    void ReportBusy(const std::string& user, const std::string& peer) COMMON_EXCLUDES(m_lock);
    // A login whose password was right, refused since its user has `limit` sessions open.
    void ReportSessionLimit(const std::string& user, const std::string& peer, size_t limit) COMMON_EXCLUDES(m_lock);
    // The same at a given time, for tests.
    void ReportAt(const std::string& user, const std::string& peer, std::chrono::steady_clock::time_point now)
        COMMON_EXCLUDES(m_lock);
    void ReportBusyAt(const std::string& user, const std::string& peer, std::chrono::steady_clock::time_point now)
        COMMON_EXCLUDES(m_lock);
    void ReportSessionLimitAt(const std::string& user, const std::string& peer, size_t limit,
                              std::chrono::steady_clock::time_point now) COMMON_EXCLUDES(m_lock);

private:
    enum class Kind
    {
        Refused,
        Busy,
        SessionLimit,
    };
    // Writes "objpatcher-service: " and `what()`, with the count of the lines
    // of `kind` held back before it, when the budget of `kind` lets it through.
    void Write(Kind kind, std::chrono::steady_clock::time_point now, const std::function<std::string()>& what)
        COMMON_EXCLUDES(m_lock);

    LogWriter m_writer;
    Common::NonRecursiveMutex m_lock;
    LineBudget m_budgets[3] COMMON_GUARDED_BY(m_lock); // by Kind
};

class AssertionDigest
{
public:
    explicit AssertionDigest(LogWriter writer = WriteToStandardError);

    // Takes one event of the assertion hook: a report's text, or the stack
    // that follows it on the same thread.
    void Take(const char* text) COMMON_EXCLUDES(m_lock);

    // Makes the process's assertion reports go through `digest` (which must
    // live until exit): the policy becomes "debug event stack", so that the
    // reports reach the event hook and nothing writes them directly. A policy
    // the user set in QUORVAN_SAFE_ASSERT is kept as it is, and then the
    // digest is not installed. Call before any thread starts.
    static void Install(AssertionDigest& digest);

private:
    LogWriter m_writer;
    Common::NonRecursiveMutex m_lock;
    std::map<std::string, uint64_t> m_counts COMMON_GUARDED_BY(m_lock); // report text -> times seen
};

} // namespace Service
