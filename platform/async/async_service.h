// The async service library's interfaces: the service hands out worker threads
// (PerformWork), thread environments, the per-thread synchronization-callback
// storage and metronomes. Work and SynchronizationCallback are implemented by
// the service's callers, and the service calls them.
//
// GetAsyncService is defined by the async service library (our stand-in is this
// folder, see async_platform.h); callers ask anew each time, take no ownership
// and never shut the service down. Null means no service.
//
// Declaration order is the binary order; never insert or reorder. Operations
// named Reserved* hold slots that callers never call.
//
// Threading: the service and the objects it hands out are used from any
// thread; SynchronizationCallbackStorage works on the calling thread's chain.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/async/job.h"
#include "platform/objrep/common_error.h"

namespace Async {

// A unit of work that the service runs on one of its threads.
class Work : public InterfaceBase
{
public:
    virtual ~Work() = default;
    virtual Common::Error Run() = 0;
    virtual void Detach() = 0;
};

// An element of a thread's synchronization chain. A walk asks each element
// from the top down to Satisfy until one answers true.
class SynchronizationCallback : public InterfaceBase
{
public:
    virtual ~SynchronizationCallback() = default;
    // The element pushed before this one, or null.
    virtual SynchronizationCallback* GetNext() = 0;
    virtual void SetNext(SynchronizationCallback* next) = 0;
    // True ends a synchronization walk.
    virtual bool Satisfy(void* context) = 0;
    virtual bool TrySatisfy(void* context) = 0;
};

// The calling thread's chain of synchronization callbacks.
class SynchronizationCallbackStorage : public InterfaceBase
{
public:
    virtual ~SynchronizationCallbackStorage() = default;
    virtual SynchronizationCallback* GetTop() = 0;
    virtual bool Push(SynchronizationCallback* element) = 0;
    // Removes the top and returns it.
    virtual SynchronizationCallback* Pop() = 0;
    virtual void Synchronize(void* context) = 0;
};

// One tick source; never freed, valid while a tick runs.
class Metronome : public InterfaceBase
{
public:
    virtual ~Metronome() = default;
    // One tick: completes `handler` once, with success when the period has
    // elapsed, with a failure when the tick was cancelled (the completion
    // still comes after a cancel).
    virtual std::shared_ptr<Job> Tick(ActionHandler& handler) = 0;
};

class MetronomeFactory : public InterfaceBase
{
public:
    virtual ~MetronomeFactory() = default;
    // A metronome of `period` milliseconds; never null.
    virtual Metronome* CreateMetronome(uint32_t period) = 0;
};

// A thread's environment, captured by an EnvironmentProvider.
class ThreadEnvironment : public InterfaceBase
{
public:
    virtual ~ThreadEnvironment() = default;
    // Applies this environment to the calling thread.
    virtual void Apply() = 0;
    // Ends an Apply on the calling thread.
    virtual void Leave() = 0;
    // Puts this (earlier captured) environment back on the calling thread.
    virtual void Restore() = 0;
};

class EnvironmentProvider : public InterfaceBase
{
public:
    virtual ~EnvironmentProvider() = default;
    // The calling thread's environment; never null.
    virtual std::shared_ptr<ThreadEnvironment> CaptureEnvironment() = 0;
};

class Service : public InterfaceBase
{
public:
    virtual ~Service() = default;
    // Runs work.Run on a service thread and completes `handler` once with its
    // result; the caller keeps the work alive until then.
    virtual std::shared_ptr<Job> PerformWork(Work& work, ActionHandler& handler) = 0;
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    virtual void Reserved5() {}
    // Never null; kept without ownership.
    virtual EnvironmentProvider* GetEnvironmentProvider() = 0;
    virtual void Reserved7() {}
    virtual void Reserved8() {}
    virtual void Reserved9() {}
    virtual void Reserved10() {}
    virtual void Reserved11() {}
    // The storage of the calling thread's callbacks.
    virtual SynchronizationCallbackStorage* GetSynchronizationCallbackStorage() = 0;
    // Never null.
    virtual MetronomeFactory* GetMetronomeFactory() = 0;
};

} // namespace Async

// Sets `*service` (which the caller has set to null) to the process-wide
// service, or leaves it null when there is none. The return value carries no
// meaning for callers.
int GetAsyncService(Async::Service** service);
