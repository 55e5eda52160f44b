#include "core/common/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

namespace Common {

// Looks inside an event to see its waiters and to hold its mutex.
struct EventTestAccess
{
    static bool HasWaiterList(Event& event) { return event.m_waiters != nullptr; }

    static size_t WaiterCount(Event& event)
    {
        event.m_mutex.Lock();
        const size_t count = event.m_waiters ? event.m_waiters->size() : 0;
        event.m_mutex.Unlock();
        return count;
    }

    static void WaitForWaiters(Event& event, size_t count)
    {
        while (WaiterCount(event) != count)
            std::this_thread::yield();
    }

    // Waits until `count` waiters are queued; false when `gone` turns true first
    // (a timed waiter that left early on a loaded machine).
    template <typename Gone>
    static bool WaitForWaitersUnless(Event& event, size_t count, Gone gone)
    {
        while (WaiterCount(event) != count) {
            if (gone())
                return false;
            std::this_thread::yield();
        }
        return true;
    }

    // Whether the oldest waiter has timed out (and not yet left the list).
    static bool OldestTimedOut(Event& event)
    {
        event.m_mutex.Lock();
        bool timedOut = false;
        if (event.m_waiters && !event.m_waiters->empty()) {
            Event::Waiter* waiter = event.m_waiters->front();
            pthread_mutex_lock(&waiter->mutex);
            timedOut = waiter->result == reinterpret_cast<Event*>(~std::uintptr_t(0));
            pthread_mutex_unlock(&waiter->mutex);
        }
        event.m_mutex.Unlock();
        return timedOut;
    }

    static void Lock(Event& event) { event.m_mutex.Lock(); }
    static void Unlock(Event& event) { event.m_mutex.Unlock(); }
};

} // namespace Common

namespace {

using Common::Event;
using Access = Common::EventTestAccess;

TEST(EventThreads, ZeroTimeoutOnUnsignalledEventIsFalseWithoutWaiterList)
{
    for (bool manual : {false, true}) {
        Event event(manual, false);
        EXPECT_FALSE(event.TimedWait(0));
        EXPECT_FALSE(Access::HasWaiterList(event));
    }
}

TEST(EventThreads, AutoResetSignalWithoutWaiterServesExactlyOneWait)
{
    Event event(false, false);
    event.Set();
    event.Set(); // already signalled: no change
    EXPECT_TRUE(event.TimedWait(0));
    EXPECT_FALSE(event.TimedWait(0));
    EXPECT_FALSE(event.TimedWait(5)); // expected to expire
    EXPECT_TRUE(Access::HasWaiterList(event));

    Event initially(false, true);
    EXPECT_TRUE(initially.Wait());
    EXPECT_FALSE(initially.TimedWait(0));
}

TEST(EventThreads, ManualResetStaysSignalledUntilReset)
{
    Event event(true, true);
    EXPECT_TRUE(event.TimedWait(0));
    EXPECT_TRUE(event.Wait());
    event.Reset();
    EXPECT_FALSE(event.TimedWait(0));
}

TEST(EventThreads, ManualResetWakesEveryBlockedWaiter)
{
    Event event(true, false);
    std::vector<std::future<bool>> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.push_back(std::async(std::launch::async, [&] { return event.Wait(); }));
    Access::WaitForWaiters(event, 3);
    event.Set();
    for (auto& waiter : waiters)
        EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(event.TimedWait(0));
    EXPECT_TRUE(event.TimedWait(0));
    event.Reset();
    EXPECT_FALSE(event.TimedWait(0));
    EXPECT_EQ(Access::WaiterCount(event), 0u);
}

TEST(EventThreads, AutoResetWakesOneWaiterPerSet)
{
    Event event(false, false);
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] {
            if (event.Wait())
                ++woken;
        });
    Access::WaitForWaiters(event, 3);
    event.Set();
    while (woken.load() != 1)
        std::this_thread::yield();
    EXPECT_EQ(Access::WaiterCount(event), 2u);
    event.Set();
    event.Set();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_FALSE(event.TimedWait(0)); // every signal was consumed
}

TEST(EventThreads, TimedWaitWithLimitReturnsWhenSet)
{
    Event event(false, false);
    auto waiter = std::async(std::launch::async, [&] { return event.TimedWait(60000); });
    Access::WaitForWaiters(event, 1);
    event.Set();
    EXPECT_TRUE(waiter.get());
    EXPECT_FALSE(event.TimedWait(0));
}

// A waiter that timed out but has not left the list yet: the event's mutex is
// held here, so it cannot leave before Set runs.
bool Finished(std::future<bool>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// The timed waiter must still be queued when the test takes the event's lock;
// on a loaded machine it may time out and leave before that, so the scenario is
// set up again with a longer timeout until it holds.
TEST(EventThreads, SignalSkipsTimedOutWaiterAndGoesToTheNext)
{
    for (uint32_t timeout = 10;; timeout *= 4) {
        Event event(false, false);
        auto late = std::async(std::launch::async, [&] { return event.TimedWait(timeout); });
        const bool lateQueued = Access::WaitForWaitersUnless(event, 1, [&] { return Finished(late); });
        auto patient = std::async(std::launch::async, [&] { return event.Wait(); });
        if (!lateQueued || !Access::WaitForWaitersUnless(event, 2, [&] { return Finished(late); })) {
            event.Set(); // releases the patient waiter
            EXPECT_TRUE(patient.get());
            EXPECT_FALSE(late.get());
            continue;
        }

        Access::Lock(event);
        while (!Access::OldestTimedOut(event))
            std::this_thread::yield();
        event.Set();
        Access::Unlock(event);

        EXPECT_FALSE(late.get());
        EXPECT_TRUE(patient.get());
        EXPECT_FALSE(event.TimedWait(0)); // consumed by the second waiter
        return;
    }
}

TEST(EventThreads, SignalStaysWhenOnlyTimedOutWaitersRemain)
{
    for (uint32_t timeout = 10;; timeout *= 4) {
        Event event(false, false);
        auto late = std::async(std::launch::async, [&] { return event.TimedWait(timeout); });
        if (!Access::WaitForWaitersUnless(event, 1, [&] { return Finished(late); })) {
            EXPECT_FALSE(late.get());
            continue;
        }

        Access::Lock(event);
        while (!Access::OldestTimedOut(event))
            std::this_thread::yield();
        event.Set();
        Access::Unlock(event);

        EXPECT_FALSE(late.get());
        EXPECT_TRUE(event.TimedWait(0));
        EXPECT_FALSE(event.TimedWait(0));
        return;
    }
}

} // namespace
