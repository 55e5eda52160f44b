#include "service/process_log.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/common/assertion.h"
#include "core/common/trace.h"

namespace Service {

namespace {

// The digest the assertion hook feeds; set once by Install.
AssertionDigest* g_digest = nullptr;

// The digest whose report this thread took last, while its stack is still to come.
thread_local const AssertionDigest* t_stackOf = nullptr;
thread_local bool t_writeStack = false;

void DigestHook(int level, unsigned facility, unsigned code, const char* text)
{
    g_digest->Take(text);
    Common::TraceAssertionEvent(level, facility, code, text);
}

} // namespace

void WriteToStandardError(const std::string& text)
{
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t now = write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (now < 0 && errno == EINTR)
            continue;
        if (now <= 0)
            return; // nowhere to tell
        written += static_cast<size_t>(now);
    }
}

LineBudget::LineBudget(unsigned burst, std::chrono::steady_clock::duration interval)
    : m_burst(burst), m_interval(interval), m_tokens(burst)
{
}

bool LineBudget::Take(std::chrono::steady_clock::time_point now, uint64_t& heldBack)
{
    if (m_started && now > m_last)
        m_tokens = std::min(
            m_burst, m_tokens + static_cast<double>((now - m_last).count()) / static_cast<double>(m_interval.count()));
    if (!m_started || now > m_last)
        m_last = now;
    m_started = true;
    if (m_tokens < 1) {
        ++m_heldBack;
        return false;
    }
    m_tokens -= 1;
    heldBack = m_heldBack;
    m_heldBack = 0;
    return true;
}

std::string QuoteForLog(const std::string& text, size_t maxBytes)
{
    std::string quoted = "\"";
    const size_t shown = std::min(text.size(), maxBytes);
    for (size_t i = 0; i < shown; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            quoted += static_cast<char>(byte);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            quoted += escaped;
        }
    }
    quoted += '"';
    if (shown < text.size())
        quoted += "...";
    return quoted;
}

RefusedLoginLog::RefusedLoginLog(LogWriter writer)
    : m_writer(writer), m_budgets{{kRefusedLoginBurst, kRefusedLoginInterval},
                                  {kRefusedLoginBurst, kRefusedLoginInterval},
                                  {kRefusedLoginBurst, kRefusedLoginInterval}}
{
}

void RefusedLoginLog::Report(const std::string& user, const std::string& peer)
{
    ReportAt(user, peer, std::chrono::steady_clock::now());
}

void RefusedLoginLog::ReportBusy(const std::string& user, const std::string& peer)
{
    ReportBusyAt(user, peer, std::chrono::steady_clock::now());
}

void RefusedLoginLog::ReportSessionLimit(const std::string& user, const std::string& peer, size_t limit)
{
    ReportSessionLimitAt(user, peer, limit, std::chrono::steady_clock::now());
}

void RefusedLoginLog::ReportAt(const std::string& user, const std::string& peer,
                               std::chrono::steady_clock::time_point now)
{
    Write(Kind::Refused, now,
          [&] { return "refused the login of user " + QuoteForLog(user, kLoggedUserBytes) + " from " + peer; });
}

void RefusedLoginLog::ReportBusyAt(const std::string& user, const std::string& peer,
                                   std::chrono::steady_clock::time_point now)
{
    Write(Kind::Busy, now, [&] {
        return user.empty()
            ? "answered busy to a connection from " + peer
            : "answered busy to the login of user " + QuoteForLog(user, kLoggedUserBytes) + " from " + peer;
    });
}

void RefusedLoginLog::ReportSessionLimitAt(const std::string& user, const std::string& peer, size_t limit,
                                           std::chrono::steady_clock::time_point now)
{
    Write(Kind::SessionLimit, now, [&] {
        return "refused a session to user " + QuoteForLog(user, kLoggedUserBytes) + " from " + peer +
            ": the user has as many sessions open as the service allows (" + std::to_string(limit) + ")";
    });
}

void RefusedLoginLog::Write(Kind kind, std::chrono::steady_clock::time_point now,
                            const std::function<std::string()>& what)
{
    static const char* const kHeldBack[] = {"refused logins", "busy answers", "refused sessions"};
    uint64_t heldBack = 0;
    {
        Common::LockGuard guard(m_lock);
        if (!m_budgets[static_cast<size_t>(kind)].Take(now, heldBack))
            return;
    }
    std::string line = "objpatcher-service: " + what();
    if (heldBack > 0)
        line += " (and " + std::to_string(heldBack) + " more " + kHeldBack[static_cast<size_t>(kind)] + " not shown)";
    m_writer(line + "\n");
}

AssertionDigest::AssertionDigest(LogWriter writer) : m_writer(writer)
{
}

void AssertionDigest::Take(const char* text)
{
    const std::string report = text ? text : "";
    if (t_stackOf == this) {
        t_stackOf = nullptr;
        if (t_writeStack && !report.empty())
            m_writer(report + "\n");
        return;
    }
    uint64_t count = 0;
    {
        Common::LockGuard guard(m_lock);
        auto found = m_counts.find(report);
        if (found == m_counts.end())
            found = m_counts.size() < kAssertionPlaces ? m_counts.emplace(report, 0).first
                                                       : m_counts.try_emplace("(other places)", 0).first;
        count = ++found->second;
    }
    t_stackOf = this;
    t_writeStack = count == 1;
    if (count == 1)
        m_writer(report + "\n");
    else if ((count & (count - 1)) == 0)
        m_writer("objpatcher-service: " + std::to_string(count) + " times so far: " + report + "\n");
}

void AssertionDigest::Install(AssertionDigest& digest)
{
    const char* policy = std::getenv("QUORVAN_SAFE_ASSERT");
    if (policy && *policy)
        return;
    setenv("QUORVAN_SAFE_ASSERT", "debug event stack", 1);
    g_digest = &digest;
    Common::SetAssertionEventHook(&DigestHook);
}

} // namespace Service
