// Por::DeferredMerge: the flag of a sorted container that takes out-of-order
// arrivals into a side structure and merges them into its sorted vector on the
// next read, so that building costs n log n in any arrival order.
//
// Threading: writers (who raise the flag and merge directly) are exclusive, as
// for any unit. Readers of a unit that nobody writes may run at once; the first
// of them merges through Settle, under one process-wide lock, and the others
// see the merged vector once Settle returns.
#pragma once

#include <atomic>

#include "core/common/mutex.h"

namespace Por {

class DeferredMerge
{
public:
    // Arrivals wait in the side structure.
    void Raise() noexcept { m_pending.store(true, std::memory_order_relaxed); }

    // Runs `merge` if arrivals wait, once, whoever calls. A merge that throws
    // must leave its container as it was; the arrivals then go on waiting.
    template <typename Merge>
    void Settle(Merge&& merge) const
    {
        if (!m_pending.load(std::memory_order_acquire))
            return;
        Common::LockGuard guard(MergeLock());
        if (m_pending.load(std::memory_order_relaxed)) {
            merge();
            m_pending.store(false, std::memory_order_release);
        }
    }

private:
    static Common::Mutex& MergeLock() noexcept;

    mutable std::atomic<bool> m_pending{false};
};

} // namespace Por
