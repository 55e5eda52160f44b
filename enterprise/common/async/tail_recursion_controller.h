// Async::TailRecursionController: the base of composite jobs (step control, the
// gateway logic, action sequences). It turns their chains of steps into one
// processing loop, run by exactly one thread at a time and at constant stack
// depth:
// - a step whose action completes inside the step only marks the controller
//   free; the loop takes the next step when the step returns;
// - a completion on another thread runs the loop on that thread.
// Each pass stands guard with a ProcessingDetachment (a synchronization fork):
// when the pass's thread blocks in a waiting handler, or stays in the pass
// longer than a metronome period after its action completed, the guard hands
// the loop to a service thread (or, without a service, runs it inline on the
// blocking thread).
//
// A derived class starts processing with ProcessLoop or Continue. Its
// ProcessStep starts at most one action, whose completion must lead to exactly
// one Continue. KeepAlive returns a pointer that keeps the derived object alive
// (its shared_from_this).
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: free, owner and pending change only under the mutex; ProcessStep,
// KeepAlive, metronome starts and detachment stops run outside it.
#pragma once

#include <memory>

#include "core/common/mutex.h"
#include "core/common/non_copyable.h"
#include "core/common/thread_id.h"
#include "enterprise/common/async/synchronization_fork.h"

namespace Async {

class TailRecursionController : public Common::NonCopyable
{
public:
    virtual ~TailRecursionController();
    virtual std::shared_ptr<void> KeepAlive() = 0;
    // Processes one step: starts at most one action.
    virtual void ProcessStep() = 0;

    // The guard of one pass of the loop.
    class ProcessingDetachment : public SynchronizationFork
    {
    public:
        explicit ProcessingDetachment(TailRecursionController& controller) : m_controller(&controller) {}
        // Clears the controller's pending mark when it names this detachment,
        // then stops the metronome and waits for its tick.
        ~ProcessingDetachment() override;

        // Whether the controller is free.
        bool IsReady() override;
        // Work that runs the controller's loop and keeps the controller alive.
        std::unique_ptr<Work> TakeWork() override;

    private:
        TailRecursionController* m_controller;
    };

    // The loop: takes the processing, runs a step, and repeats while the step's
    // action completed inside the step.
    void ProcessLoop();
    // Called once per completed step action, on the completing thread. True
    // when it ran the loop on this thread; false when the completion came
    // inside the loop's own pass (the loop goes on when the pass returns).
    bool Continue();

protected:
    TailRecursionController();
    void Initialize();

    // Under the mutex: takes the processing when free (true). Otherwise, with
    // `releaseOwnMark` and this thread as the owner, clears the owner.
    bool Enter(bool releaseOwnMark, ProcessingDetachment* detachment);
    // Under the mutex: hands out the pending detachment and frees the
    // processing; true when the calling thread is not the owner.
    bool Leave(ProcessingDetachment*& pending);

private:
    Common::Mutex m_mutex;
    bool m_free COMMON_GUARDED_BY(m_mutex);
    Common::ThreadId m_owner COMMON_GUARDED_BY(m_mutex); // 0 when none
    ProcessingDetachment* m_pending COMMON_GUARDED_BY(m_mutex);
};

} // namespace Async
