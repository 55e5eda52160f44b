// The waiting handler.

#include "enterprise/common/async/waiting_handler.h"

#include "core/common/error.h"
#include "enterprise/common/async/synchronization_callback.h"

namespace Async {

WaitingHandler::WaitingHandler(bool autoReset) : m_event(!autoReset, false), m_result(Common::Success)
{
}

void WaitingHandler::Completed(const Common::Error& result)
{
    {
        Common::LockGuard guard(m_lock);
        m_result = result;
    }
    m_event.Set();
}

Common::Error WaitingHandler::Wait(void* context)
{
    SynchronizeThread(context);
    (void)m_event.Wait(); // without a time limit it returns only when signalled
    Common::LockGuard guard(m_lock);
    return m_result;
}

} // namespace Async
