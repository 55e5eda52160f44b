// Async::ActionSequence: performs its actions one after another, each under a
// job control with the sequence's job as owner (so a failure arrives wrapped in
// ASYNC_ERROR_JOB_CONTEXT). The first failure ends the run with that failure;
// success after the last action ends it with success, or, in cyclic mode,
// starts over from the first action. A result whose chain holds
// ASYNC_ERROR_SEQUENCE_STOP ends the run with success in both modes; one
// holding ASYNC_ERROR_CYCLE_BREAK does so in cyclic mode.
//
// Steps run in a tail-recursion loop: actions that complete inside their
// Perform are processed in a loop at constant stack depth, and a completion on
// another thread continues the run on that thread.
//
// A sequence is built with Add on one thread and must not change while a job
// of it runs: every job walks the same shared list. An empty sequence
// completes its handler with success at once.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: Cancel of a job from any thread; completions on any thread.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/job.h"
#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/tail_recursion_controller.h"

namespace Async {

// Something that actions can be appended to.
class ActionExecutor : public Common::NonCopyable
{
public:
    virtual ~ActionExecutor() = default;
    // Appends `action`; a null handle is ignored.
    virtual void Add(std::shared_ptr<Action> action) = 0;
};

class ActionSequence : public Action, public ActionExecutor
{
public:
    using Actions = std::deque<std::shared_ptr<Action>>;
    class ActionSequenceJob;

    ActionSequence() = default;
    ~ActionSequence() override = default;

    // PerformSequence in the mode IsCyclic gives.
    std::shared_ptr<Job> Perform(ActionHandler& handler) override;
    void Add(std::shared_ptr<Action> action) override;
    virtual bool IsCyclic() const { return false; }

    // PerformSequence in cyclic mode.
    std::shared_ptr<Job> PerformCyclic(ActionHandler& handler);
    // Runs the actions in order; returns the run's job, or none when there
    // was no action (the handler has its success then).
    std::shared_ptr<Job> PerformSequence(bool cyclic, ActionHandler& handler);

private:
    std::shared_ptr<Actions> m_actions;
};

class ActionSequence::ActionSequenceJob : public BaseJob,
                                          public ActionHandler,
                                          public TailRecursionController,
                                          public std::enable_shared_from_this<ActionSequenceJob>
{
public:
    ActionSequenceJob(ActionHandler& handler, std::shared_ptr<Actions> actions, bool cyclic);
    ~ActionSequenceJob() override = default;

    // Cancels the running action, or the next one.
    void Cancel() override;
    std::shared_ptr<void> KeepAlive() override { return shared_from_this(); }
    // Performs the action at the current position.
    void ProcessStep() override;
    // The current action's result.
    void Completed(const Common::Error& result) override;

private:
    ActionHandler* m_handler;
    std::shared_ptr<Actions> m_actions;
    bool m_cyclic;
    size_t m_position = 0;
    JobControl m_control;
};

} // namespace Async
