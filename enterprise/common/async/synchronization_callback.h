// Synchronization callbacks: the per-thread chain of elements that a thread
// walks before it blocks (Async::SynchronizeThread), so that work it holds can
// go on elsewhere while it waits.
//
// The chain lives in the async service's storage when there is a service, else
// in one process-wide thread-local storage; GetSynchronizationCallbackStorage
// looks it up anew on every call.
//
// A ScopedSynchronizationCallback is on its thread's chain for its lifetime:
// construct and destroy it on one thread, in last-in first-out order with the
// thread's other elements. Subclasses give Satisfy; true ends a walk.
//
// Suspension: while an element's suspension is above 0 it counts as satisfied
// without being asked. A pushed element inherits the top's level and a popped
// one hands it down; an element whose level drops to 0 after it missed a
// synchronization replays one from itself down the chain.
//
// Threading: a chain is touched only by its own thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/common/thread_local_key.h"
#include "enterprise/common/async/async_service.h"

namespace Async {

class ScopedSynchronizationCallback : public SynchronizationCallback
{
public:
    // Pushes the element on the calling thread's chain.
    ScopedSynchronizationCallback();
    // Pops the calling thread's chain.
    ~ScopedSynchronizationCallback() override;

    SynchronizationCallback* GetNext() override { return m_next; }
    // An element is linked once in its life: a second link reports "Next == 0".
    void SetNext(SynchronizationCallback* next) override;
    // Counts the call; true when suspended, else what Satisfy answers.
    bool TrySatisfy(void* context) override;

    void AdjustSuspension(int32_t delta);
    int32_t GetSuspension() const { return m_suspension; }
    // The number of synchronizations that reached the element.
    int32_t GetCalls() const { return m_calls.load(std::memory_order_relaxed); }

private:
    SynchronizationCallback* m_next = nullptr;
    int32_t m_suspension = 0;
    // Atomic: a fork's metronome tick synchronizes the element from a service
    // thread while its own thread may walk the chain.
    std::atomic<int32_t> m_calls{0};
};

// The chain kept in a thread-local-storage key (allocated without destructor
// function), used when there is no async service.
class TlsSynchronizationCallbackStorage : public SynchronizationCallbackStorage
{
public:
    TlsSynchronizationCallbackStorage();
    // Releases the key.
    ~TlsSynchronizationCallbackStorage() override;

    SynchronizationCallback* GetTop() override;
    // False when the key could not store the element (it is linked anyway).
    bool Push(SynchronizationCallback* element) override;
    SynchronizationCallback* Pop() override;
    void Synchronize(void* context) override;

private:
    Common::Tls::Key m_key;
};

// The service's storage when GetAsyncService yields a service, else the
// process-wide thread-local one.
SynchronizationCallbackStorage* GetSynchronizationCallbackStorage();

// Walks the calling thread's chain from the top down: each element is asked to
// TrySatisfy with `context` until one answers true.
void SynchronizeThread(void* context);

} // namespace Async
