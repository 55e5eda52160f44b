// Metronome ticks over the timer thread.

#include "platform/async/metronome.h"

#include <chrono>
#include <new>
#include <system_error>

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "platform/async/service_job.h"

namespace AsyncPlatform {

namespace {

constexpr Common::SourceFile kSource("platform/async/metronome");
constexpr unsigned kCanceledCode = 0xF90002;
constexpr unsigned kCanceledText = 133; // "ASYNC: The operation has been canceled."

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
                handler.Completed(
                    Common::Error(kCanceledCode, Common::GetMessageText(kCanceledText), kSource.At("Tick", __LINE__)));
            else
                handler.Completed(Common::Success);
        });
    } catch (const std::bad_alloc&) {
        handler.Completed(Common::Error(Common::GetOutOfMemoryErrorRecord()));
        return nullptr;
    } catch (const std::system_error& failure) { // no timer thread
        Common::Error error(kCanceledCode, Common::GetMessageText(kCanceledText), kSource.At("Tick", __LINE__));
        handler.Completed(error.AddPosixError(failure.code().value()));
        return nullptr;
    }
    return job;
}

Async::Metronome* MetronomeFactory::CreateMetronome(uint32_t period)
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::unique_ptr<Metronome>& metronome = m_metronomes[period];
    if (!metronome)
        metronome = std::make_unique<Metronome>(m_timer, period);
    return metronome.get();
}

} // namespace AsyncPlatform
