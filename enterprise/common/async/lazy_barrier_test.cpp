#include "enterprise/common/async/lazy_barrier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
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
using Testing::RaisedAt;

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

// ---- actions whose Perform throws something other than a Common::Error ----

// Runs `work` on a thread of its own and tells whether it ended within
// `limit`. A thread that does not end is left behind; `work` must own what it
// uses.
bool EndsWithin(std::chrono::milliseconds limit, std::function<void()> work)
{
    auto ended = std::make_shared<std::promise<void>>();
    std::future<void> done = ended->get_future();
    std::thread thread([ended, work = std::move(work)] {
        work();
        ended->set_value();
    });
    if (done.wait_for(limit) != std::future_status::ready) {
        thread.detach();
        return false;
    }
    thread.join();
    return true;
}

constexpr std::chrono::milliseconds kDeadline(5000);

// Throws from Perform, after completing its handler first when asked to.
class ThrowingAction : public Async::Action
{
public:
    ThrowingAction(std::function<void()> thrower, bool completeFirst)
        : m_thrower(std::move(thrower)), m_completeFirst(completeFirst)
    {
    }

    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        if (m_completeFirst)
            handler.Completed(Common::Success);
        m_thrower();
        return {};
    }

private:
    std::function<void()> m_thrower;
    bool m_completeFirst;
};

struct ForeignException
{
    const char* what;
    std::function<void()> thrower;
    unsigned code;
    const char16_t* text;
    const char* function;
    uint32_t line;
};

const ForeignException kForeignExceptions[] = {
    {"a std::exception", [] { throw std::runtime_error("disk on fire"); }, Async::ASYNC_ERROR_OPERATION_STD_EXCEPTION,
     u"ASYNC: STD exception 'disk on fire' has occurred during operation 'Perform'.", "DescribeStdException", 55},
    {"an int", [] { throw 7; }, Async::ASYNC_ERROR_OPERATION_UNKNOWN_EXCEPTION,
     u"ASYNC: Unknown exception has occurred during operation 'Perform'.", "DescribeUnknownException", 60},
};

// Performs `action` on `barrier` and tells whether the exception of `thrown`
// came out of it unchanged.
bool PassesTheExceptionOn(Async::LazyBarrier& barrier, Async::Action& action, const ForeignException& thrown)
{
    try {
        (void)barrier.Perform(action);
    } catch (const std::runtime_error& error) {
        return thrown.code == Async::ASYNC_ERROR_OPERATION_STD_EXCEPTION && std::string(error.what()) == "disk on fire";
    } catch (int value) {
        return thrown.code == Async::ASYNC_ERROR_OPERATION_UNKNOWN_EXCEPTION && value == 7;
    }
    return false;
}

auto DescribedAs(const ForeignException& thrown)
{
    return AllOf(ErrorIs(thrown.code), HasText(thrown.text),
                 RaisedAt("enterprise/common/async/job_control", thrown.function, thrown.line));
}

// The exception passes on, and the waiter learns of it at once: the throwing
// action counts as completed, also when it completed its handler before it
// threw, and the control it ran under is left quiet.
TEST(LazyBarrierForeignExceptionThreads, TheExceptionPassesOnAndTheWaiterHearsItsDescription)
{
    for (const ForeignException& thrown : kForeignExceptions) {
        for (const bool completeFirst : {false, true}) {
            SCOPED_TRACE(std::string(thrown.what) + (completeFirst ? ", completed first" : ""));
            AsyncTest::AssertionCapture assertions;
            Async::LazyBarrier barrier;
            TestAction earlier(Mode::CompleteInPerform);
            ASSERT_THAT(barrier.Perform(earlier), IsSuccessError());
            ThrowingAction throwing(thrown.thrower, completeFirst);
            EXPECT_TRUE(PassesTheExceptionOn(barrier, throwing, thrown));
            TestAction refused(Mode::CompleteInPerform);
            EXPECT_THAT(barrier.Perform(refused), DescribedAs(thrown));
            EXPECT_EQ(refused.performs.load(), 0);
            RecordingHandler waiter;
            (void)barrier.WaitAll(waiter);
            EXPECT_EQ(waiter.calls.load(), 1);
            EXPECT_THAT(waiter.Last(), DescribedAs(thrown));
            EXPECT_TRUE(assertions.Reports().empty()) << assertions.Reports().front();
        }
    }
}

// The description is the first failure: pending actions are cancelled, and a
// waiter registered before it completes once the last of them has.
TEST(LazyBarrierForeignExceptionThreads, PendingActionsAreCancelledAndTheWaiterCompletesAfterThem)
{
    for (const ForeignException& thrown : kForeignExceptions) {
        SCOPED_TRACE(thrown.what);
        Async::LazyBarrier barrier;
        TestAction pending(Mode::CompleteLater);
        ASSERT_THAT(barrier.Perform(pending), IsSuccessError());
        ThrowingAction throwing(thrown.thrower, false);
        EXPECT_TRUE(PassesTheExceptionOn(barrier, throwing, thrown));
        EXPECT_EQ(pending.cancels.load(), 1);
        RecordingHandler waiter;
        const std::shared_ptr<Async::Job> job = barrier.WaitAll(waiter);
        EXPECT_EQ(waiter.calls.load(), 0);
        std::thread([&] { pending.Complete(Canceled()); }).join();
        EXPECT_EQ(waiter.calls.load(), 1);
        EXPECT_THAT(waiter.Last(), DescribedAs(thrown));
    }
}

// A barrier never waited for is destroyed after the exception: its destructor
// cancels what is pending and returns once that has completed.
TEST(LazyBarrierForeignExceptionThreads, TheDestructorReturns)
{
    for (const ForeignException& thrown : kForeignExceptions) {
        for (const bool withPending : {false, true}) {
            SCOPED_TRACE(std::string(thrown.what) + (withPending ? ", with a pending action" : ""));
            struct Scene
            {
                std::unique_ptr<Async::LazyBarrier> barrier = std::make_unique<Async::LazyBarrier>();
                TestAction pending{Mode::CompleteInCancel, Canceled()};
                std::unique_ptr<ThrowingAction> throwing;
            };
            auto scene = std::make_shared<Scene>();
            scene->throwing = std::make_unique<ThrowingAction>(thrown.thrower, false);
            if (withPending) {
                ASSERT_THAT(scene->barrier->Perform(scene->pending), IsSuccessError());
            }
            EXPECT_TRUE(PassesTheExceptionOn(*scene->barrier, *scene->throwing, thrown));
            EXPECT_TRUE(EndsWithin(kDeadline, [scene] { scene->barrier.reset(); }));
            EXPECT_EQ(scene->pending.cancels.load(), withPending ? 1 : 0);
        }
    }
}

} // namespace
