#include "platform/ipc/reply_budget.h"

#include <algorithm>

namespace Ipc {

ReplyBudget::ReplyBudget(size_t bytes) : m_bytes(bytes)
{
}

size_t ReplyBudget::GetBytesInUse()
{
    Common::LockGuard guard(m_lock);
    return m_inUse;
}

size_t ReplyBudget::GetWaiting()
{
    Common::LockGuard guard(m_lock);
    return static_cast<size_t>(m_nextTicket - m_granting);
}

void ReplyBudget::Acquire(size_t bytes)
{
    Common::UniqueLock guard(m_lock);
    const uint64_t ticket = m_nextTicket++;
    m_changed.wait(guard.Waitable(), [&]() COMMON_REQUIRES(m_lock) {
        return ticket == m_granting && (m_inUse == 0 || bytes <= m_bytes - std::min(m_inUse, m_bytes));
    });
    m_inUse += bytes;
    ++m_granting;
    m_changed.notify_all(); // the next in turn may fit as well
}

void ReplyBudget::Release(size_t bytes)
{
    {
        Common::LockGuard guard(m_lock);
        m_inUse -= bytes;
    }
    m_changed.notify_all();
}

void ReplyLease::Take(size_t bytes)
{
    Release();
    if (!m_budget || bytes == 0)
        return;
    m_budget->Acquire(bytes);
    m_bytes = bytes;
}

void ReplyLease::Release()
{
    if (m_budget && m_bytes != 0)
        m_budget->Release(m_bytes);
    m_bytes = 0;
}

} // namespace Ipc
