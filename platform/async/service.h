// The async service: the worker pool, the timer with its metronomes, the
// environment provider and the callback storage behind one Async::Service.
// GetAsyncService hands out one process-wide instance; tests may build their
// own.
//
// Threading: every operation from any thread. Destroying a service waits for
// its threads and cancels its pending ticks; the process-wide one is never
// destroyed.
#pragma once

#include <chrono>
#include <memory>

#include "platform/async/async_service.h"
#include "platform/async/callback_storage.h"
#include "platform/async/metronome.h"
#include "platform/async/thread_environment.h"
#include "platform/async/tick_timer.h"
#include "platform/async/work_pool.h"

namespace AsyncPlatform {

class Service : public Async::Service
{
public:
    // Idle worker threads retire after `idleLimit`.
    explicit Service(std::chrono::milliseconds idleLimit);

    // Runs work.Run on a pool thread and completes `handler` with its result (a
    // thrown Common::Error is the result). When no thread can be created, runs
    // the work on the calling thread and returns no job. A cancel of the job
    // asks nothing of the work: handed-over work always runs.
    std::shared_ptr<Async::Job> PerformWork(Async::Work& work, Async::ActionHandler& handler) override;
    Async::EnvironmentProvider* GetEnvironmentProvider() override { return &m_environments; }
    Async::SynchronizationCallbackStorage* GetSynchronizationCallbackStorage() override { return &m_callbacks; }
    Async::MetronomeFactory* GetMetronomeFactory() override { return &m_metronomes; }

    WorkPool& GetWorkPool() { return m_pool; }

private:
    // Declared first, destroyed last: ticks and work may still use the others.
    EnvironmentProvider m_environments;
    CallbackStorage m_callbacks;
    TickTimer m_timer;
    MetronomeFactory m_metronomes{m_timer};
    WorkPool m_pool;
};

// The process-wide service, whatever the test switch says.
Service& GetProcessService();

} // namespace AsyncPlatform
