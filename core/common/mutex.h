// Common::Mutex: a recursive POSIX mutex.
//
// Construction writes the static initial state of a recursive mutex in place,
// so a zero-filled static becomes usable by that one write.
//
// Common::NonRecursiveMutex: a plain mutex over std::mutex, constant-initialized
// and never torn down, so a static one serves start-up and exit code alike;
// Common::UniqueLock holds one for a scope and lets a condition variable wait
// on it.
//
// Threading: Lock/Unlock from any thread. A Mutex may be locked again by the
// thread that holds it, which must unlock as often; unlocking from a thread
// that does not hold it is reported as a failed assertion. A NonRecursiveMutex
// is locked once and unlocked by its holder.
//
// Common::LockGuard<L> holds anything with Lock() and Unlock() (a Mutex, a
// NonRecursiveMutex, the static recursive lock) for one scope:
//
//     Common::LockGuard guard(m_mutex);
//
// The locks and guards carry the annotations of thread_annotations.h, so the
// members a lock guards can say so (COMMON_GUARDED_BY) and clang checks them.
#pragma once

#include <pthread.h>

#include <mutex>
#include <type_traits>

#include "core/common/thread_annotations.h"

namespace Common {

class COMMON_CAPABILITY("mutex") Mutex
{
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // The result of pthread_mutex_lock.
    int Lock() COMMON_ACQUIRE();
    void Unlock() COMMON_RELEASE();

private:
    pthread_mutex_t m_mutex;
};

class COMMON_CAPABILITY("mutex") NonRecursiveMutex
{
public:
    constexpr NonRecursiveMutex() noexcept = default;
    NonRecursiveMutex(const NonRecursiveMutex&) = delete;
    NonRecursiveMutex& operator=(const NonRecursiveMutex&) = delete;

    // Always 0, like a successful Mutex::Lock.
    int Lock() COMMON_ACQUIRE() COMMON_NO_THREAD_SAFETY_ANALYSIS
    {
        m_mutex.lock();
        return 0;
    }
    void Unlock() COMMON_RELEASE() COMMON_NO_THREAD_SAFETY_ANALYSIS { m_mutex.unlock(); }

private:
    friend class UniqueLock;

    // Nothing to run at exit: a static mutex outlives every exit action.
    static_assert(std::is_trivially_destructible_v<std::mutex>);
    std::mutex m_mutex;
};

// Locks in the constructor, unlocks in the destructor.
template <typename Lockable>
class [[nodiscard]] COMMON_SCOPED_CAPABILITY LockGuard
{
public:
    explicit LockGuard(Lockable& lockable) COMMON_ACQUIRE(lockable) : m_lockable(lockable) { (void)m_lockable.Lock(); }
    ~LockGuard() COMMON_RELEASE() { m_lockable.Unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lockable& m_lockable;
};

// Holds a NonRecursiveMutex from construction to destruction, except between
// an Unlock and the next Lock (around a call that must run without it).
// Waitable() is what a std::condition_variable waits on: the wait gives the
// mutex back and takes it again before it returns. A predicate of such a wait
// reads guarded members, so it says it needs the mutex:
//
//     state.changed.wait(guard.Waitable(), [&state]() COMMON_REQUIRES(state.lock) { return state.ready; });
class [[nodiscard]] COMMON_SCOPED_CAPABILITY UniqueLock
{
public:
    explicit UniqueLock(NonRecursiveMutex& mutex) COMMON_ACQUIRE(mutex) : m_lock(mutex.m_mutex) {}
    ~UniqueLock() COMMON_RELEASE() {}
    UniqueLock(const UniqueLock&) = delete;
    UniqueLock& operator=(const UniqueLock&) = delete;

    void Lock() COMMON_ACQUIRE() { m_lock.lock(); }
    void Unlock() COMMON_RELEASE() { m_lock.unlock(); }
    std::unique_lock<std::mutex>& Waitable() { return m_lock; }

private:
    std::unique_lock<std::mutex> m_lock;
};

} // namespace Common
