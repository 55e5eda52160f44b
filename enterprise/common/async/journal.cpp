// Journals.

#include "enterprise/common/async/journal.h"

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/branching_action.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"

namespace Async {

Journal::Journal()
{
    (void)OpenSequence(); // there is no previous sequence yet
    m_root = m_current;
}

Journal::~Journal() = default;

std::shared_ptr<ActionSequence> Journal::OpenSequence()
{
    auto sequence = std::make_shared<ActionSequence>();
    if (m_root) // the root's handle now also owns the new sequence
        m_root = Detail::MakeLifeCycleHandle(m_root, std::make_shared<std::shared_ptr<ActionSequence>>(sequence));
    return std::exchange(m_current, std::move(sequence));
}

void Journal::Add(std::shared_ptr<Action> action)
{
    const std::shared_ptr<ActionSequence> current = m_current;
    current->Add(std::move(action));
}

void Journal::AddFuture(const Future<std::unique_ptr<Action>>& future)
{
    static_cast<ActionExecutor&>(*this).Add(std::shared_ptr<Action>(MakeFutureAction(future)));
}

void Journal::AddBranch(std::function<bool()> condition, std::shared_ptr<Action> action)
{
    std::shared_ptr<Action> otherwise = MakeSuccessAction();
    Add(std::make_shared<BranchingAction>(std::move(condition), std::move(action), std::move(otherwise)));
}

void Journal::BreakIf(std::function<bool()> condition)
{
    std::shared_ptr<Action> end = IsCyclic() ? std::shared_ptr<Action>(MakeImmediateResultAction(GetCycleBreakError()))
                                             : MakeSuccessAction();
    const std::shared_ptr<ActionSequence> previous = OpenSequence();
    previous->Add(std::make_shared<BranchingAction>(std::move(condition), std::move(end), m_current));
}

std::unique_ptr<Action> Journal::MakeCompletionWaitAction()
{
    if (!m_completionWaiter)
        m_completionWaiter = std::make_shared<WaitCompletionHandler>();
    return m_completionWaiter->MakeUncancelableWaitAction();
}

std::unique_ptr<Action> Journal::MakeResultWaitAction()
{
    if (!m_resultWaiter) {
        m_resultWaiter = std::make_shared<WaitCompletionHandler>();
        m_resultWaiter->SetResultPropagation(true);
    }
    return m_resultWaiter->MakeWaitAction();
}

std::shared_ptr<Job> Journal::Perform(ActionHandler& handler)
{
    ActionHandler* chain = &handler;
    if (m_completionWaiter) {
        m_completionWaiter->SetHandler(chain);
        chain = m_completionWaiter.get();
    }
    if (m_resultWaiter) {
        m_resultWaiter->SetHandler(chain);
        chain = m_resultWaiter.get();
    }
    std::shared_ptr<Job> job = IsCyclic() ? m_root->PerformCyclic(*chain) : m_root->Perform(*chain);
    using Data = Detail::ConsolidatedData<std::shared_ptr<ActionSequence>, std::shared_ptr<WaitCompletionHandler>,
                                          std::shared_ptr<WaitCompletionHandler>, EmptyData>;
    return Detail::AttachLifeCycleData(std::move(job), Data{m_root, m_completionWaiter, m_resultWaiter, EmptyData()});
}

} // namespace Async
