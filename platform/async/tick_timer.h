// The timer thread of the async service: calls each scheduled callback once,
// when its deadline has come, or as soon as possible after it was cancelled.
//
// Exactly one call per scheduled callback: with `cancelled` false when the
// deadline came first, true when Cancel came first. The call runs on the timer
// thread, never under the timer's lock, and the timer touches nothing of the
// callback after the call has returned. Callbacks are short: the next one waits.
//
// Threading: Schedule and Cancel from any thread, also from inside a callback.
// The destructor cancels what is still scheduled, calls it, and waits for the
// thread; it must not run inside a callback of the same timer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace AsyncPlatform {

class TickTimer
{
public:
    using Clock = std::chrono::steady_clock;
    using Callback = std::function<void(bool cancelled)>;
    using Id = uint64_t;

    TickTimer();
    ~TickTimer();
    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;

    // Ids start at 1. The timer thread is created by the first call.
    // std::bad_alloc and std::system_error pass out; nothing is scheduled then.
    Id Schedule(Clock::time_point deadline, Callback callback);
    // Moves a callback that has not been called yet to the front, marked
    // cancelled. Nothing for one already called or being called.
    void Cancel(Id id);

private:
    struct State;
    void RunThread();

    std::unique_ptr<State> m_state;
};

} // namespace AsyncPlatform
