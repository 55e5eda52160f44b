// The wait-completion handler and its logic.

#include "enterprise/common/async/wait_completion_handler.h"

#include <functional>

#include "core/common/error.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/cancel_disabling_action.h"
#include "enterprise/common/async/immediate_result_action.h"

namespace Async {

// Completes a waiter with the logic's result once its passage is granted; a
// cancelled wait passes the cancel on.
class WaitCompletionHandler::Logic::ResultPropagator : public ActionHandler
{
public:
    ResultPropagator(ActionHandler& handler, Logic& logic) : m_handler(handler), m_logic(&logic) {}

    void Completed(const Common::Error& result) override
    {
        // A grant comes after the completion stored the result and gave the
        // exclusive passage back; the gate's mutex orders the two.
        m_handler.Completed(result.IsSuccess() ? m_logic->m_result : result);
    }

private:
    ActionHandler& m_handler;
    Logic* m_logic; // kept alive by the wait's job handle
};

WaitCompletionHandler::WaitCompletionHandler() : m_logic(std::make_shared<Logic>()), m_weakLogic(m_logic)
{
    m_logic->SetPropagation(m_propagate);
}

WaitCompletionHandler::~WaitCompletionHandler() = default;

void WaitCompletionHandler::Completed(const Common::Error& result)
{
    const std::shared_ptr<Logic> logic = std::move(m_logic);
    DelegatingActionHandler::Completed(result);
    if (logic)
        logic->Completed(result);
}

void WaitCompletionHandler::SetResultPropagation(bool propagate)
{
    Common::LockGuard guard(m_mutex);
    m_propagate = propagate;
    if (m_logic)
        m_logic->SetPropagation(propagate);
}

std::unique_ptr<Action> WaitCompletionHandler::MakeWaitAction()
{
    std::shared_ptr<Logic> logic;
    {
        Common::LockGuard guard(m_mutex);
        logic = m_weakLogic.lock();
    }
    if (!logic)
        return MakeSuccessAction();
    return Detail::MakeActionAdaptor(std::bind(&Logic::Wait, logic, std::placeholders::_1), logic);
}

std::unique_ptr<Action> WaitCompletionHandler::MakeUncancelableWaitAction()
{
    return CancelDisablingAction::Create(MakeWaitAction());
}

WaitCompletionHandler::Logic::Logic() : m_gate(Gateway::CreateAcquired(m_exclusive)), m_result(Common::Success)
{
}

void WaitCompletionHandler::Logic::Completed(const Common::Error& result)
{
    m_result = result;
    m_exclusive.reset();
}

std::shared_ptr<Job> WaitCompletionHandler::Logic::Wait(ActionHandler& handler)
{
    auto holder = std::make_shared<std::unique_ptr<Gateway::Flag>>();
    if (!m_propagate)
        return Detail::AttachLifeCycleData(m_gate.AcquireShared(*holder, handler), holder);
    auto propagator = std::make_shared<ResultPropagator>(handler, *this);
    std::shared_ptr<Job> job = Detail::AttachLifeCycleData(m_gate.AcquireShared(*holder, *propagator), holder);
    return Detail::AttachLifeCycleData(std::move(job), std::shared_ptr<ActionHandler>(std::move(propagator)));
}

} // namespace Async
