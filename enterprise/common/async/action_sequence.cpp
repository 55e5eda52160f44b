// Action sequences and their jobs.

#include "enterprise/common/async/action_sequence.h"

#include "core/common/error.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"

namespace Async {

std::shared_ptr<Job> ActionSequence::Perform(ActionHandler& handler)
{
    return PerformSequence(IsCyclic(), handler);
}

void ActionSequence::Add(std::shared_ptr<Action> action)
{
    if (!action)
        return;
    if (!m_actions)
        m_actions = std::make_shared<Actions>();
    m_actions->push_back(std::move(action));
}

std::shared_ptr<Job> ActionSequence::PerformCyclic(ActionHandler& handler)
{
    return PerformSequence(true, handler);
}

std::shared_ptr<Job> ActionSequence::PerformSequence(bool cyclic, ActionHandler& handler)
{
    if (!m_actions || m_actions->empty())
        return CompleteWithSuccess(handler);
    auto job = std::make_shared<ActionSequenceJob>(handler, m_actions, cyclic);
    job->ProcessLoop();
    return job;
}

ActionSequence::ActionSequenceJob::ActionSequenceJob(ActionHandler& handler, std::shared_ptr<Actions> actions,
                                                     bool cyclic)
    : m_handler(&handler), m_actions(std::move(actions)), m_cyclic(cyclic)
{
    Initialize();
}

void ActionSequence::ActionSequenceJob::Cancel()
{
    m_control.Cancel();
}

void ActionSequence::ActionSequenceJob::ProcessStep()
{
    m_control.Perform(*(*m_actions)[m_position], *this, this);
}

void ActionSequence::ActionSequenceJob::Completed(const Common::Error& result)
{
    if (result.IsSuccess()) {
        if (++m_position < m_actions->size()) {
            (void)Continue(); // whether the loop ran here or goes on in its pass does not matter
            return;
        }
        if (m_cyclic) {
            m_position = 0;
            (void)Continue();
            return;
        }
        m_handler->Completed(Common::Success);
        return;
    }
    if (ChainContainsCode(result, ASYNC_ERROR_SEQUENCE_STOP) ||
        (m_cyclic && ChainContainsCode(result, ASYNC_ERROR_CYCLE_BREAK))) {
        m_handler->Completed(Common::Success);
        return;
    }
    m_handler->Completed(result);
}

} // namespace Async
