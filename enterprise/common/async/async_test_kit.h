// Test kit shared by the async framework's tests (header only; used by
// *_test.cpp files, not by the library):
//
//   TestAction        an action whose completion the test chooses: inside
//                     Perform, inside the job's Cancel, or later through
//                     Complete() from any thread; or a Common::Error thrown
//                     from Perform. Counts its performs and cancels.
//   RecordingHandler  counts completions and keeps the last result; an
//                     optional callback runs inside Completed.
//   StackProbe        the spread of stack addresses seen by Mark().
//   AssertionCapture  collects failed-assertion texts while installed.
//   TraceCapture      collects traced errors of every level while installed.
//   Completers        worker threads that run posted completions.
//
// Threading: TestAction, RecordingHandler and the captures may be used from
// any thread; their records are guarded by a mutex or are atomic. The captures
// replace process-wide hooks: install one at a time, on the test's thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "core/common/trace.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/job.h"

namespace AsyncTest {

// The job a TestAction hands out; Cancel counts and forwards to the action.
class TestJob : public Async::BaseJob
{
public:
    explicit TestJob(std::function<void()> onCancel) : m_onCancel(std::move(onCancel)) {}
    void Cancel() override { m_onCancel(); }

private:
    std::function<void()> m_onCancel;
};

class TestAction : public Async::Action
{
public:
    enum class Mode
    {
        CompleteInPerform, // Completed(result) before Perform returns; no job
        CompleteInCancel,  // Completed(result) inside the job's Cancel
        CompleteLater,     // Completed through Complete(), from the test's chosen thread
        ThrowInPerform,    // Perform throws `result`
    };

    explicit TestAction(Mode mode, Common::Error result = Common::Error()) : m_mode(mode), m_result(std::move(result))
    {
    }

    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        ++performs;
        switch (m_mode) {
        case Mode::CompleteInPerform:
            handler.Completed(m_result);
            return {};
        case Mode::ThrowInPerform:
            Common::ThrowError(m_result);
        default:
            break;
        }
        m_handler.store(&handler, std::memory_order_release);
        return std::make_shared<TestJob>([this] { OnCancel(); });
    }

    // Delivers `result` to the handler of the pending run (CompleteLater).
    void Complete(const Common::Error& result)
    {
        Async::ActionHandler* handler = m_handler.exchange(nullptr, std::memory_order_acq_rel);
        if (handler)
            handler->Completed(result);
    }

    bool HasPendingRun() const { return m_handler.load(std::memory_order_acquire) != nullptr; }

    std::atomic<int> performs{0};
    std::atomic<int> cancels{0};

private:
    void OnCancel()
    {
        ++cancels;
        if (m_mode == Mode::CompleteInCancel)
            Complete(m_result);
    }

    Mode m_mode;
    Common::Error m_result;
    std::atomic<Async::ActionHandler*> m_handler{nullptr};
};

class RecordingHandler : public Async::ActionHandler
{
public:
    RecordingHandler() = default;
    explicit RecordingHandler(std::function<void(const Common::Error&)> onCompleted)
        : m_onCompleted(std::move(onCompleted))
    {
    }

    void Completed(const Common::Error& result) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_last = result;
        }
        calls.fetch_add(1, std::memory_order_acq_rel);
        if (m_onCompleted)
            m_onCompleted(result);
    }

    Common::Error Last() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last;
    }

    std::atomic<int> calls{0};

private:
    mutable std::mutex m_mutex;
    Common::Error m_last;
    std::function<void(const Common::Error&)> m_onCompleted;
};

// Records the lowest and highest address of a local seen by Mark(); Spread()
// is how far the stack moved between the marks.
class StackProbe
{
public:
    [[gnu::noinline]] void Mark()
    {
        volatile char local = 0;
        const auto address = reinterpret_cast<uintptr_t>(&local);
        m_low = std::min(m_low, address);
        m_high = std::max(m_high, address);
    }
    uintptr_t Spread() const { return m_high >= m_low ? m_high - m_low : 0; }

private:
    uintptr_t m_low = UINTPTR_MAX;
    uintptr_t m_high = 0;
};

// Collects the text of every failed assertion ("Assertion failed: <expression>,
// file <file>, line <line>") while installed; stack reports are skipped.
class AssertionCapture
{
public:
    AssertionCapture()
    {
        Texts().clear();
        Common::SetAssertionEventHook(&OnEvent);
    }
    ~AssertionCapture() { Common::SetAssertionEventHook(&Common::TraceAssertionEvent); }
    AssertionCapture(const AssertionCapture&) = delete;
    AssertionCapture& operator=(const AssertionCapture&) = delete;

    std::vector<std::string> Reports() const
    {
        std::lock_guard<std::mutex> lock(Mutex());
        return Texts();
    }
    // True when a report names `expression` at `line`.
    bool Saw(const std::string& expression, unsigned line) const
    {
        const std::string wanted = "Assertion failed: " + expression + ", file ";
        const std::string wantedLine = ", line " + std::to_string(line);
        for (const std::string& text : Reports())
            if (text.rfind(wanted, 0) == 0 && text.size() >= wantedLine.size() &&
                text.compare(text.size() - wantedLine.size(), wantedLine.size(), wantedLine) == 0)
                return true;
        return false;
    }

private:
    static std::mutex& Mutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string>& Texts()
    {
        static std::vector<std::string> texts;
        return texts;
    }
    static void OnEvent(int, unsigned, unsigned, const char* text)
    {
        if (!text || std::string(text).rfind("Assertion failed: ", 0) != 0)
            return;
        std::lock_guard<std::mutex> lock(Mutex());
        Texts().emplace_back(text);
    }
};

// Collects every traced error, of every level, while installed.
class TraceCapture : private Common::TraceSink
{
public:
    struct Entry
    {
        int level;
        Common::Error error;
    };

    TraceCapture()
    {
        m_registry.sinks.insert(this);
        m_previous = Common::Detail::SetTraceRegistryForTesting(&m_registry);
    }
    ~TraceCapture() override { Common::Detail::SetTraceRegistryForTesting(m_previous); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<Entry> Entries() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    // The traced errors of `level`.
    std::vector<Common::Error> AtLevel(int level) const
    {
        std::vector<Common::Error> found;
        for (const Entry& entry : Entries())
            if (entry.level == level)
                found.push_back(entry.error);
        return found;
    }

private:
    void WriteText(void*, int, unsigned, unsigned, const char16_t*) override {}
    void WriteError(void*, int level, const Common::Error& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back({level, error});
    }
    bool Filter() override { return true; }

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    Common::TraceRegistry m_registry;
    Common::TraceRegistry* m_previous = nullptr;
};

// Threads that run posted tasks (completions, as a rule) in order of posting;
// the destructor runs what is still queued, then joins.
class Completers
{
public:
    explicit Completers(int count)
    {
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back([this] { Serve(); });
    }
    ~Completers()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }
    void Post(std::function<void()> task)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }

private:
    void Serve()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace AsyncTest
