#include "platform/async/tick_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using AsyncPlatform::TickTimer;
using namespace std::chrono_literals;

TEST(TickTimerThreads, CallsAtItsDeadlineOnTheTimerThread)
{
    TickTimer timer;
    const auto start = TickTimer::Clock::now();
    std::promise<std::pair<bool, TickTimer::Clock::time_point>> called;
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id on;
    timer.Schedule(start + 30ms, [&](bool cancelled) {
        on = std::this_thread::get_id();
        called.set_value({cancelled, TickTimer::Clock::now()});
    });
    const auto [cancelled, at] = called.get_future().get();
    EXPECT_FALSE(cancelled);
    EXPECT_GE(at - start, 30ms);
    EXPECT_NE(on, caller);
}

TEST(TickTimerThreads, CancelCallsAtOnceMarkedCancelled)
{
    TickTimer timer;
    std::promise<bool> called;
    const TickTimer::Id id = timer.Schedule(TickTimer::Clock::now() + 1h,
                                            [&](bool cancelled) { called.set_value(cancelled); });
    timer.Cancel(id);
    EXPECT_TRUE(called.get_future().get()); // without the cancel this would take an hour
    timer.Cancel(id);                       // a second cancel finds nothing to do
}

TEST(TickTimerThreads, CallsInDeadlineOrderThenScheduleOrder)
{
    TickTimer timer;
    std::mutex lock;
    std::vector<int> order;
    std::promise<void> all;
    // Holds the timer thread until every entry is scheduled, so that the test
    // does not depend on how fast it schedules.
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    timer.Schedule(TickTimer::Clock::now(), [gate](bool) { gate.wait(); });
    const auto base = TickTimer::Clock::now();
    auto record = [&](int n) {
        return [&, n](bool) {
            std::lock_guard<std::mutex> guard(lock);
            order.push_back(n);
            if (order.size() == 4)
                all.set_value();
        };
    };
    timer.Schedule(base + 20ms, record(3));
    timer.Schedule(base, record(1));
    timer.Schedule(base + 20ms, record(4));
    timer.Schedule(base, record(2));
    release.set_value();
    all.get_future().wait();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(TickTimerThreads, CancelRacingTheDeadlineCallsExactlyOnce)
{
    TickTimer timer;
    for (int i = 0; i < 2000; ++i) {
        std::atomic<int> calls{0};
        std::promise<void> done;
        const TickTimer::Id id = timer.Schedule(TickTimer::Clock::now(), [&](bool) {
            calls.fetch_add(1);
            done.set_value();
        });
        std::thread canceller([&] { timer.Cancel(id); });
        done.get_future().wait();
        canceller.join();
        timer.Cancel(id);
        ASSERT_EQ(calls.load(), 1);
    }
}

TEST(TickTimerThreads, DestructionCallsWhatIsLeftAsCancelled)
{
    std::vector<bool> results;
    {
        TickTimer timer;
        timer.Schedule(TickTimer::Clock::now() + 1h, [&](bool cancelled) { results.push_back(cancelled); });
        timer.Schedule(TickTimer::Clock::now() + 2h, [&](bool cancelled) { results.push_back(cancelled); });
    }
    EXPECT_EQ(results, (std::vector<bool>{true, true}));
}

TEST(TickTimerThreads, ACallbackMaySchedule)
{
    TickTimer timer;
    std::promise<void> second;
    timer.Schedule(TickTimer::Clock::now(),
                   [&](bool) { timer.Schedule(TickTimer::Clock::now(), [&](bool) { second.set_value(); }); });
    second.get_future().wait();
}

} // namespace
