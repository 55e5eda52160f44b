// The growing worker pool of the async service.

#include "platform/async/work_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace AsyncPlatform {

struct WorkPool::State
{
    explicit State(std::chrono::milliseconds limit) : idleLimit(limit) {}

    const std::chrono::milliseconds idleLimit;
    mutable std::mutex lock;
    std::condition_variable work;            // a task was queued, or the pool stops
    mutable std::condition_variable threads; // a thread was created, went idle or left
    std::deque<Task> queue;
    size_t threadCount = 0;
    size_t idle = 0;     // threads waiting for a task
    size_t starting = 0; // threads created that have not yet looked at the queue
    bool stopping = false;
};

WorkPool::WorkPool(std::chrono::milliseconds idleLimit) : m_state(std::make_shared<State>(idleLimit))
{
}

WorkPool::~WorkPool()
{
    std::unique_lock<std::mutex> guard(m_state->lock);
    m_state->stopping = true;
    m_state->work.notify_all();
    m_state->threads.wait(guard, [this] { return m_state->threadCount == 0; });
}

bool WorkPool::Submit(Task task)
{
    State& state = *m_state;
    std::lock_guard<std::mutex> guard(state.lock);
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
    std::unique_lock<std::mutex> guard(state.lock);
    --state.starting;
    for (;;) {
        if (state.queue.empty()) {
            if (state.stopping)
                break;
            ++state.idle;
            state.threads.notify_all();
            const bool woken = state.work.wait_for(guard, state.idleLimit,
                                                   [&state] { return !state.queue.empty() || state.stopping; });
            --state.idle;
            if (!woken)
                break; // idle too long: retire
            continue;
        }
        Task task = std::move(state.queue.front());
        state.queue.pop_front();
        guard.unlock();
        task();
        task = nullptr; // the task's captures go before the pool counts this thread free
        guard.lock();
    }
    --state.threadCount;
    state.threads.notify_all();
}

size_t WorkPool::ThreadCount() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->threadCount;
}

bool WorkPool::WaitForIdleThreads(size_t count, std::chrono::milliseconds limit) const
{
    const State& state = *m_state;
    std::unique_lock<std::mutex> guard(state.lock);
    return state.threads.wait_for(guard, limit, [&state, count] {
        return state.threadCount == count && state.idle == count && state.queue.empty();
    });
}

} // namespace AsyncPlatform
