// Async::MetronomeListener: runs one metronome tick under a job control, calls
// OnTick when the tick succeeds, and lets a stopper cancel the tick and wait
// until it has completed. A listener ticks at most once in its life.
//
// State (one word): 0 idle, 1 a tick runs, 2 finished, else the event of a
// thread waiting in Stop. The states of all listeners are guarded by one
// process-wide static recursive lock, usable before constructors run; OnTick
// and the stopper's wait run outside it.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: Start and Stop on the owner's thread; Completed (and so OnTick)
// arrives on a service thread. The service must complete a cancelled tick.
#pragma once

#include <cstdint>

#include "enterprise/common/async/async_service.h"
#include "enterprise/common/async/job_control.h"

namespace Async {

class MetronomeListener : public ActionHandler
{
public:
    MetronomeListener();
    ~MetronomeListener() override;

    void Completed(const Common::Error& result) override;
    // Called with a successful tick's result, outside the lock.
    virtual void OnTick(const Common::Error& result);

    // Runs one tick of `metronome`; false (and a report) unless idle.
    bool Start(Metronome* metronome);
    // Cancels a running tick and blocks until it has completed; returns at once
    // when no tick runs.
    void Stop();

private:
    JobControl m_control;
    uintptr_t m_state; // guarded by the process-wide listener lock
};

} // namespace Async
