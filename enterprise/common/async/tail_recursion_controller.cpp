#include "enterprise/common/async/tail_recursion_controller.h"

#include <functional>

#include "enterprise/common/async/silent_work_adaptor.h"

namespace Async {

TailRecursionController::TailRecursionController() : m_free(true), m_owner(0), m_pending(nullptr)
{
}

TailRecursionController::~TailRecursionController() = default;

void TailRecursionController::Initialize()
{
    Common::LockGuard guard(m_mutex);
    m_free = true;
    m_owner = 0;
    m_pending = nullptr;
}

TailRecursionController::ProcessingDetachment::~ProcessingDetachment()
{
    {
        Common::LockGuard guard(m_controller->m_mutex);
        if (m_controller->m_pending == this)
            m_controller->m_pending = nullptr;
    }
    Wait();
}

bool TailRecursionController::ProcessingDetachment::IsReady()
{
    Common::LockGuard guard(m_controller->m_mutex);
    return m_controller->m_free;
}

std::unique_ptr<Work> TailRecursionController::ProcessingDetachment::TakeWork()
{
    auto loop = std::bind(&TailRecursionController::ProcessLoop, m_controller);
    return std::make_unique<SilentWorkAdaptor<decltype(loop), std::shared_ptr<void>>>(loop, m_controller->KeepAlive());
}

bool TailRecursionController::Enter(bool releaseOwnMark, ProcessingDetachment* detachment)
{
    const Common::ThreadId self = Common::GetCurrentThreadId();
    Common::LockGuard guard(m_mutex);
    if (m_free) {
        m_free = false;
        m_owner = self;
        m_pending = detachment;
        return true;
    }
    if (releaseOwnMark && m_owner == self)
        m_owner = 0;
    return false;
}

bool TailRecursionController::Leave(ProcessingDetachment*& pending)
{
    const Common::ThreadId self = Common::GetCurrentThreadId();
    Common::LockGuard guard(m_mutex);
    pending = m_pending;
    m_pending = nullptr;
    m_free = true;
    return m_owner != self;
}

void TailRecursionController::ProcessLoop()
{
    std::shared_ptr<void> keepAlive;
    for (bool releaseOwnMark = false;; releaseOwnMark = true) {
        // Pushed on this thread's chain for the pass; its destructor dismisses it.
        ProcessingDetachment detachment(*this);
        if (!Enter(releaseOwnMark, &detachment))
            return;
        if (!keepAlive)
            keepAlive = KeepAlive();
        ProcessStep();
    }
}

bool TailRecursionController::Continue()
{
    const std::shared_ptr<void> keepAlive = KeepAlive();
    ProcessingDetachment* pending = nullptr;
    if (Leave(pending)) {
        ProcessLoop();
        return true;
    }
    // The completion came inside the loop's own pass: the pass's guard forks
    // the loop if the pass holds up longer than a period.
    if (pending)
        pending->StartMetronome();
    return false;
}

} // namespace Async
