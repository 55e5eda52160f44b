// Semaphore: admission, the first-in first-out queue, the dispatch loop,
// cancels of waiting and running jobs, and thread environments.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "core/common/event.h"
#include "core/common/thread_id.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/semaphore.h"
#include "platform/async/async_platform.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using namespace Testing;
using AsyncTest::RecordingHandler;
using AsyncTest::TestAction;
using ::testing::AllOf;
using Mode = AsyncTest::TestAction::Mode;

// What a probe action saw, and the test action that completes it; kept by
// the test, since the semaphore destroys an action once it has started it.
struct Probe
{
    explicit Probe(Mode mode, Common::Error result = Common::Error()) : inner(mode, std::move(result)) {}

    TestAction inner;
    std::atomic<Common::ThreadId> ranOn{0};
    std::atomic<uint64_t> tag{0};
    AsyncTest::StackProbe* stack = nullptr;
};

// Records the thread and environment tag it is performed on, then performs
// the probe's test action.
class ProbeAction : public Async::Action
{
public:
    ProbeAction(Probe& probe, std::atomic<bool>* destroyed = nullptr) : m_probe(probe), m_destroyed(destroyed) {}
    ~ProbeAction() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        m_probe.ranOn = Common::GetCurrentThreadId();
        m_probe.tag = AsyncPlatform::GetThreadEnvironmentTag();
        if (m_probe.stack)
            m_probe.stack->Mark();
        return m_probe.inner.Perform(handler);
    }

private:
    Probe& m_probe;
    std::atomic<bool>* m_destroyed;
};

// Binds `count` probe actions of `mode` into `bound`; returns their probes.
std::vector<std::unique_ptr<Probe>> BindAll(Async::Semaphore& semaphore, int count, Mode mode,
                                            std::vector<std::unique_ptr<Async::Action>>& bound)
{
    std::vector<std::unique_ptr<Probe>> probes;
    for (int i = 0; i < count; ++i) {
        probes.push_back(std::make_unique<Probe>(mode));
        bound.push_back(semaphore.Bind(std::make_unique<ProbeAction>(*probes.back())));
    }
    return probes;
}

TEST(Semaphore, CapacityOneStartsEachWaiterOnThePreviousCompletionsThreadInOrder)
{
    Async::Semaphore semaphore(1);
    std::vector<std::unique_ptr<Async::Action>> bound;
    const auto actions = BindAll(semaphore, 3, Mode::CompleteLater, bound);
    std::vector<int> order;
    std::mutex orderMutex;
    std::vector<std::unique_ptr<RecordingHandler>> handlers;
    std::vector<std::shared_ptr<Async::Job>> jobs;
    for (int i = 0; i < 3; ++i) {
        handlers.push_back(std::make_unique<RecordingHandler>([&, i](const Common::Error&) {
            std::lock_guard<std::mutex> lock(orderMutex);
            order.push_back(i);
        }));
        jobs.push_back(bound[i]->Perform(*handlers[i]));
    }
    EXPECT_EQ(actions[0]->ranOn, Common::GetCurrentThreadId());
    EXPECT_EQ(actions[1]->inner.performs.load(), 0);
    EXPECT_EQ(actions[2]->inner.performs.load(), 0);
    for (int i = 0; i < 3; ++i) {
        std::thread completer([&, i] { actions[i]->inner.Complete(Common::Success); });
        const Common::ThreadId completerId = completer.native_handle();
        completer.join();
        if (i < 2) {
            EXPECT_EQ(actions[i + 1]->ranOn, completerId) << i;
            EXPECT_EQ(actions[i + 1]->inner.performs.load(), 1);
        }
        if (i == 0) {
            EXPECT_EQ(actions[2]->inner.performs.load(), 0);
        }
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(Semaphore, CapacityZeroStartsEveryActionInsideItsPerform)
{
    Async::Semaphore semaphore(0);
    std::vector<std::unique_ptr<Async::Action>> bound;
    const auto actions = BindAll(semaphore, 5, Mode::CompleteLater, bound);
    RecordingHandler handler;
    std::vector<std::shared_ptr<Async::Job>> jobs;
    for (auto& action : bound)
        jobs.push_back(action->Perform(handler));
    for (const auto& action : actions) {
        EXPECT_EQ(action->inner.performs.load(), 1);
        action->inner.Complete(Common::Success);
    }
    EXPECT_EQ(handler.calls.load(), 5);
}

TEST(Semaphore, ThousandQueuedSynchronousActionsDrainInOneLoop)
{
    Async::Semaphore semaphore(1);
    std::vector<std::unique_ptr<Async::Action>> holderBound;
    const auto holders = BindAll(semaphore, 1, Mode::CompleteLater, holderBound);
    Probe* holder = holders[0].get();
    RecordingHandler handler;
    std::vector<std::shared_ptr<Async::Job>> jobs{holderBound[0]->Perform(handler)};
    std::vector<std::unique_ptr<Async::Action>> bound;
    AsyncTest::StackProbe probe;
    const auto probes = BindAll(semaphore, 1000, Mode::CompleteInPerform, bound);
    for (const auto& each : probes)
        each->stack = &probe;
    for (auto& action : bound)
        jobs.push_back(action->Perform(handler));
    EXPECT_EQ(handler.calls.load(), 0);
    holder->inner.Complete(Common::Success);
    EXPECT_EQ(handler.calls.load(), 1001);
    EXPECT_LT(probe.Spread(), 16u * 1024);
}

TEST(Semaphore, CancelledWaitingJobCompletesAtOnceAndNeverRuns)
{
    Async::Semaphore semaphore(1);
    std::vector<std::unique_ptr<Async::Action>> bound;
    const auto holders = BindAll(semaphore, 1, Mode::CompleteLater, bound);
    Probe* holder = holders[0].get();
    std::atomic<bool> destroyed{false};
    Probe cancelled(Mode::CompleteInPerform);
    bound.push_back(semaphore.Bind(std::make_unique<ProbeAction>(cancelled, &destroyed)));
    const auto afters = BindAll(semaphore, 1, Mode::CompleteInPerform, bound);
    Probe* after = afters[0].get();
    RecordingHandler holderHandler;
    RecordingHandler waitingHandler;
    RecordingHandler afterHandler;
    const auto holderJob = bound[0]->Perform(holderHandler);
    const auto waitingJob = bound[1]->Perform(waitingHandler);
    const auto afterJob = bound[2]->Perform(afterHandler);
    waitingJob->Cancel();
    EXPECT_EQ(waitingHandler.calls.load(), 1);
    EXPECT_THAT(waitingHandler.Last(),
                AllOf(ErrorIs(0xF90002), RaisedAt("enterprise/common/async/semaphore", "Cancel", 142),
                      HasLineTag(0xD7761D47EDEB3998ull)));
    EXPECT_TRUE(destroyed.load());
    EXPECT_EQ(cancelled.inner.performs.load(), 0);
    holder->inner.Complete(Common::Success);
    EXPECT_EQ(after->inner.performs.load(), 1); // the cancelled job took no place
    EXPECT_EQ(waitingHandler.calls.load(), 1);
}

TEST(Semaphore, CancelOfARunningJobReachesTheActionsJob)
{
    Async::Semaphore semaphore(1);
    std::vector<std::unique_ptr<Async::Action>> bound;
    Probe probe(Mode::CompleteInCancel, Async::GetCanceledError());
    bound.push_back(semaphore.Bind(std::make_unique<ProbeAction>(probe)));
    Probe* action = &probe;
    RecordingHandler handler;
    const auto job = bound[0]->Perform(handler);
    job->Cancel();
    EXPECT_EQ(action->inner.cancels.load(), 1);
    EXPECT_THAT(
        handler.Last(),
        AllOf(ErrorIs(0xF90004), HasText(u"ASYNC: Action sequence pending action job."), CausedBy(ErrorIs(0xF90002))));
    EXPECT_EQ(job->Describe().location.LineTag, 0xD7761D47EDEB39A4ull);
}

TEST(Semaphore, WaitedJobRunsInThePerformersEnvironment)
{
    Async::Semaphore semaphore(1);
    std::vector<std::unique_ptr<Async::Action>> bound;
    const auto actions = BindAll(semaphore, 2, Mode::CompleteLater, bound);
    RecordingHandler handler;
    AsyncPlatform::SetThreadEnvironmentTag(7);
    const auto first = bound[0]->Perform(handler);
    AsyncPlatform::SetThreadEnvironmentTag(9);
    const auto second = bound[1]->Perform(handler);
    AsyncPlatform::SetThreadEnvironmentTag(0);
    EXPECT_EQ(actions[0]->tag, 7u); // admitted at once: no switch
    uint64_t completerTagAfter = 1;
    std::thread([&] {
        AsyncPlatform::SetThreadEnvironmentTag(3);
        actions[0]->inner.Complete(Common::Success);
        completerTagAfter = AsyncPlatform::GetThreadEnvironmentTag();
    }).join();
    EXPECT_EQ(actions[1]->tag, 9u);
    EXPECT_EQ(completerTagAfter, 3u);
    actions[1]->inner.Complete(Common::Success);
}

TEST(Semaphore, BoundActionPerformedTwiceHasNothingLeftToRun)
{
    Async::Semaphore semaphore(1);
    auto bound = semaphore.Bind(std::make_unique<TestAction>(Mode::CompleteInPerform));
    RecordingHandler handler;
    (void)bound->Perform(handler);
    EXPECT_EQ(bound->Perform(handler), nullptr);
    EXPECT_EQ(handler.calls.load(), 2);
    EXPECT_THAT(handler.Last(), ErrorIs(0xF90001));
}

// Actions complete at random inline or on other threads, and some waiting
// jobs are cancelled: never two run at once, they start in order of arrival,
// every handler completes once.
TEST(SemaphoreThreads, CapacityOneUnderRandomCompletionsAndCancels)
{
    constexpr int kActions = 2000;
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    AsyncTest::Completers completers(3);
    class GuardedAction : public Async::Action
    {
    public:
        GuardedAction(std::atomic<int>& running, std::atomic<int>& overlaps, AsyncTest::Completers* completers,
                      std::vector<int>& started, int index)
            : m_running(running), m_overlaps(overlaps), m_completers(completers), m_started(started), m_index(index)
        {
        }
        std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
        {
            if (m_running.fetch_add(1) != 0)
                ++m_overlaps;
            m_started.push_back(m_index); // one at a time: no lock needed
            if (!m_completers) {
                m_running.fetch_sub(1);
                handler.Completed(Common::Success);
                return {};
            }
            std::atomic<int>* running = &m_running;
            m_completers->Post([running, &handler] {
                running->fetch_sub(1);
                handler.Completed(Common::Success);
            });
            return {};
        }

    private:
        std::atomic<int>& m_running;
        std::atomic<int>& m_overlaps;
        AsyncTest::Completers* m_completers;
        std::vector<int>& m_started;
        int m_index;
    };

    std::mt19937 random(11);
    std::atomic<int> remaining{kActions};
    Common::Event allCompleted(true, false);
    std::vector<std::unique_ptr<Async::Action>> bound;
    std::vector<std::unique_ptr<RecordingHandler>> handlers;
    std::vector<std::shared_ptr<Async::Job>> jobs;
    std::vector<int> started;
    Async::Semaphore semaphore(1);
    for (int i = 0; i < kActions; ++i) {
        bound.push_back(semaphore.Bind(
            std::make_unique<GuardedAction>(running, overlaps, random() % 3 == 0 ? nullptr : &completers, started, i)));
        handlers.push_back(std::make_unique<RecordingHandler>([&](const Common::Error&) {
            if (remaining.fetch_sub(1) == 1)
                allCompleted.Set();
        }));
    }
    for (int i = 0; i < kActions; ++i) {
        jobs.push_back(bound[i]->Perform(*handlers[i]));
        if (random() % 7 == 0)
            jobs.back()->Cancel();
    }
    ASSERT_TRUE(allCompleted.Wait());
    for (auto& handler : handlers)
        EXPECT_EQ(handler->calls.load(), 1);
    EXPECT_EQ(overlaps.load(), 0);
    // Started in order of arrival, also when a place is given back on another
    // thread while the next one is being performed.
    EXPECT_TRUE(std::is_sorted(started.begin(), started.end()));
}

TEST(SemaphoreSlots, BinaryOrder)
{
    using Testing::VirtualSlot;
    using Job = Async::Detail::SemaphoreLogic::SemaphoreJob;
    EXPECT_EQ(VirtualSlot(&Job::Describe), 2u);
    EXPECT_EQ(VirtualSlot(&Job::GetId), 3u);
    EXPECT_EQ(VirtualSlot(&Job::Cancel), 4u);
    EXPECT_EQ(VirtualSlot(&Job::Completed), 5u);
    EXPECT_EQ(VirtualSlot(&Async::Detail::BoundAction::Perform), 2u);
}

} // namespace
