// Common::StaticRecursiveLock: a recursive lock whose all-zero state is a valid
// unlocked lock, for guarding the construction of function-local statics.
//
// Uncontended, Lock and Unlock cost one atomic increment and one atomic
// decrement; a semaphore is created only when a thread has to wait. The owner
// of a static lock registers Destroy to run at exit; the lock keeps working
// afterwards and frees its semaphore whenever no thread waits.
//
// Threading: any thread. The same thread may lock again and must unlock as
// often; only the holder unlocks.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/common/counting_semaphore.h"
#include "core/common/thread_annotations.h"
#include "core/common/thread_id.h"

namespace Common {

class COMMON_CAPABILITY("mutex") StaticRecursiveLock
{
public:
    constexpr StaticRecursiveLock() = default;
    StaticRecursiveLock(const StaticRecursiveLock&) = delete;
    StaticRecursiveLock& operator=(const StaticRecursiveLock&) = delete;

    void Lock() COMMON_ACQUIRE();
    void Unlock() COMMON_RELEASE();
    // The at-exit action of a static lock.
    void Destroy();

private:
    Semaphore* GetSemaphore(bool wait);
    Semaphore* WaitForSemaphore();
    void ReleaseSemaphore() COMMON_REQUIRES(this);

    // Lock calls not yet matched by Unlock: the holder's depth plus the waiters.
    std::atomic<int64_t> m_count{0};
    // The holder's recursion depth; only the holder touches it.
    int64_t m_depth COMMON_GUARDED_BY(this) = 0;
    // The holder, 0 when free. Written only by the holder.
    std::atomic<ThreadId> m_owner{0};
    // Null until needed, all ones while being torn down.
    std::atomic<Semaphore*> m_semaphore{nullptr};
    bool m_teardown COMMON_GUARDED_BY(this) = false;
};

} // namespace Common
