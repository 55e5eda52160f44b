// The timer thread of the async service.

#include "platform/async/tick_timer.h"

#include <condition_variable>
#include <map>
#include <thread>
#include <unordered_map>
#include <utility>

#include "core/common/mutex.h"

namespace AsyncPlatform {

namespace {

struct Entry
{
    TickTimer::Callback callback;
    bool cancelled = false;
};

// Ordered by deadline, then by id (the order of scheduling).
using Key = std::pair<TickTimer::Clock::time_point, TickTimer::Id>;

} // namespace

struct TickTimer::State
{
    Common::NonRecursiveMutex lock;
    std::condition_variable changed;
    std::map<Key, Entry> entries COMMON_GUARDED_BY(lock);
    std::unordered_map<Id, Clock::time_point> deadlines COMMON_GUARDED_BY(lock); // of the scheduled entries
    Id lastId COMMON_GUARDED_BY(lock) = 0;
    bool stopping COMMON_GUARDED_BY(lock) = false;
    std::thread thread; // started under the lock, joined by the destructor
};

TickTimer::TickTimer() : m_state(std::make_unique<State>())
{
}

TickTimer::~TickTimer()
{
    {
        Common::LockGuard guard(m_state->lock);
        m_state->stopping = true;
        m_state->changed.notify_all();
    }
    if (m_state->thread.joinable())
        m_state->thread.join();
}

TickTimer::Id TickTimer::Schedule(Clock::time_point deadline, Callback callback)
{
    State& state = *m_state;
    Common::LockGuard guard(state.lock);
    if (!state.thread.joinable())
        state.thread = std::thread(&TickTimer::RunThread, this);
    const Id id = state.lastId + 1;
    state.deadlines.emplace(id, deadline);
    try {
        state.entries.emplace(Key(deadline, id), Entry{std::move(callback), false});
    } catch (...) {
        state.deadlines.erase(id);
        throw;
    }
    state.lastId = id;
    if (state.entries.begin()->first.second == id)
        state.changed.notify_all(); // a new earliest deadline
    return id;
}

void TickTimer::Cancel(Id id)
{
    State& state = *m_state;
    Common::LockGuard guard(state.lock);
    auto deadline = state.deadlines.find(id);
    if (deadline == state.deadlines.end())
        return; // called already, or being called
    auto entry = state.entries.find(Key(deadline->second, id));
    // Re-keyed at the earliest possible time; node handles move without allocating.
    auto node = state.entries.extract(entry);
    node.key() = Key(Clock::time_point::min(), id);
    node.mapped().cancelled = true;
    state.entries.insert(std::move(node));
    deadline->second = Clock::time_point::min();
    state.changed.notify_all();
}

void TickTimer::RunThread()
{
    State& state = *m_state;
    Common::UniqueLock guard(state.lock);
    for (;;) {
        if (state.entries.empty()) {
            if (state.stopping)
                return;
            state.changed.wait(guard.Waitable());
            continue;
        }
        auto first = state.entries.begin();
        if (!state.stopping && !first->second.cancelled && first->first.first > Clock::now()) {
            state.changed.wait_until(guard.Waitable(), first->first.first);
            continue;
        }
        // A stopping timer calls what is left as cancelled.
        const bool cancelled = first->second.cancelled || state.stopping;
        Callback callback = std::move(first->second.callback);
        state.deadlines.erase(first->first.second);
        state.entries.erase(first);
        guard.Unlock();
        callback(cancelled);
        callback = nullptr;
        guard.Lock();
    }
}

} // namespace AsyncPlatform
