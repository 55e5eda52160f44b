// Async::StepControl: drives a composite job as a chain of steps. Each step is
// an action run under the embedded job control, with the owner job as owner;
// its result goes to the step handler named when the step was started, which
// starts the next step, finishes the chain, or returns the result that ends
// it. The owner's handler is completed exactly once. A failed step that its
// handler does not take goes to the rollback handler, if there is one.
//
// Steps that complete inside the call that started them are processed by the
// tail-recursion loop, not recursively, so long synchronous chains run at
// constant stack depth.
//
// Calling order: Initialize; PerformStep; then from inside OnStepCompleted
// either PerformStep, Finish, or neither (the returned result ends the chain).
// After starting a step or finishing, a handler returns success. Cancel may
// come at any time from any thread.
//
// A step control is held by a std::shared_ptr (KeepAlive relies on it); the
// handlers and the owner job are plain pointers into the owner job.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: one step at a time by protocol; no lock of its own. The step
// counter is the only atomic: ProcessStep compares it through its own strong
// reference, since a handler may destroy the step control.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/async/job.h"
#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/operation_description.h"
#include "enterprise/common/async/tail_recursion_controller.h"

namespace Async {

class StepHandler : public Common::NonCopyable
{
public:
    virtual ~StepHandler() = default;
    // The step's result in; the result that ends the chain when the handler
    // started nothing out.
    virtual Common::Error OnStepCompleted(const Common::Error& stepResult) = 0;
    // True when OnStepCompleted also takes failed results.
    virtual bool CanHandleFailure() = 0;
};

class StepControl : public ActionHandler,
                    public std::enable_shared_from_this<StepControl>,
                    public TailRecursionController
{
public:
    StepControl();
    ~StepControl() override;

    // Receives each step's result from the job control.
    void Completed(const Common::Error& result) override;
    std::shared_ptr<void> KeepAlive() override { return shared_from_this(); }
    // Processes the pending step result.
    void ProcessStep() override { ProcessStepResult(); }

    void Initialize(ActionHandler& ownerHandler, StepHandler* rollbackHandler, Job* ownerJob);
    // Starts one step; a null handler makes it the final step.
    void PerformStep(Action& action, StepHandler* handler);
    // Ends the chain with success.
    void Finish();
    // Cancels the running step, or else the next one.
    void Cancel();

    // The description of an exception thrown by a step handler ("Step").
    class SafeStepCompletionDetails : public OperationDescription
    {
    public:
        Common::Error DescribeException(const Common::Error& caught) override;
        Common::Error DescribeStdException(const std::exception& caught) override;
        Common::Error DescribeUnknownException() override;
    };

private:
    void CompleteOrRollback(const Common::Error& result);
    void ProcessStepResult();

    JobControl m_control;
    ActionHandler* m_ownerHandler;
    StepHandler* m_rollbackHandler;
    Common::Error m_pendingResult;
    std::shared_ptr<std::atomic<int64_t>> m_stepCounter;
    StepHandler* m_currentHandler;
    Job* m_ownerJob;
};

} // namespace Async
