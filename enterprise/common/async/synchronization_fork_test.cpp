// Metronome listener and synchronization fork: ticks, stops, and work handed
// over when a thread synchronizes, with and without a service.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "core/common/event.h"
#include "core/common/thread_id.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/synchronization_fork.h"
#include "platform/async/async_platform.h"

namespace {

// Work that records the thread it ran on and signals.
class RecordingWork : public Async::Work
{
public:
    RecordingWork(Common::ThreadId& ranOn, Common::Event& done) : m_ranOn(ranOn), m_done(done) {}
    Common::Error Run() override
    {
        m_ranOn = Common::GetCurrentThreadId();
        m_done.Set();
        return Common::Success;
    }
    void Detach() override {}

private:
    Common::ThreadId& m_ranOn;
    Common::Event& m_done;
};

// A fork whose readiness the test sets; its work records where it ran.
class TestFork : public Async::SynchronizationFork
{
public:
    ~TestFork() override { Wait(); }
    bool IsReady() override
    {
        ++asked;
        return ready;
    }
    std::unique_ptr<Async::Work> TakeWork() override
    {
        ++taken;
        return std::make_unique<RecordingWork>(ranOn, done);
    }

    bool ready = true;
    std::atomic<int> asked{0};
    std::atomic<int> taken{0};
    Common::ThreadId ranOn = 0;
    Common::Event done{true, false};
};

TEST(SynchronizationFork, WithoutServiceReadyWorkRunsOnTheSynchronizingThread)
{
    AsyncPlatform::NoServiceScopeForTesting noService;
    TestFork fork;
    fork.StartMetronome(); // does nothing without a service
    Async::SynchronizeThread(nullptr);
    EXPECT_EQ(fork.taken.load(), 1);
    EXPECT_TRUE(fork.done.TimedWait(0));
    EXPECT_EQ(fork.ranOn, Common::GetCurrentThreadId());
}

TEST(SynchronizationForkThreads, WithServiceReadyWorkRunsOnAServiceThread)
{
    TestFork fork;
    Async::SynchronizeThread(nullptr);
    ASSERT_TRUE(fork.done.Wait());
    EXPECT_NE(fork.ranOn, Common::GetCurrentThreadId());
}

TEST(SynchronizationFork, WalkReachesEveryForkAndSkipsNotReadyOnes)
{
    AsyncPlatform::NoServiceScopeForTesting noService;
    TestFork lower;
    TestFork upper;
    upper.ready = false;
    Async::SynchronizeThread(nullptr);
    EXPECT_EQ(upper.asked.load(), 1);
    EXPECT_EQ(upper.taken.load(), 0);
    EXPECT_EQ(lower.taken.load(), 1); // a fork answers false: the walk goes on below it
    EXPECT_EQ(upper.GetCalls(), 1);
    EXPECT_EQ(lower.GetCalls(), 1);
}

TEST(SynchronizationFork, WaitWithoutATickReturnsAtOnce)
{
    TestFork fork;
    fork.Wait();
    fork.Wait();
    EXPECT_EQ(fork.taken.load(), 0);
}

TEST(SynchronizationForkThreads, TickSynchronizesTheFork)
{
    TestFork fork;
    fork.StartMetronome();
    ASSERT_TRUE(fork.done.Wait()); // the tick forked the work
    EXPECT_NE(fork.ranOn, Common::GetCurrentThreadId());
    EXPECT_EQ(fork.taken.load(), 1);
}

// A metronome whose cancelled tick completes later on a thread of its own.
class SlowCancelMetronome : public Async::Metronome
{
public:
    class TickJob : public Async::BaseJob
    {
    public:
        TickJob(SlowCancelMetronome& owner, Async::ActionHandler& handler) : m_owner(owner), m_handler(handler) {}
        void Cancel() override
        {
            // The job may be gone once the handler has run: capture what the
            // thread needs.
            SlowCancelMetronome* owner = &m_owner;
            Async::ActionHandler* handler = &m_handler;
            owner->completer = std::thread([owner, handler] {
                owner->completing = true;
                handler->Completed(Async::GetCanceledError());
                owner->completed = true;
            });
        }

    private:
        SlowCancelMetronome& m_owner;
        Async::ActionHandler& m_handler;
    };

    std::shared_ptr<Async::Job> Tick(Async::ActionHandler& handler) override
    {
        return std::make_shared<TickJob>(*this, handler);
    }

    std::thread completer;
    std::atomic<bool> completing{false};
    std::atomic<bool> completed{false};
};

class CountingListener : public Async::MetronomeListener
{
public:
    void OnTick(const Common::Error&) override
    {
        ++ticks;
        ticked.Set();
    }
    std::atomic<int> ticks{0};
    Common::Event ticked{true, false};
};

TEST(MetronomeListenerThreads, StopDuringATickReturnsAfterTheCancelledTicksCompletionWithoutOnTick)
{
    SlowCancelMetronome metronome;
    {
        CountingListener listener;
        ASSERT_TRUE(listener.Start(&metronome));
        listener.Stop();
        EXPECT_TRUE(metronome.completing.load());
        listener.Stop(); // finished: returns at once
        EXPECT_EQ(listener.ticks.load(), 0);
    }
    metronome.completer.join();
    EXPECT_TRUE(metronome.completed.load());
}

TEST(MetronomeListener, ASecondStartIsReportedAndRefused)
{
    AsyncTest::AssertionCapture assertions;
    SlowCancelMetronome metronome;
    CountingListener listener;
    ASSERT_TRUE(listener.Start(&metronome));
    EXPECT_FALSE(listener.Start(&metronome));
    EXPECT_TRUE(assertions.Saw("!\"Metronome logic broken.\"", 91));
    listener.Stop();
    metronome.completer.join();
}

TEST(MetronomeListenerThreads, ServiceTickCallsOnTickOnce)
{
    Async::Service* service = nullptr;
    (void)GetAsyncService(&service);
    ASSERT_NE(service, nullptr);
    CountingListener listener;
    ASSERT_TRUE(listener.Start(service->GetMetronomeFactory()->CreateMetronome(1)));
    ASSERT_TRUE(listener.ticked.Wait());
    listener.Stop();
    EXPECT_EQ(listener.ticks.load(), 1);
}

} // namespace
