// The branching action.

#include "enterprise/common/async/branching_action.h"

namespace Async {

std::shared_ptr<Job> BranchingAction::Perform(ActionHandler& handler)
{
    // Copies: the chosen action's run may end with this branch destroyed.
    const std::function<bool()> condition = m_condition;
    const std::shared_ptr<Action> thenAction = m_then;
    const std::shared_ptr<Action> elseAction = m_else;
    if (!condition)
        throw std::bad_function_call();
    return (condition() ? thenAction : elseAction)->Perform(handler);
}

} // namespace Async
