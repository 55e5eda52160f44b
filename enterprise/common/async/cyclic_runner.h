// The cyclic action: performs another action again and again while each run
// succeeds; the first failure, a cancel included, ends the cycle and goes to
// the cycle's handler once.
//
// Runs that succeed inside the call that started them do not nest: the runner
// repeats them in a loop at constant stack depth, and a run that completes
// later on another thread continues the cycle on that thread.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: Cancel from any thread; runs are performed one at a time.
#pragma once

#include <atomic>
#include <memory>

#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/job_control.h"

namespace Async {

namespace CyclicRunnerImpl {

class CyclicRunner : public BaseJob, public ActionHandler, public std::enable_shared_from_this<CyclicRunner>
{
public:
    CyclicRunner(std::shared_ptr<Action> action, ActionHandler& handler);

    // "ASYNC: Cyclic action execution job."
    EntityDescription Describe() const override;
    // Cancels the active run, or schedules a cancel for the next one.
    void Cancel() override;
    // One run's result: a success repeats the action, a failure ends the cycle.
    void Completed(const Common::Error& result) override;

    // Performs runs until one has not completed inside its Perform.
    void Run();

private:
    enum : int
    {
        kPerforming, // a run's Perform is on the stack of the looping thread
        kRepeat,     // that run succeeded inside its Perform: the loop repeats
        kWaiting,    // Perform returned first: the completion continues the cycle
    };

    std::shared_ptr<Action> m_action;
    ActionHandler* m_handler; // not owned
    JobControl m_control;
    std::atomic<int> m_phase{kWaiting};
};

// Creates a runner, performs the action once on it and returns the runner.
std::shared_ptr<Job> Start(const std::shared_ptr<Action>& action, ActionHandler& handler);

} // namespace CyclicRunnerImpl

namespace Detail {

class CyclicRunAction : public Action
{
public:
    explicit CyclicRunAction(std::shared_ptr<Action> action) : m_action(std::move(action)) {}
    std::shared_ptr<Job> Perform(ActionHandler& handler) override;

private:
    std::shared_ptr<Action> m_action;
};

} // namespace Detail

// A cyclic action over `action`, which is taken over.
std::unique_ptr<Action> MakeCyclicAction(std::unique_ptr<Action>& action);

} // namespace Async
