// Metronome ticks over the timer thread.

#include "platform/async/metronome.h"

#include <chrono>
#include <new>
#include <system_error>

#include "platform/async/service_job.h"
#include "platform/objrep/common_error.h"

namespace AsyncPlatform {

namespace {

// The published places of this file's errors: the LineTag of a line is the
// file's base (the 64-bit FNV-1a hash of its path) plus the line.
constexpr const char* kSourcePath = "platform/async/metronome";
constexpr uint64_t kLineTagBase = 0xbb0fb3fee8920852;
constexpr uint32_t kCancelledTickLine = 44;
constexpr uint32_t kNoTimerThreadLine = 52;

constexpr unsigned kCanceledCode = 0xF90002; // ASYNC_ERROR_CANCELED
constexpr const char16_t* kCanceledText = u"ASYNC: The operation has been canceled.";
// The code of the error record that stands for exhausted memory.
constexpr unsigned kOutOfMemoryCode = 0xFFF2;

Common::Error CanceledError(uint32_t line)
{
    return Common::Error(kCanceledCode, kCanceledText,
                         Common::Location{kLineTagBase + line, kSourcePath, "Tick", line});
}

class TickJob : public ServiceJob
{
public:
    explicit TickJob(TickTimer& timer) : m_timer(timer) {}

    void Cancel() override { m_timer.Cancel(m_tick); }

    TickTimer& m_timer;
    TickTimer::Id m_tick = 0; // set before the job is handed out
};

} // namespace

std::shared_ptr<Async::Job> Metronome::Tick(Async::ActionHandler& handler)
{
    std::shared_ptr<TickJob> job;
    try {
        job = std::make_shared<TickJob>(m_timer);
        const auto deadline = TickTimer::Clock::now() + std::chrono::milliseconds(m_period);
        job->m_tick = m_timer.Schedule(deadline, [&handler](bool cancelled) {
            if (cancelled)
                handler.Completed(CanceledError(kCancelledTickLine));
            else
                handler.Completed(Common::Error());
        });
    } catch (const std::bad_alloc&) {
        handler.Completed(Common::Error(kOutOfMemoryCode, Common::Location{}));
        return nullptr;
    } catch (const std::system_error& failure) { // no timer thread
        Common::Error error = CanceledError(kNoTimerThreadLine);
        handler.Completed(error.AddPosixError(failure.code().value()));
        return nullptr;
    }
    return job;
}

Async::Metronome* MetronomeFactory::CreateMetronome(uint32_t period)
{
    Common::LockGuard guard(m_lock);
    std::unique_ptr<Metronome>& metronome = m_metronomes[period];
    if (!metronome)
        metronome = std::make_unique<Metronome>(m_timer, period);
    return metronome.get();
}

} // namespace AsyncPlatform
