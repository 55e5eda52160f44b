// Common::Mutex: a recursive POSIX mutex.
//
// Construction writes the static initial state of a recursive mutex in place,
// so a zero-filled static becomes usable by that one write.
//
// Threading: Lock/Unlock from any thread; the same thread may lock again and
// must unlock as often. Unlocking from a thread that does not hold the mutex is
// reported as a failed assertion.
//
// Common::LockGuard<L> holds anything with Lock() and Unlock() (a Mutex, the
// static recursive lock) for one scope:
//
//     Common::LockGuard guard(m_mutex);
#pragma once

#include <pthread.h>

namespace Common {

class Mutex
{
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // The result of pthread_mutex_lock.
    int Lock();
    void Unlock();

private:
    pthread_mutex_t m_mutex;
};

// Locks in the constructor, unlocks in the destructor.
template <typename Lockable>
class [[nodiscard]] LockGuard
{
public:
    explicit LockGuard(Lockable& lockable) : m_lockable(lockable) { (void)m_lockable.Lock(); }
    ~LockGuard() { m_lockable.Unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lockable& m_lockable;
};

} // namespace Common
