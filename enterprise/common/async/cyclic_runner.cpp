#include "enterprise/common/async/cyclic_runner.h"

#include "core/common/message_catalogue.h"

namespace Async {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/async/cyclic_runner", 0xC1CB2475BF108DF2ull - 65);
constexpr unsigned kCyclicJobText = 46; // "ASYNC: Cyclic action execution job."
} // namespace

namespace CyclicRunnerImpl {

CyclicRunner::CyclicRunner(std::shared_ptr<Action> action, ActionHandler& handler)
    : m_action(std::move(action)), m_handler(&handler)
{
}

EntityDescription CyclicRunner::Describe() const
{
    return EntityDescription(Common::GetMessageText(kCyclicJobText), kSource.At("Describe", 65));
}

void CyclicRunner::Cancel()
{
    m_control.Cancel();
}

void CyclicRunner::Run()
{
    // The outer handler may release the last handle during a run.
    const std::shared_ptr<CyclicRunner> self = shared_from_this();
    for (;;) {
        m_phase.store(kPerforming, std::memory_order_release);
        m_control.Perform(*m_action, *this, this);
        int phase = kPerforming;
        if (m_phase.compare_exchange_strong(phase, kWaiting, std::memory_order_acq_rel))
            return; // not completed yet, or ended: the completion takes over
        // kRepeat: the run succeeded before its Perform returned.
    }
}

void CyclicRunner::Completed(const Common::Error& result)
{
    if (!result.IsSuccess()) {
        // Ends the cycle; the handler may drop the last reference to the runner.
        m_handler->Completed(result);
        return;
    }
    int phase = kPerforming;
    if (m_phase.compare_exchange_strong(phase, kRepeat, std::memory_order_acq_rel))
        return; // the loop whose Perform is on the stack repeats
    Run();
}

std::shared_ptr<Job> Start(const std::shared_ptr<Action>& action, ActionHandler& handler)
{
    auto runner = std::make_shared<CyclicRunner>(action, handler);
    runner->Run();
    return runner;
}

} // namespace CyclicRunnerImpl

namespace Detail {

std::shared_ptr<Job> CyclicRunAction::Perform(ActionHandler& handler)
{
    return CyclicRunnerImpl::Start(m_action, handler);
}

} // namespace Detail

std::unique_ptr<Action> MakeCyclicAction(std::unique_ptr<Action>& action)
{
    return std::make_unique<Detail::CyclicRunAction>(std::shared_ptr<Action>(std::move(action)));
}

} // namespace Async
