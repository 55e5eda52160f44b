// Futures: cells that carry a value from one step of a workflow to a later
// one. An earlier step fills the cell; copies of a future share it. A future
// bound as an argument of std::bind passes the cell's content at the time of
// the call.
//
//   Future<T>                        the shared cell (created empty by default)
//   Detail::FutureActionAdaptor      an action performing the action a
//                                    Future<std::unique_ptr<Action>> holds then
//   Detail::ResultToOutParameter     a call whose result is stored into a cell
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: a cell is not synchronized; the steps of one workflow run one at
// a time.
#pragma once

#include <memory>
#include <utility>

#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/async/job.h"

namespace Async {

// Lets a future stand where its value is expected.
template <typename T>
class FutureConversionPolicy
{
public:
    // The cell handle.
    virtual std::shared_ptr<T>& GetCell() const = 0;
    virtual ~FutureConversionPolicy() = default;

    operator T&() const { return *GetCell(); }
};

template <typename T>
class Future : public FutureConversionPolicy<T>
{
public:
    // A new cell holding T().
    Future() : m_cell(std::make_shared<T>()) {}
    explicit Future(std::shared_ptr<T> cell) : m_cell(std::move(cell)) {}

    std::shared_ptr<T>& GetCell() const override { return m_cell; }

private:
    mutable std::shared_ptr<T> m_cell;
};

namespace Detail {

template <typename FutureType>
class FutureActionAdaptor;

// Performs the action the future holds when it is performed. A cell still
// empty by then completes the handler with ASYNC_ERROR_RESULT_INVALID.
template <>
class FutureActionAdaptor<Future<std::unique_ptr<Action>>> : public Action
{
public:
    explicit FutureActionAdaptor(Future<std::unique_ptr<Action>> future) : m_future(std::move(future)) {}

    std::shared_ptr<Job> Perform(ActionHandler& handler) override
    {
        Action* action = m_future.GetCell() ? m_future.GetCell()->get() : nullptr;
        if (!action)
            return CompleteWithResult(GetInvalidResultError(), handler);
        return action->Perform(handler);
    }

private:
    Future<std::unique_ptr<Action>> m_future;
};

// Calling it makes the wrapped call and stores the result into `*out` (a
// future's cell, which must outlive the wrapper).
template <typename Call, typename T>
class ResultToOutParameter
{
public:
    ResultToOutParameter(Call call, T& out) : m_call(std::move(call)), m_out(&out) {}

    void operator()() { *m_out = m_call(); }

private:
    Call m_call;
    T* m_out;
};

} // namespace Detail

// A new action performing what `future` holds at that moment.
inline std::unique_ptr<Action> MakeFutureAction(const Future<std::unique_ptr<Action>>& future)
{
    return std::make_unique<Detail::FutureActionAdaptor<Future<std::unique_ptr<Action>>>>(future);
}

} // namespace Async
