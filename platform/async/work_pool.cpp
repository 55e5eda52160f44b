// The growing worker pool of the async service.

#include "platform/async/work_pool.h"

#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>

#include "core/common/mutex.h"

namespace AsyncPlatform {

struct WorkPool::State
{
    explicit State(std::chrono::milliseconds limit) : idleLimit(limit) {}

    const std::chrono::milliseconds idleLimit;
    mutable Common::NonRecursiveMutex lock;
    std::condition_variable work;            // a task was queued, or the pool stops
    mutable std::condition_variable threads; // a thread was created, went idle or left
    std::deque<Task> queue COMMON_GUARDED_BY(lock);
    size_t threadCount COMMON_GUARDED_BY(lock) = 0;
    size_t idle COMMON_GUARDED_BY(lock) = 0;     // threads waiting for a task
    size_t starting COMMON_GUARDED_BY(lock) = 0; // threads created that have not yet looked at the queue
    bool stopping COMMON_GUARDED_BY(lock) = false;
};

WorkPool::WorkPool(std::chrono::milliseconds idleLimit) : m_state(std::make_shared<State>(idleLimit))
{
}

WorkPool::~WorkPool()
{
    Common::UniqueLock guard(m_state->lock);
    m_state->stopping = true;
    m_state->work.notify_all();
    m_state->threads.wait(guard.Waitable(),
                          [this]() COMMON_REQUIRES(m_state->lock) { return m_state->threadCount == 0; });
}

bool WorkPool::Submit(Task task)
{
    State& state = *m_state;
    Common::LockGuard guard(state.lock);
    state.queue.push_back(std::move(task));
    // Every queued task needs a thread that is free to take it: an idle one,
    // or one just created. Threads busy with a task may be blocked for good.
    if (state.queue.size() <= state.idle + state.starting) {
        state.work.notify_one();
        return true;
    }
    try {
        std::thread(RunThread, m_state).detach();
    } catch (const std::system_error&) {
        if (state.threadCount != 0)
            return true; // a busy thread takes the task once it is free
        state.queue.pop_back();
        return false;
    }
    ++state.threadCount;
    ++state.starting;
    state.threads.notify_all();
    return true;
}

void WorkPool::RunThread(std::shared_ptr<State> shared)
{
    State& state = *shared;
    Common::UniqueLock guard(state.lock);
    --state.starting;
    for (;;) {
        if (state.queue.empty()) {
            if (state.stopping)
                break;
            ++state.idle;
            state.threads.notify_all();
            const bool woken = state.work.wait_for(
                guard.Waitable(), state.idleLimit,
                [&state]() COMMON_REQUIRES(state.lock) { return !state.queue.empty() || state.stopping; });
            --state.idle;
            if (!woken)
                break; // idle too long: retire
            continue;
        }
        Task task = std::move(state.queue.front());
        state.queue.pop_front();
        guard.Unlock();
        task();
        task = nullptr; // the task's captures go before the pool counts this thread free
        guard.Lock();
    }
    --state.threadCount;
    state.threads.notify_all();
}

size_t WorkPool::ThreadCount() const
{
    Common::LockGuard guard(m_state->lock);
    return m_state->threadCount;
}

bool WorkPool::WaitForIdleThreads(size_t count, std::chrono::milliseconds limit) const
{
    const State& state = *m_state;
    Common::UniqueLock guard(state.lock);
    return state.threads.wait_for(guard.Waitable(), limit, [&state, count]() COMMON_REQUIRES(state.lock) {
        return state.threadCount == count && state.idle == count && state.queue.empty();
    });
}

} // namespace AsyncPlatform
