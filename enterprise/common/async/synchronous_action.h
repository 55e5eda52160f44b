// Synchronous actions: a computation that takes part in a workflow as an
// action. Perform runs the work, completes the handler before it returns and
// hands out no job. A Common::Error thrown by the work becomes
// ASYNC_ERROR_WORK_EXCEPTION with the thrown error chained; a failure the work
// returns passes through ApplyErrorContext. Other exceptions pass out of
// Perform.
//
// Declaration order is the binary order; never insert or reorder (note that
// ErrorContextApplier's operation comes before its destructors).
//
// Threading: Perform runs the work on the calling thread.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "core/common/error.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/job.h"

namespace Async {

class ErrorContextApplier
{
public:
    // A copy of `error` unless overridden.
    virtual Common::Error ApplyErrorContext(const Common::Error& error);
    virtual ~ErrorContextApplier() = default;
};

class SynchronousAction : public Action, public ErrorContextApplier
{
public:
    std::shared_ptr<Job> Perform(ActionHandler& handler) override;
    // The work.
    virtual Common::Error PerformSynchronously() = 0;

private:
    Common::Error RunWithContext();
};

namespace Detail {

// Calls a callable that returns nothing and keeps `Data` alive as long as the
// action. An empty std::function throws std::bad_function_call.
template <typename Callable, typename Data>
class SilentSynchronousActionAdapter final : public SynchronousAction
{
public:
    SilentSynchronousActionAdapter(Callable callable, Data data)
        : m_callable(std::move(callable)), m_data(std::move(data))
    {
    }

    Common::Error PerformSynchronously() override
    {
        m_callable();
        return Common::Success;
    }

private:
    Callable m_callable;
    [[no_unique_address]] Data m_data;
};

template <typename Callable, typename Data = EmptyData>
std::unique_ptr<Action> MakeSilentSynchronousAction(Callable callable, Data data = Data())
{
    return std::make_unique<SilentSynchronousActionAdapter<Callable, Data>>(std::move(callable), std::move(data));
}

} // namespace Detail

} // namespace Async
