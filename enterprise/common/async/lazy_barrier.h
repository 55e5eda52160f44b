// Async::LazyBarrier: starts actions without waiting for them, and later gives
// one job that completes when all of them have completed.
//
// The shared state, the barrier job, is created by the first Perform. The first
// failing action decides the result and the others are cancelled; without a
// failure, a cancel makes the result ASYNC_ERROR_CANCELED. WaitAll delivers
// the result once every action has completed; CancelAndWait cancels them first
// and delivers success once they have completed. Each waiting operation takes
// the job out of the barrier, so the next Perform starts a new one.
//
// A barrier destroyed while it still owns a job cancels its actions and blocks
// until all of them have completed (an action that ignores its cancel and
// never completes blocks it for ever).
//
// An action whose Perform throws something other than a Common::Error: the
// exception passes out of Perform unchanged, and the action counts as
// completed with the job control's description of the exception, which fails
// the barrier like any first failure: ASYNC_ERROR_OPERATION_STD_EXCEPTION for
// a std::exception, ASYNC_ERROR_OPERATION_UNKNOWN_EXCEPTION for anything else.
//
// Threading: one owner calls Perform, WaitAll, CancelAndWait and the
// destructor, one at a time. Actions complete on any thread; the barrier job
// guards its state with a recursive mutex, never held while an action runs or
// is cancelled, or while a handler is called.
#pragma once

#include <cstdint>
#include <list>
#include <memory>

#include "core/common/mutex.h"
#include "core/common/non_copyable.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/job.h"
#include "enterprise/common/async/job_control.h"

namespace Async {

class LazyBarrier : public Common::NonCopyable
{
public:
    class BarrierJob;

    LazyBarrier();
    ~LazyBarrier();

    // Runs `action` (the caller keeps it) under the barrier. Returns a failure
    // known by the end of the call (this action's or an earlier one's). On a
    // failed barrier the action is not run: the result is the stored failure
    // when no action is pending any more, else success.
    Common::Error Perform(Action& action);
    // Completes `handler` with the barrier result once every action has
    // completed (at once when none is pending, with success when nothing was
    // ever performed). Cancelling the returned job cancels the actions.
    std::shared_ptr<Job> WaitAll(ActionHandler& handler);
    // Cancels the pending actions, then as WaitAll; the handler receives
    // success when the last of them completes later.
    std::shared_ptr<Job> CancelAndWait(ActionHandler& handler);

private:
    std::shared_ptr<BarrierJob> m_job;
};

class LazyBarrier::BarrierJob : public BaseJob, public std::enable_shared_from_this<BarrierJob>
{
public:
    // The handler of one action, living in its list element. Until its action
    // completes it keeps the barrier job alive, so that a waiter may drop the
    // job handle while actions still run.
    class OneActionHandler : public ActionHandler
    {
    public:
        explicit OneActionHandler(BarrierJob& job) : m_job(job) {}

        void Completed(const Common::Error& result) override;
        // Cancels the action's run.
        virtual void Cancel() { m_control.Cancel(); }

    private:
        friend class BarrierJob;

        BarrierJob& m_job;
        std::shared_ptr<BarrierJob> m_keepAlive;
        JobControl m_control;
        std::list<OneActionHandler>::iterator m_element;
    };

    BarrierJob() = default;

    // "ASYNC: Lazy barrier action job."
    EntityDescription Describe() const override;
    // Cancels every pending action; a success result becomes ASYNC_ERROR_CANCELED.
    void Cancel() override;

    Common::Error PerformAction(Action& action);
    // Registers `handler` for the end of the last action (or completes it at
    // once); `cancelled` selects the CancelAndWait form.
    void RegisterWaiter(ActionHandler& handler, bool cancelled);

private:
    void OnCompleted(OneActionHandler& handler, const Common::Error& result);

    Common::Mutex m_mutex;
    uint32_t m_pending = 0;
    std::list<OneActionHandler> m_handlers;
    std::shared_ptr<std::list<OneActionHandler>> m_cancelledHandlers;
    Common::Error m_barrierResult;
    ActionHandler* m_waiter = nullptr;
    ActionHandler* m_cancelWaiter = nullptr;
};

} // namespace Async
