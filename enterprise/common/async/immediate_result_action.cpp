#include "enterprise/common/async/immediate_result_action.h"

#include "core/common/error.h"

namespace Async {

std::shared_ptr<Job> CompleteWithResult(const Common::Error& result, ActionHandler& handler)
{
    handler.Completed(result);
    return {};
}

std::shared_ptr<Job> CompleteWithSuccess(ActionHandler& handler)
{
    return CompleteWithResult(Common::Success, handler);
}

std::shared_ptr<Job> ImmediateResultAction::Perform(ActionHandler& handler)
{
    return CompleteWithResult(m_result, handler);
}

std::unique_ptr<Action> MakeImmediateResultAction(const Common::Error& result)
{
    return std::make_unique<ImmediateResultAction>(result);
}

std::unique_ptr<Action> MakeSuccessAction()
{
    return MakeImmediateResultAction(Common::Success);
}

} // namespace Async
