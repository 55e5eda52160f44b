// Async::JobControl: runs one action at a time on behalf of an owner and
// guarantees the handler exactly one completion per run, however Perform
// returning, the completion and cancels interleave.
//
// The control takes no lock: it is an 11-state machine whose every change is
// tested against a fixed table of allowed transitions and made by one
// compare-and-swap. With an owner, a failure that arrives inside Perform or
// during or after a cancel is wrapped in ASYNC_ERROR_JOB_CONTEXT carrying the
// owner's description; a completion arriving after Perform returned reaches the
// handler as the job delivered it.
//
// Per run: Perform once; then exactly one handler.Completed (perhaps before
// Perform returns). Cancel may come at any time from any thread while the
// control exists. The handler may start the next run, or destroy the control,
// from inside its Completed: the control touches none of its fields once it
// has handed the completion over.
//
// Cancels: the one Cancel call that finds the run going asks the job to stop
// and, when the completion arrives meanwhile, finishes the run itself once the
// job's Cancel has returned. Any other Cancel that comes while it is busy
// returns at once and changes nothing, so it can neither finish the run under
// the first call nor leave that call to cancel the next run.
//
// Lifetime: the control must outlive every call made on it. A handler that
// destroys the control (or lets its owner go) therefore needs to know that no
// Cancel on another thread is still running: the canceller keeps the control
// alive for its call, as a job handle keeps the job that embeds one. The call
// that finishes a run is the exception: it touches nothing after the handler,
// so the handler may destroy the control inside Perform, Completed or Cancel.
// Debug builds report a control destroyed while a Cancel call is running.
//
// A Perform whose action throws something other than a Common::Error lets the
// exception pass to its caller without a handler call; the control is left
// ready for the next run (a completion delivered before the throw is dropped,
// a cancel scheduled during it consumed).
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: Perform, Completed and Cancel may run at the same time on
// different threads; Perform must not overlap another Perform of the same
// control.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "enterprise/common/async/job.h"
#include "enterprise/common/async/operation_description.h"

namespace Async {

class JobControl : public ActionHandler
{
public:
    enum State : int64_t
    {
        STATE_BEGIN = 0,
        STATE_PERFORMED = 1,
        STATE_COMPLETED_IN_PERFORM = 2,
        STATE_CANCEL_SCHEDULED_WAIT_ALL = 3,
        STATE_CANCELED_WAIT_COMPLETION = 4,
        STATE_COMPLETED_CANCEL_SCHEDULED = 5,
        STATE_CANCELING_AFTER_PERFORM = 6,
        STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM = 7,
        STATE_CANCELING = 8,
        STATE_COMPLETED_WHILE_CANCELING = 9,
        STATE_FINISHING = 10,
    };
    static constexpr int kStateCount = 11;

    // The allowed transitions: F -> T is allowed when bit T * 11 + F is set.
    struct Transitions
    {
        unsigned char bits[16];

        constexpr bool Allows(int from, int to) const
        {
            const int bit = to * kStateCount + from;
            return (bits[bit / 8] >> (bit % 8)) & 1;
        }
    };
    static const Transitions& GetTransitions() noexcept;

    JobControl();
    ~JobControl() override;

    // The completion slot given to the action as its handler.
    void Completed(const Common::Error& result) override;

    // Starts a run of `action`; `owner` (may be null) describes failures.
    void Perform(Action& action, ActionHandler& handler, DescriptiveEntity* owner);
    // Asks the running job to stop, or schedules a stop for the next run.
    void Cancel();

    State GetState() const noexcept { return static_cast<State>(m_state.load(std::memory_order_acquire)); }
    uint64_t GetId() const noexcept { return m_id; }

    // The descriptions of exceptions thrown by the action's Perform and by the
    // handler's Completed.
    class PerformExceptionDescription : public OperationDescription
    {
    public:
        Common::Error DescribeException(const Common::Error& caught) override;
        Common::Error DescribeStdException(const std::exception& caught) override;
        Common::Error DescribeUnknownException() override;
    };
    class FinishExceptionDescription : public OperationDescription
    {
    public:
        Common::Error DescribeException(const Common::Error& caught) override;
        Common::Error DescribeStdException(const std::exception& caught) override;
        Common::Error DescribeUnknownException() override;
    };

private:
    class CancelCall;

    bool ChangeState(int64_t from, int64_t to) noexcept;
    bool PreventiveCancel();
    void AbandonRun() noexcept;
    Common::Error SafePerform(Action& action, std::shared_ptr<Job>& job);
    void OnPerformSucceeded();
    void OnPerformFailed(const Common::Error& failure);
    Common::Error AddJobContext(const Common::Error& result) const;
    bool HasCanceledResult() const noexcept;
    void FinishRun(Common::Error result);
    static Common::Error SafeFinishRun(ActionHandler& handler, const Common::Error& result);

    std::atomic<int64_t> m_state;
    const Transitions* m_transitions;
    uint64_t m_id;
    ActionHandler* m_handler;   // not owned; cleared when the run finishes
    DescriptiveEntity* m_owner; // not owned; may be null
    Common::Error m_result;
    std::shared_ptr<Job> m_job;
#ifndef NDEBUG
    std::atomic<uint32_t> m_cancelCalls{0}; // Cancel calls running, for the lifetime check
#endif
};

} // namespace Async
