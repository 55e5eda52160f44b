// Async::BranchingAction: performs one of two actions, chosen by a condition
// when it is performed; the chosen action's job and completion are the
// branch's own. An empty condition throws std::bad_function_call and performs
// nothing.
//
// Threading: Perform on the caller's thread; the branch itself holds no state
// that changes.
#pragma once

#include <functional>
#include <memory>

#include "enterprise/common/async/job.h"

namespace Async {

class BranchingAction : public Action
{
public:
    BranchingAction(std::function<bool()> condition, std::shared_ptr<Action> thenAction,
                    std::shared_ptr<Action> elseAction)
        : m_condition(std::move(condition)), m_then(std::move(thenAction)), m_else(std::move(elseAction))
    {
    }

    std::shared_ptr<Job> Perform(ActionHandler& handler) override;

private:
    std::function<bool()> m_condition;
    std::shared_ptr<Action> m_then;
    std::shared_ptr<Action> m_else;
};

} // namespace Async
