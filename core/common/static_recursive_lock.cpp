// A recursive lock that counts its users atomically and lets waiters sleep on a
// semaphore created only under contention.

#include "core/common/static_recursive_lock.h"

#include <cstdint>

namespace Common {

namespace {

Semaphore* TearingDown()
{
    return reinterpret_cast<Semaphore*>(~std::uintptr_t(0));
}

} // namespace

void StaticRecursiveLock::Lock() COMMON_NO_THREAD_SAFETY_ANALYSIS
{
    const ThreadId self = GetCurrentThreadId();
    const int64_t previous = m_count.fetch_add(1);
    if (previous != 0) {
        if (pthread_equal(m_owner.load(std::memory_order_relaxed), self)) {
            ++m_depth;
            if (m_teardown)
                ReleaseSemaphore();
            return;
        }
        Semaphore* semaphore;
        while (!(semaphore = GetSemaphore(true)))
            SpinPause(); // out of memory: try again
        semaphore->Wait();
    }
    m_depth = 1;
    m_owner.store(self);
    if (m_teardown)
        ReleaseSemaphore();
}

void StaticRecursiveLock::Unlock() COMMON_NO_THREAD_SAFETY_ANALYSIS
{
    if (--m_depth > 0) {
        m_count.fetch_sub(1);
        return;
    }
    m_owner.store(ThreadId{});
    if (m_count.fetch_sub(1) > 1) {
        Semaphore* semaphore;
        while (!(semaphore = GetSemaphore(false)))
            SpinPause(); // out of memory: try again
        semaphore->Post();
    }
}

void StaticRecursiveLock::Destroy()
{
    Lock();
    m_teardown = true;
    ReleaseSemaphore();
    Unlock();
}

Semaphore* StaticRecursiveLock::WaitForSemaphore()
{
    Semaphore* semaphore;
    while ((semaphore = m_semaphore.load()) == TearingDown())
        SpinPause();
    return semaphore;
}

Semaphore* StaticRecursiveLock::GetSemaphore(bool /*wait*/)
{
    // Only the holder tears the semaphore down, and the holder never asks for
    // it meanwhile; anyone else waits for the teardown to finish.
    Semaphore* created = nullptr;
    for (;;) {
        Semaphore* current = WaitForSemaphore();
        if (current) {
            Semaphore::Destroy(created);
            return current;
        }
        if (!created && !(created = Semaphore::Create()))
            return nullptr;
        Semaphore* expected = nullptr;
        if (m_semaphore.compare_exchange_strong(expected, created))
            return created;
    }
}

void StaticRecursiveLock::ReleaseSemaphore()
{
    Semaphore* old = m_semaphore.exchange(TearingDown());
    if (m_depth < m_count.load()) {
        m_semaphore.store(old); // threads still wait on it
        return;
    }
    m_semaphore.store(nullptr);
    Semaphore::Destroy(old);
}

} // namespace Common
