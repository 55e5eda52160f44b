// Async::SynchronizationFork: a synchronization callback that holds work its
// thread will do later and hands it over when the thread blocks (a walk of its
// chain) or when its metronome ticks. With a service the work goes to a
// service thread; without one it runs on the synchronizing thread. A fork
// always answers false, so a walk reaches every fork below it.
//
// The fork is a scoped element: pushed on its thread's chain at construction
// and popped at destruction. Subclasses call Wait in their destructors, so
// that no tick outlives the fork.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: used on its own thread, except for the tick completion, which
// arrives on a service thread and acts like a synchronization of this element.
#pragma once

#include <memory>

#include "enterprise/common/async/async_service.h"
#include "enterprise/common/async/metronome.h"
#include "enterprise/common/async/synchronization_callback.h"

namespace Async {

class SynchronizationFork : public ScopedSynchronizationCallback, public MetronomeListener
{
public:
    SynchronizationFork() = default;
    ~SynchronizationFork() override = default;

    bool Satisfy(void* context) override;
    // Whether the fork has work to hand over now.
    virtual bool IsReady() = 0;
    // The work, or null when there is none.
    virtual std::unique_ptr<Work> TakeWork() = 0;

    // A tick synchronizes this element.
    void OnTick(const Common::Error& result) override;

    // Stops the fork's tick, if one runs, and waits for its completion.
    void Wait() { Stop(); }
    // Starts the fork's metronome (period 60) when there is a service.
    void StartMetronome();
    // Hands `work` to the service; false, leaving the work with the caller,
    // when there is no service.
    bool Fork(std::unique_ptr<Work>& work);
};

} // namespace Async
