#include "enterprise/common/async/lazy_barrier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/error.h"
#include "testing/error_matchers.h"

namespace {

using AsyncTest::RecordingHandler;
using AsyncTest::TestAction;
using Mode = AsyncTest::TestAction::Mode;
using ::testing::AllOf;
using Testing::CausedBy;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;

const Common::Error kFailure(0x40001, Common::Location{});

Common::Error Canceled()
{
    return Async::MakeCanceledError(Common::Location{});
}

TEST(LazyBarrier, WaitingOnABarrierThatNeverPerformedSucceedsAtOnceWithoutAJob)
{
    Async::LazyBarrier barrier;
    RecordingHandler waiter, canceller;
    EXPECT_EQ(barrier.WaitAll(waiter), nullptr);
    EXPECT_EQ(barrier.CancelAndWait(canceller), nullptr);
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), IsSuccessError());
    EXPECT_EQ(canceller.calls.load(), 1);
    EXPECT_THAT(canceller.Last(), IsSuccessError());
}

TEST(LazyBarrier, WaitingAfterEveryActionCompletedDeliversTheStoredResultAtOnce)
{
    Async::LazyBarrier barrier;
    TestAction first(Mode::CompleteInPerform), second(Mode::CompleteLater);
    EXPECT_THAT(barrier.Perform(first), IsSuccessError());
    EXPECT_THAT(barrier.Perform(second), IsSuccessError());
    second.Complete(kFailure); // after its Perform returned, no cancel: as delivered
    RecordingHandler waiter;
    EXPECT_NE(barrier.WaitAll(waiter), nullptr);
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), ErrorIs(0x40001));
}

TEST(LazyBarrier, TheFirstFailureWinsAndCancelsTheRest)
{
    Async::LazyBarrier barrier;
    TestAction first(Mode::CompleteInPerform), second(Mode::CompleteLater), third(Mode::CompleteInCancel, Canceled());
    for (TestAction* action : {&first, &second, &third})
        EXPECT_THAT(barrier.Perform(*action), IsSuccessError());
    RecordingHandler waiter;
    const std::shared_ptr<Async::Job> job = barrier.WaitAll(waiter);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(waiter.calls.load(), 0);

    std::thread([&] { second.Complete(kFailure); }).join();
    EXPECT_EQ(third.cancels.load(), 1);
    EXPECT_EQ(first.cancels.load(), 0);
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), ErrorIs(0x40001)); // not the third's canceled error
}

TEST(LazyBarrier, AFailureInsidePerformCarriesTheBarriersContextAndIsKept)
{
    Async::LazyBarrier barrier;
    TestAction failing(Mode::CompleteInPerform, kFailure), later(Mode::CompleteInPerform);
    const auto expected = AllOf(ErrorIs(Async::ASYNC_ERROR_JOB_CONTEXT), HasText(u"ASYNC: Lazy barrier action job."),
                                CausedBy(ErrorIs(0x40001)));
    EXPECT_THAT(barrier.Perform(failing), expected);
    // Nothing pending any more: the stored failure, without running the action.
    EXPECT_THAT(barrier.Perform(later), expected);
    EXPECT_EQ(later.performs.load(), 0);
    RecordingHandler waiter;
    (void)barrier.WaitAll(waiter);
    EXPECT_THAT(waiter.Last(), expected);
}

// The cancel that follows a failure unlists the pending actions, so a later
// Perform hears of the failure even while they are still running.
TEST(LazyBarrier, AFailedBarrierWithPendingActionsAcceptsNothingMore)
{
    Async::LazyBarrier barrier;
    TestAction pending(Mode::CompleteLater), failing(Mode::CompleteInPerform, kFailure),
        refused(Mode::CompleteInPerform);
    EXPECT_THAT(barrier.Perform(pending), IsSuccessError());
    EXPECT_THAT(barrier.Perform(failing), ErrorIs(Async::ASYNC_ERROR_JOB_CONTEXT));
    EXPECT_EQ(pending.cancels.load(), 1);
    EXPECT_THAT(barrier.Perform(refused), CausedBy(ErrorIs(0x40001)));
    EXPECT_EQ(refused.performs.load(), 0);

    RecordingHandler waiter;
    (void)barrier.WaitAll(waiter);
    pending.Complete(Canceled());
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), CausedBy(ErrorIs(0x40001)));
}

TEST(LazyBarrier, CancelAndWaitSucceedsOnceEveryCancelledActionCompleted)
{
    Async::LazyBarrier barrier;
    TestAction first(Mode::CompleteLater), second(Mode::CompleteLater);
    (void)barrier.Perform(first);
    (void)barrier.Perform(second);
    RecordingHandler waiter;
    const std::shared_ptr<Async::Job> job = barrier.CancelAndWait(waiter);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(first.cancels.load(), 1);
    EXPECT_EQ(second.cancels.load(), 1);
    first.Complete(Canceled());
    EXPECT_EQ(waiter.calls.load(), 0);
    second.Complete(Common::Success);
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), IsSuccessError());
}

TEST(LazyBarrier, CancellingTheWaitJobCancelsTheActions)
{
    Async::LazyBarrier barrier;
    TestAction action(Mode::CompleteInCancel, Canceled());
    (void)barrier.Perform(action);
    RecordingHandler waiter;
    const std::shared_ptr<Async::Job> job = barrier.WaitAll(waiter);
    job->Cancel();
    EXPECT_EQ(action.cancels.load(), 1);
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), ErrorIs(Async::ASYNC_ERROR_CANCELED));
}

TEST(LazyBarrier, AWaitTakesTheJobAndTheNextPerformStartsANewOne)
{
    Async::LazyBarrier barrier;
    TestAction old(Mode::CompleteLater), failing(Mode::CompleteInPerform, kFailure);
    (void)barrier.Perform(old);
    RecordingHandler oldWaiter;
    (void)barrier.WaitAll(oldWaiter);
    EXPECT_THAT(barrier.Perform(failing), ErrorIs(Async::ASYNC_ERROR_JOB_CONTEXT));
    EXPECT_EQ(old.cancels.load(), 0);
    old.Complete(Common::Success);
    EXPECT_THAT(oldWaiter.Last(), IsSuccessError());
    RecordingHandler newWaiter;
    (void)barrier.WaitAll(newWaiter);
    EXPECT_THAT(newWaiter.Last(), ErrorIs(Async::ASYNC_ERROR_JOB_CONTEXT));
}

TEST(LazyBarrierThreads, TheDestructorCancelsAndWaitsForALateCompleter)
{
    auto barrier = std::make_unique<Async::LazyBarrier>();
    TestAction action(Mode::CompleteLater);
    (void)barrier->Perform(action);
    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        barrier.reset();
        destroyed = true;
    });
    while (action.cancels.load() == 0)
        std::this_thread::yield();
    EXPECT_FALSE(destroyed.load());
    action.Complete(Canceled());
    destroyer.join();
    EXPECT_TRUE(destroyed.load());
}

TEST(LazyBarrier, ABarrierWhoseJobWasTakenIsDestroyedWithoutWaiting)
{
    TestAction action(Mode::CompleteLater);
    RecordingHandler waiter;
    std::shared_ptr<Async::Job> job;
    {
        Async::LazyBarrier barrier;
        (void)barrier.Perform(action);
        job = barrier.WaitAll(waiter);
    }
    EXPECT_EQ(action.cancels.load(), 0);
    action.Complete(Common::Success);
    EXPECT_EQ(waiter.calls.load(), 1);
}

TEST(LazyBarrier, AWaitJobDroppedEarlyLivesUntilTheLastActionCompleted)
{
    Async::LazyBarrier barrier;
    TestAction first(Mode::CompleteLater), second(Mode::CompleteLater);
    (void)barrier.Perform(first);
    (void)barrier.Perform(second);
    RecordingHandler waiter;
    (void)barrier.WaitAll(waiter); // nobody keeps the job handle
    first.Complete(Common::Success);
    second.Complete(kFailure);
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), ErrorIs(0x40001));
}

// Many actions completing on several threads: the waiter is completed once,
// with the one failure among them.
TEST(LazyBarrierThreads, CompletionsOnManyThreadsCompleteTheWaiterOnce)
{
    for (const bool withFailure : {false, true}) {
        constexpr int kActions = 400;
        std::vector<std::unique_ptr<TestAction>> actions;
        Async::LazyBarrier barrier;
        for (int i = 0; i < kActions; ++i) {
            actions.push_back(std::make_unique<TestAction>(Mode::CompleteLater));
            ASSERT_THAT(barrier.Perform(*actions.back()), IsSuccessError());
        }
        RecordingHandler waiter;
        const std::shared_ptr<Async::Job> job = barrier.WaitAll(waiter);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = t; i < kActions; i += 4)
                    actions[i]->Complete(withFailure && i == 123 ? kFailure : Common::Success);
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(waiter.calls.load(), 1);
        if (withFailure)
            EXPECT_THAT(waiter.Last(), ErrorIs(0x40001));
        else
            EXPECT_THAT(waiter.Last(), IsSuccessError());
    }
}

} // namespace
