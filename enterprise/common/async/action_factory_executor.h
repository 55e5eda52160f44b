// Async::Detail::CreateActionFactoryExecutorAction: an action that, when
// performed, calls a factory for an action, performs that action with its
// handler, destroys it once its Perform has returned and returns its job. A
// Common::Error thrown by the factory propagates out of Perform; a factory
// that returns no action completes the handler with ASYNC_ERROR_RESULT_INVALID.
//
// Threading: Perform on the caller's thread.
#pragma once

#include <memory>
#include <utility>

#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/async/job.h"

namespace Async::Detail {

template <typename Factory>
class ActionFactoryExecutorAction : public Action
{
public:
    explicit ActionFactoryExecutorAction(Factory factory) : m_factory(std::move(factory)) {}

    std::shared_ptr<Job> Perform(ActionHandler& handler) override
    {
        const std::unique_ptr<Action> action(m_factory());
        if (!action)
            return CompleteWithResult(GetInvalidResultError(), handler);
        return action->Perform(handler);
    }

private:
    Factory m_factory;
};

template <typename Factory>
std::unique_ptr<Action> CreateActionFactoryExecutorAction(Factory factory)
{
    return std::make_unique<ActionFactoryExecutorAction<Factory>>(std::move(factory));
}

} // namespace Async::Detail
