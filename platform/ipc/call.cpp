#include "platform/ipc/call.h"

#include "platform/ipc/completion_pool.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/call");

} // namespace

bool CallOutcome::Finish(Common::Error result, Bytes reply)
{
    Completion completion;
    {
        Common::LockGuard guard(m_lock);
        if (m_finished)
            return false;
        m_finished = true;
        if (!m_completion) {
            m_result = std::move(result);
            m_reply = std::move(reply);
            m_done.notify_all();
            return true;
        }
        completion = std::move(m_completion);
        m_completion = nullptr;
    }
    PostCompletion([completion = std::move(completion), result = std::move(result),
                    reply = std::move(reply)]() mutable { completion(result, std::move(reply)); });
    return true;
}

bool CallOutcome::IsFinished() const
{
    Common::LockGuard guard(m_lock);
    return m_finished;
}

Common::Error CallOutcome::Wait(Bytes& reply)
{
    Common::UniqueLock guard(m_lock);
    m_done.wait(guard.Waitable(), [this]() COMMON_REQUIRES(m_lock) { return m_finished; });
    reply = std::move(m_reply);
    return m_result;
}

Common::Error MakeCanceledError()
{
    return MakeIpcError(kCallCanceled, kCallCanceledText, kSource.At("Cancel", __LINE__));
}

} // namespace Ipc
