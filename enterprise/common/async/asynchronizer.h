// The asynchronizer: turns a reader, which produces actions while it reads,
// into one job. The reader runs as step "Read" and hands each action to
// Consume; in the sequential form every consumed action passes a semaphore of
// one and an exclusive gateway passage behind a lazy barrier, so the actions
// run one at a time in the order consumed. When reading has ended a final step
// waits for them all. The handler receives one result: success or the first
// failure. After the first failure Consume accepts nothing more (the next call
// returns the failure, later calls ASYNC_ERROR_ASYNCHRONIZER_CLOSED), and the
// actions still waiting or running are cancelled.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: the reader may call Consume on any thread while "Read" runs;
// actions complete on any thread. The job's own flags need no lock: Consume
// runs only before "Read" completes, the step handlers only after step
// completions. The barrier, the semaphore and the gateway lock their own state.
#pragma once

#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/async/gateway.h"
#include "enterprise/common/async/job.h"
#include "enterprise/common/async/job_composition.h"
#include "enterprise/common/async/lazy_barrier.h"
#include "enterprise/common/async/semaphore.h"

namespace Async {

class ActionConsumer : public Common::NonCopyable
{
public:
    virtual ~ActionConsumer() = default;
    // Takes the action over (also when it refuses it). A failure tells the
    // reader to stop producing.
    virtual Common::Error Consume(std::unique_ptr<Action> action) = 0;
};

class ActionReader : public Common::NonCopyable
{
public:
    virtual ~ActionReader() = default;
    // Reads, hands each action produced to `consumer`, and completes `handler`
    // once when reading has ended.
    virtual std::shared_ptr<Job> Read(ActionConsumer& consumer, ActionHandler& handler) = 0;
};

// Runs `reader` (taken over) under a sequence asynchronizer job and completes
// `handler` once. Cancelling the returned job cancels the running step.
std::shared_ptr<Job> AsynchronizeSequentially(std::unique_ptr<ActionReader> reader, ActionHandler& handler);

namespace AsynchronizerImpl {

class BaseAsynchronizerJob : public JobComposition<BaseAsynchronizerJob>, public ActionConsumer
{
public:
    explicit BaseAsynchronizerJob(std::unique_ptr<ActionReader> reader);
    ~BaseAsynchronizerJob() override;

    // "ASYNC: Consume and perform action dispatching job."
    EntityDescription Describe() const override;
    Common::Error Consume(std::unique_ptr<Action> action) override;
    // Runs a consumed action's adaptor; the result is a failure known by the
    // end of the call.
    virtual Common::Error PerformAction(std::unique_ptr<Action> action) = 0;
    virtual std::unique_ptr<Action> MakeWaitAllAction() = 0;
    virtual std::unique_ptr<Action> MakeCancelAndWaitAction() = 0;

    // Starts step "Read"; `handler` receives the job's result.
    void Start(ActionHandler& handler);
    // Starts the action job of one consumed action.
    std::shared_ptr<Job> PerformConsumed(const std::shared_ptr<Action>& action, ActionHandler& handler);

private:
    void OnReadCompleted();
    Common::Error OnFailure(const Common::Error& result);
    Common::Error GetFailReason();

    // Destroyed in reverse: the fail reason, the gateway, the reader.
    std::unique_ptr<ActionReader> m_reader;
    Gateway m_gateway;
    bool m_accepting = true;
    bool m_finalStepStarted = false;
    Common::Error m_failReason;
};

class LazyBarrierAsynchronizerJob : public BaseAsynchronizerJob
{
public:
    using BaseAsynchronizerJob::BaseAsynchronizerJob;

    Common::Error PerformAction(std::unique_ptr<Action> action) override;
    std::unique_ptr<Action> MakeWaitAllAction() override;
    std::unique_ptr<Action> MakeCancelAndWaitAction() override;

protected:
    LazyBarrier m_barrier;
};

class SequenceAsynchronizerJob : public LazyBarrierAsynchronizerJob
{
public:
    using LazyBarrierAsynchronizerJob::LazyBarrierAsynchronizerJob;

    // Passes the action through the semaphore of one, behind the barrier.
    Common::Error PerformAction(std::unique_ptr<Action> action) override;

private:
    Semaphore m_semaphore{1};
};

// Runs one consumed action: an exclusive passage through the gateway, then
// the action as the final step; the passage is given back once the action has
// started.
class ActionJob : public JobComposition<ActionJob>
{
public:
    explicit ActionJob(std::shared_ptr<Action> action) : m_action(std::move(action)) {}
    ~ActionJob() override;

    // "ASYNC: Consume and perform action ordering job."
    EntityDescription Describe() const override;

    void Start(Gateway& gateway, ActionHandler& handler);

private:
    void OnPassageGranted();

    // Destroyed in reverse: a flag still held (releasing the passage), then
    // the action reference.
    std::shared_ptr<Action> m_action;
    std::unique_ptr<Gateway::Flag> m_flag;
};

} // namespace AsynchronizerImpl

} // namespace Async
