// Async::Journal: builds an asynchronous workflow out of actions and runs it
// as one action.
//
// - Add appends an action to the current sequence; AddFuture an action that
//   performs what a future holds at that point of the run.
// - AddBranch appends an action that runs only when a condition holds then.
// - BreakIf appends a conditional end: when its condition holds, the run ends
//   there with success; otherwise it goes on with the actions appended after
//   it, which go into a new current sequence.
// - A CyclicJournal repeats the whole workflow until a conditional end fires
//   (success) or an action fails (that failure).
// - MakeCompletionWaitAction and MakeResultWaitAction give actions that wait
//   for the end of the next run: the first completes with success and ignores
//   cancels, the second completes with the run's result. The run's handler
//   gets the result first, then the completion waits, then the result waits.
//
// Build on one thread, make the wait actions needed, then Perform. The journal
// object may be destroyed as soon as Perform has returned: the returned job
// keeps the workflow alive. Nothing may be appended after Perform.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: no lock; a run's completion may arrive on any thread.
#pragma once

#include <functional>
#include <memory>

#include "enterprise/common/async/action_sequence.h"
#include "enterprise/common/async/future.h"
#include "enterprise/common/async/job.h"
#include "enterprise/common/async/wait_completion_handler.h"

namespace Async {

// An action whose run can be awaited.
class Process : public Action
{
public:
    virtual std::unique_ptr<Action> MakeCompletionWaitAction() = 0;
    virtual std::unique_ptr<Action> MakeResultWaitAction() = 0;
};

class Journal : public Process, public ActionExecutor
{
public:
    // One empty sequence, both root and current.
    Journal();
    ~Journal() override;

    // Runs the root sequence (cyclically for a cyclic journal); the returned
    // handle keeps the sequences and the waiters alive.
    std::shared_ptr<Job> Perform(ActionHandler& handler) override;
    std::unique_ptr<Action> MakeCompletionWaitAction() override;
    std::unique_ptr<Action> MakeResultWaitAction() override;
    void Add(std::shared_ptr<Action> action) override;
    virtual void AddFuture(const Future<std::unique_ptr<Action>>& future);
    virtual bool IsCyclic() const { return false; }

    void AddBranch(std::function<bool()> condition, std::shared_ptr<Action> action);
    void BreakIf(std::function<bool()> condition);

private:
    // Makes a new current sequence, tied to the root; returns the previous one.
    std::shared_ptr<ActionSequence> OpenSequence();

    // Released in reverse: the result waiter, the completion waiter, the
    // current sequence, the root.
    std::shared_ptr<ActionSequence> m_root;
    std::shared_ptr<ActionSequence> m_current;
    std::shared_ptr<WaitCompletionHandler> m_completionWaiter;
    std::shared_ptr<WaitCompletionHandler> m_resultWaiter;
};

class CyclicJournal : public Journal
{
public:
    bool IsCyclic() const override { return true; }
};

} // namespace Async
