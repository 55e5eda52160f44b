// Actions that complete at once, and the helpers that complete a handler and
// return no job.
//
// Threading: Perform completes on the calling thread; the held result is
// constant.
#pragma once

#include <memory>

#include "enterprise/common/async/job.h"

namespace Async {

// Calls handler.Completed(result) and returns an empty job.
std::shared_ptr<Job> CompleteWithResult(const Common::Error& result, ActionHandler& handler);
std::shared_ptr<Job> CompleteWithSuccess(ActionHandler& handler);

// An action whose Perform completes the handler with the held result and
// returns an empty job.
class ImmediateResultAction : public Action
{
public:
    explicit ImmediateResultAction(const Common::Error& result) : m_result(result) {}

    std::shared_ptr<Job> Perform(ActionHandler& handler) override;

private:
    Common::Error m_result;
};

std::unique_ptr<Action> MakeImmediateResultAction(const Common::Error& result);
std::unique_ptr<Action> MakeSuccessAction();

} // namespace Async
