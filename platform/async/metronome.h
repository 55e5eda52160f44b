// The service's metronomes: each tick completes its handler on the timer
// thread once its period (milliseconds) has elapsed, with success, or at once
// after a cancel, with ASYNC_ERROR_CANCELED. A tick that cannot be scheduled
// completes its handler before Tick returns, with the failure, and returns no job.
//
// The factory keeps one metronome per period for its whole life.
//
// Threading: every call from any thread; tick completions run on the timer
// thread, under no lock of the service.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "core/common/mutex.h"
#include "platform/async/async_service.h"
#include "platform/async/tick_timer.h"

namespace AsyncPlatform {

class Metronome : public Async::Metronome
{
public:
    Metronome(TickTimer& timer, uint32_t periodMilliseconds) : m_timer(timer), m_period(periodMilliseconds) {}

    std::shared_ptr<Async::Job> Tick(Async::ActionHandler& handler) override;

private:
    TickTimer& m_timer;
    const uint32_t m_period;
};

class MetronomeFactory : public Async::MetronomeFactory
{
public:
    explicit MetronomeFactory(TickTimer& timer) : m_timer(timer) {}

    // std::bad_alloc passes out.
    Async::Metronome* CreateMetronome(uint32_t period) override;

private:
    TickTimer& m_timer;
    Common::NonRecursiveMutex m_lock;
    std::map<uint32_t, std::unique_ptr<Metronome>> m_metronomes COMMON_GUARDED_BY(m_lock);
};

} // namespace AsyncPlatform
