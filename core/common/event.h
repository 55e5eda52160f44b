// Common::Event: an event with manual or automatic reset, waitable with a time
// limit.
//
// A manual-reset event wakes every waiter and stays signalled until Reset. An
// auto-reset event hands its signal to exactly one waiter (the oldest that is
// still waiting), or keeps it for the next wait.
//
// Threading: all operations from any thread. The event's mutex guards its
// state and waiter list; each waiter has its own mutex (lock order: event, then
// waiter). The event must not be destroyed while a thread waits on it.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <pthread.h>

#include "core/common/mutex.h"
#include "core/common/thread_annotations.h"

namespace Common {

class Event
{
public:
    // TimedWait without a limit.
    static constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

    Event(bool manualReset, bool initiallySignalled);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled for this caller within `milliseconds`
    // (INFINITE_WAIT: no limit; 0: only test).
    bool TimedWait(uint32_t milliseconds);
    bool Wait();

private:
    friend struct EventTestAccess;

    // Lives on the waiting thread's stack for one wait. `result` is guarded by
    // `mutex`: null while waiting, the event that woke it, or all ones after a
    // timeout (a later Set skips it then).
    struct COMMON_CAPABILITY("mutex") Waiter
    {
        pthread_cond_t condition;
        pthread_mutex_t mutex;
        Event* result COMMON_GUARDED_BY(this);

        Waiter();
        ~Waiter();
        Waiter(const Waiter&) = delete;
        Waiter& operator=(const Waiter&) = delete;

        // For LockGuard.
        int Lock() COMMON_ACQUIRE() COMMON_NO_THREAD_SAFETY_ANALYSIS { return pthread_mutex_lock(&mutex); }
        void Unlock() COMMON_RELEASE() COMMON_NO_THREAD_SAFETY_ANALYSIS { pthread_mutex_unlock(&mutex); }
    };

    Mutex m_mutex;
    // Made at the first wait that blocks.
    std::unique_ptr<std::list<Waiter*>> m_waiters COMMON_GUARDED_BY(m_mutex);
    const bool m_manualReset;
    bool m_signalled COMMON_GUARDED_BY(m_mutex);
};

} // namespace Common
