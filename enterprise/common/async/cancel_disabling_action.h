// Async::CancelDisablingAction: runs another action under a job whose Cancel
// does nothing, so the inner action always runs to its own end. A failure
// arrives wrapped in ASYNC_ERROR_JOB_CONTEXT ("ASYNC: Unidentified job.").
// Each Perform makes a new job; the action may be performed again. A job keeps
// itself alive until its handler has been called.
//
// Threading: Perform on the caller's thread; the completion on any thread.
#pragma once

#include <memory>

#include "enterprise/common/async/job.h"

namespace Async {

class CancelDisablingAction : public Action
{
public:
    // The only way to make one: takes `inner` over.
    static std::unique_ptr<Action> Create(std::unique_ptr<Action> inner);

    std::shared_ptr<Job> Perform(ActionHandler& handler) override;

private:
    explicit CancelDisablingAction(std::unique_ptr<Action> inner) : m_inner(std::move(inner)) {}

    std::unique_ptr<Action> m_inner;
};

} // namespace Async
