// The cyclic action: repeats while runs succeed, ends on the first failure,
// and never nests runs that succeed synchronously.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "core/common/error.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/cyclic_runner.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/waiting_handler.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using namespace Testing;
using AsyncTest::RecordingHandler;
using ::testing::AllOf;

constexpr Common::SourceFile kTestSource("enterprise/common/async/cyclic_runner_test");

Common::Error Failure()
{
    return Common::Error(0xFA000D, u"run failed", kTestSource.At("Failure", 3));
}

// Succeeds `successes` times, then fails; completes inline, or on the
// completers when given.
class CountingAction : public Async::Action
{
public:
    CountingAction(int successes, AsyncTest::Completers* completers = nullptr, AsyncTest::StackProbe* probe = nullptr)
        : m_successes(successes), m_completers(completers), m_probe(probe)
    {
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        if (m_probe)
            m_probe->Mark();
        const Common::Error result = ++performs > m_successes ? Failure() : Common::Error();
        if (m_completers)
            m_completers->Post([&handler, result] { handler.Completed(result); });
        else
            handler.Completed(result);
        return {};
    }

    std::atomic<int> performs{0};

private:
    int m_successes;
    AsyncTest::Completers* m_completers;
    AsyncTest::StackProbe* m_probe;
};

TEST(CyclicRunner, FailureOnTheThirdRunEndsTheCycle)
{
    for (bool inlineRuns : {true, false}) {
        AsyncTest::Completers completers(2);
        auto counting = std::make_unique<CountingAction>(2, inlineRuns ? nullptr : &completers);
        CountingAction& action = *counting;
        std::unique_ptr<Async::Action> owned = std::move(counting);
        const std::unique_ptr<Async::Action> cyclic = Async::MakeCyclicAction(owned);
        EXPECT_EQ(owned, nullptr);
        Async::JobControl control;
        Async::WaitingHandler waiting(true);
        control.Perform(*cyclic, waiting, nullptr);
        const Common::Error result = waiting.Wait(nullptr);
        EXPECT_EQ(action.performs.load(), 3);
        EXPECT_THAT(result, ChainContains(ErrorIs(0xFA000D)));
        // Finished inside Perform: wrapped in the runner's context. A run that
        // completes on another thread may or may not beat its Perform.
        if (inlineRuns) {
            EXPECT_THAT(result,
                        AllOf(ErrorIs(0xF90004), HasText(u"ASYNC: Cyclic action execution job."),
                              RaisedAt("enterprise/common/async/cyclic_runner", "Describe", 65),
                              HasLineTag(0xC1CB2475BF108DF2ull)));
        }
    }
}

TEST(CyclicRunner, MillionSynchronousSuccessesRunAtConstantStack)
{
    AsyncTest::StackProbe probe;
    auto action = std::make_shared<CountingAction>(1000000, nullptr, &probe);
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> runner = Async::CyclicRunnerImpl::Start(action, handler);
    EXPECT_EQ(action->performs.load(), 1000001);
    EXPECT_EQ(handler.calls.load(), 1); // before Start returned
    EXPECT_LT(probe.Spread(), 16u * 1024);
}

TEST(CyclicRunner, CancelEndsTheCycleWithTheRunsCancelResult)
{
    auto action = std::make_shared<AsyncTest::TestAction>(AsyncTest::TestAction::Mode::CompleteInCancel,
                                                          Async::GetCanceledError());
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> runner = Async::CyclicRunnerImpl::Start(action, handler);
    EXPECT_EQ(handler.calls.load(), 0);
    action->Complete(Common::Success); // one successful run: the next one starts
    EXPECT_EQ(action->performs.load(), 2);
    runner->Cancel();
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), ChainContains(ErrorIs(0xF90002)));
    EXPECT_EQ(action->performs.load(), 2);
}

TEST(CyclicRunnerThreads, RunsCompletingOnOtherThreadsCycleUntilTheFailure)
{
    AsyncTest::Completers completers(3);
    auto action = std::make_shared<CountingAction>(5000, &completers);
    Async::WaitingHandler waiting(true);
    const std::shared_ptr<Async::Job> runner = Async::CyclicRunnerImpl::Start(action, waiting);
    EXPECT_THAT(waiting.Wait(nullptr), ChainContains(ErrorIs(0xFA000D)));
    EXPECT_EQ(action->performs.load(), 5001);
}

TEST(CyclicRunnerSlots, BinaryOrder)
{
    using Runner = Async::CyclicRunnerImpl::CyclicRunner;
    EXPECT_EQ(Testing::VirtualSlot(&Runner::Describe), 2u);
    EXPECT_EQ(Testing::VirtualSlot(&Runner::GetId), 3u);
    EXPECT_EQ(Testing::VirtualSlot(&Runner::Cancel), 4u);
    EXPECT_EQ(Testing::VirtualSlot(&Async::Detail::CyclicRunAction::Perform), 2u);
}

} // namespace
