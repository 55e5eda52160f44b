// The memory a server lets its replies hold at once.
//
// A ReplyBudget is a number of bytes shared by every session of a server.
// Whoever builds a reply first takes a share of it for the bytes the reply
// will need (ReplyLease::Take), and the share is given back once the reply
// was sent (ReplyLease::Release, or the lease's end). A share that does not
// fit beside those in use waits its turn: shares are granted in the order
// they were asked for, each as soon as the bytes in use leave room for it,
// so a large reply is not passed over for ever by small ones. A share larger
// than the whole budget is granted once nothing else is in use: such a reply
// still runs, alone. So the replies of all sessions hold at most the budget
// at once, or one reply that is larger than it.
//
// A lease without a budget (the local road, whose replies stay in the
// caller's process) takes its shares without waiting and counts nothing.
//
// Threading: a ReplyBudget is used by any number of threads at once; a
// ReplyLease by one thread at a time. A budget must outlive its leases.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>

#include "core/common/mutex.h"

namespace Ipc {

class ReplyBudget
{
public:
    explicit ReplyBudget(size_t bytes);
    ReplyBudget(const ReplyBudget&) = delete;
    ReplyBudget& operator=(const ReplyBudget&) = delete;

    size_t GetBytes() const { return m_bytes; }
    // The bytes of the shares granted and not given back.
    size_t GetBytesInUse() COMMON_EXCLUDES(m_lock);
    // The shares asked for and not granted yet.
    size_t GetWaiting() COMMON_EXCLUDES(m_lock);

private:
    friend class ReplyLease;
    void Acquire(size_t bytes) COMMON_EXCLUDES(m_lock);
    void Release(size_t bytes) COMMON_EXCLUDES(m_lock);

    const size_t m_bytes;
    Common::NonRecursiveMutex m_lock;
    std::condition_variable m_changed; // a share granted or given back
    size_t m_inUse COMMON_GUARDED_BY(m_lock) = 0;
    uint64_t m_nextTicket COMMON_GUARDED_BY(m_lock) = 0; // handed to the next share asked for
    uint64_t m_granting COMMON_GUARDED_BY(m_lock) = 0;   // the ticket whose turn it is
};

class ReplyLease
{
public:
    ReplyLease() = default; // without a budget
    explicit ReplyLease(ReplyBudget& budget) : m_budget(&budget) {}
    ~ReplyLease() { Release(); }
    ReplyLease(const ReplyLease&) = delete;
    ReplyLease& operator=(const ReplyLease&) = delete;

    // Makes the lease hold a share of `bytes`, in place of the one it held
    // (given back first, so that a lease never waits while it holds bytes);
    // waits until the share is granted.
    void Take(size_t bytes);
    // Gives the share back; again does nothing.
    void Release();
    size_t GetBytes() const { return m_bytes; }

private:
    ReplyBudget* m_budget = nullptr;
    size_t m_bytes = 0;
};

} // namespace Ipc
