// Events over per-waiter condition variables.

#include "core/common/event.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <pthread.h>
#include <sys/time.h>

#include "core/common/assertion.h"

namespace Common {

namespace {

Event* TimedOutMark()
{
    return reinterpret_cast<Event*>(~std::uintptr_t(0));
}

} // namespace

Event::Waiter::Waiter()
    : condition(PTHREAD_COND_INITIALIZER), mutex(PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP), result(nullptr)
{
}

Event::Waiter::~Waiter()
{
    pthread_cond_destroy(&condition);
    pthread_mutex_destroy(&mutex);
}

Event::Event(bool manualReset, bool initiallySignalled)
    : m_waiters(nullptr), m_manualReset(manualReset), m_signalled(initiallySignalled)
{
}

Event::~Event()
{
    LockGuard guard(m_mutex);
    if (m_waiters && !m_waiters->empty())
        ReportAssertion("EVENT_DATA.Waiters->empty() || !\"Destroying Event which is being Wait()'ed for\"", __FILE__,
                        __LINE__);
    m_waiters.reset();
}

void Event::Set()
{
    LockGuard guard(m_mutex);
    if (m_signalled)
        return;
    m_signalled = true;
    if (!m_waiters)
        return;
    for (Waiter* waiter : *m_waiters) {
        COMMON_ASSERT(waiter);
        if (!waiter)
            continue;
        bool taken;
        {
            LockGuard waiterGuard(*waiter);
            taken = waiter->result == nullptr;
            if (taken) {
                waiter->result = this;
                pthread_cond_signal(&waiter->condition);
            }
        }
        // A waiter that already timed out cannot take the signal: it goes to
        // the next one or stays in the event.
        if (taken && !m_manualReset) {
            m_signalled = false;
            break;
        }
    }
}

void Event::Reset()
{
    LockGuard guard(m_mutex);
    m_signalled = false;
}

bool Event::Wait()
{
    return TimedWait(INFINITE_WAIT);
}

bool Event::TimedWait(uint32_t milliseconds)
{
    Waiter waiter;
    std::list<Waiter*>::iterator entry;
    {
        LockGuard guard(m_mutex);
        if (m_signalled) {
            if (!m_manualReset)
                m_signalled = false;
            return true;
        }
        if (milliseconds == 0)
            return false;
        if (!m_waiters)
            m_waiters = std::make_unique<std::list<Waiter*>>();
        entry = m_waiters->insert(m_waiters->end(), &waiter);
    }

    const Event* result;
    {
        LockGuard waiterGuard(waiter);
        if (milliseconds == INFINITE_WAIT) {
            while (!waiter.result) {
                const int res = pthread_cond_wait(&waiter.condition, &waiter.mutex);
                COMMON_ASSERT(res == 0 || !"pthread_cond_wait() failed");
            }
        } else {
            timeval now;
            gettimeofday(&now, nullptr);
            const uint64_t micro = static_cast<uint64_t>(now.tv_usec) + (milliseconds % 1000) * 1000ull;
            timespec deadline;
            deadline.tv_sec = now.tv_sec + milliseconds / 1000 + static_cast<time_t>(micro / 1000000);
            deadline.tv_nsec = static_cast<long>((micro % 1000000) * 1000);
            while (!waiter.result) {
                if (pthread_cond_timedwait(&waiter.condition, &waiter.mutex, &deadline) == ETIMEDOUT)
                    break;
            }
            if (!waiter.result)
                waiter.result = TimedOutMark();
        }
        result = waiter.result;
    }

    const unsigned millisec = milliseconds;
    COMMON_ASSERT(millisec != ~0U || result);

    LockGuard guard(m_mutex);
    m_waiters->erase(entry);
    return result == this;
}

} // namespace Common
