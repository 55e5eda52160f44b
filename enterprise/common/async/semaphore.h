// Async::Semaphore: a counting semaphore for actions. Bind wraps an action;
// when the bound action is performed, the action starts at once if fewer than
// `capacity` actions of the semaphore run (0: no limit) and none waits, else it
// waits in a first-in, first-out queue, so actions start in order of arrival. A job that waited runs in the environment
// of the thread that performed its bound action.
//
// Completions are dispatched in a loop: a completion on the thread that is
// starting its job only gives the place back, and that start continues with
// the next waiting job; a completion on another thread starts the next one
// itself. A completing job's handler runs before its place is given back.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: admission and the queue are guarded by the logic's mutex; actions
// are performed and handlers called outside it. A start and a cancel of one
// job race by an atomic exchange of its pending handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "core/common/mutex.h"
#include "core/common/thread_id.h"
#include "enterprise/common/async/async_service.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/job_control.h"

namespace Async {

namespace Detail {

class SemaphoreLogic : public std::enable_shared_from_this<SemaphoreLogic>
{
public:
    explicit SemaphoreLogic(uint32_t capacity);
    ~SemaphoreLogic();
    SemaphoreLogic(const SemaphoreLogic&) = delete;
    SemaphoreLogic& operator=(const SemaphoreLogic&) = delete;

    // A new job for `action`: started now when a place is free, else queued.
    std::shared_ptr<Job> Perform(std::unique_ptr<Action> action, ActionHandler& handler);

    class SemaphoreJob : public BaseJob, public ActionHandler
    {
    public:
        SemaphoreJob(std::shared_ptr<SemaphoreLogic> logic, std::unique_ptr<Action> action,
                     std::shared_ptr<ThreadEnvironment> environment, ActionHandler& handler);

        EntityDescription Describe() const override;
        // Waiting: completes the handler with a fresh canceled error and
        // destroys the action unrun. Started: cancels the run.
        void Cancel() override;
        // The run's end: forwards the result, then gives the place back.
        void Completed(const Common::Error& result) override;

    private:
        friend class SemaphoreLogic;

        std::shared_ptr<SemaphoreLogic> m_logic;
        std::unique_ptr<Action> m_action;
        std::shared_ptr<ThreadEnvironment> m_environment;
        std::atomic<ActionHandler*> m_pendingHandler;
        ActionHandler* m_handler = nullptr;
        JobControl m_control;
        // The thread inside this job's start, 0 when none; read by a
        // completing thread while the starter resets it.
        std::atomic<Common::ThreadId> m_starter{0};
    };

    uint32_t GetRunningCount();

private:
    // Starts an admitted job on this thread inside its environment.
    void Start(const std::shared_ptr<SemaphoreJob>& job);
    // Starts the oldest waiting job if a place is free; false when none.
    bool StartNext();
    void StartWaiting();

    uint32_t m_capacity;
    EnvironmentProvider* m_provider;
    Common::Mutex m_mutex;
    uint32_t m_runningCount COMMON_GUARDED_BY(m_mutex) = 0;
    std::deque<std::shared_ptr<SemaphoreJob>> m_queue COMMON_GUARDED_BY(m_mutex);
};

// The action a semaphore hands out for a wrapped action; performed once.
class BoundAction : public Action
{
public:
    BoundAction(std::shared_ptr<SemaphoreLogic> logic, std::unique_ptr<Action> action)
        : m_logic(std::move(logic)), m_action(std::move(action))
    {
    }
    // Passes the wrapped action to the semaphore. A second Perform has no
    // action left: it completes the handler with ASYNC_ERROR_RESULT_INVALID.
    std::shared_ptr<Job> Perform(ActionHandler& handler) override;

private:
    std::shared_ptr<SemaphoreLogic> m_logic;
    std::unique_ptr<Action> m_action;
};

} // namespace Detail

class Semaphore
{
public:
    explicit Semaphore(uint32_t capacity);
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // A bound action over `action`, which is taken over.
    std::unique_ptr<Action> Bind(std::unique_ptr<Action> action);

private:
    std::shared_ptr<Detail::SemaphoreLogic> m_logic;
};

} // namespace Async
