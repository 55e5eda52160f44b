// Job control: the transition table, the roads of a run, job context, cancels,
// exceptions at the boundaries, re-runs and destruction from the handler, and
// the three-way race of perform, completion and cancel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <barrier>
#include <cstdlib>
#include <latch>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/thread_id.h"
#include "core/common/trace.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/job_control.h"
#include "testing/error_matchers.h"

namespace {

using namespace Testing;
using AsyncTest::RecordingHandler;
using AsyncTest::TestAction;
using ::testing::AllOf;
using Mode = AsyncTest::TestAction::Mode;
using State = Async::JobControl::State;
using JC = Async::JobControl;

constexpr Common::SourceFile kTestSource("enterprise/common/async/job_control_test");

Common::Error Failure()
{
    return Common::Error(0xFA000D, u"POR: broken", kTestSource.At("Failure", 7));
}

// An owner that describes itself with a fixed text and location.
class Owner : public Async::DescriptiveEntity
{
public:
    Async::EntityDescription Describe() const override
    {
        return Async::EntityDescription(u"Owner job", kTestSource.At("Owner", 99));
    }
};

TEST(JobControlTransitions, TableAllowsExactlyTheListedChanges)
{
    const std::set<std::pair<int, int>> allowed = {
        {JC::STATE_BEGIN, JC::STATE_PERFORMED},
        {JC::STATE_BEGIN, JC::STATE_COMPLETED_IN_PERFORM},
        {JC::STATE_BEGIN, JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
        {JC::STATE_BEGIN, JC::STATE_FINISHING},
        {JC::STATE_PERFORMED, JC::STATE_CANCELING},
        {JC::STATE_PERFORMED, JC::STATE_FINISHING},
        {JC::STATE_COMPLETED_IN_PERFORM, JC::STATE_COMPLETED_CANCEL_SCHEDULED},
        {JC::STATE_COMPLETED_IN_PERFORM, JC::STATE_FINISHING},
        {JC::STATE_CANCEL_SCHEDULED_WAIT_ALL, JC::STATE_CANCELED_WAIT_COMPLETION},
        {JC::STATE_CANCEL_SCHEDULED_WAIT_ALL, JC::STATE_COMPLETED_CANCEL_SCHEDULED},
        {JC::STATE_CANCEL_SCHEDULED_WAIT_ALL, JC::STATE_CANCELING_AFTER_PERFORM},
        {JC::STATE_CANCEL_SCHEDULED_WAIT_ALL, JC::STATE_FINISHING},
        {JC::STATE_CANCELED_WAIT_COMPLETION, JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
        {JC::STATE_CANCELED_WAIT_COMPLETION, JC::STATE_FINISHING},
        {JC::STATE_COMPLETED_CANCEL_SCHEDULED, JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
        {JC::STATE_COMPLETED_CANCEL_SCHEDULED, JC::STATE_FINISHING},
        {JC::STATE_CANCELING_AFTER_PERFORM, JC::STATE_CANCELED_WAIT_COMPLETION},
        {JC::STATE_CANCELING_AFTER_PERFORM, JC::STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM},
        {JC::STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM, JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
        {JC::STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM, JC::STATE_FINISHING},
        {JC::STATE_CANCELING, JC::STATE_CANCELED_WAIT_COMPLETION},
        {JC::STATE_CANCELING, JC::STATE_COMPLETED_WHILE_CANCELING},
        {JC::STATE_COMPLETED_WHILE_CANCELING, JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
        {JC::STATE_COMPLETED_WHILE_CANCELING, JC::STATE_FINISHING},
        {JC::STATE_FINISHING, JC::STATE_BEGIN},
        {JC::STATE_FINISHING, JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
    };
    const JC::Transitions& table = JC::GetTransitions();
    for (int from = 0; from < JC::kStateCount; ++from)
        for (int to = 0; to < JC::kStateCount; ++to)
            EXPECT_EQ(table.Allows(from, to), allowed.count({from, to}) == 1) << from << " -> " << to;
    // Bits past the 121 pairs stay clear.
    for (int bit = JC::kStateCount * JC::kStateCount; bit < 128; ++bit)
        EXPECT_EQ((table.bits[bit / 8] >> (bit % 8)) & 1, 0) << bit;
}

TEST(JobControl, CompletionInsidePerformCallsTheHandlerBeforePerformReturns)
{
    JC control;
    TestAction action(Mode::CompleteInPerform);
    RecordingHandler handler;
    control.Perform(action, handler, nullptr);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), IsSuccessError());
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

TEST(JobControl, CompletionAfterPerformReachesTheHandlerOnTheCompletingThread)
{
    JC control;
    TestAction action(Mode::CompleteLater);
    RecordingHandler handler;
    control.Perform(action, handler, nullptr);
    EXPECT_EQ(control.GetState(), JC::STATE_PERFORMED);
    EXPECT_EQ(handler.calls.load(), 0);
    std::thread([&] { action.Complete(Common::Success); }).join();
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

// An owned failure is wrapped only when it arrives inside Perform; one that
// arrives after Perform returned reaches the handler as delivered.
TEST(JobControl, OwnedFailureInsidePerformIsWrappedInTheOwnersContext)
{
    Owner owner;
    JC control;
    TestAction inside(Mode::CompleteInPerform, Failure());
    RecordingHandler handler;
    control.Perform(inside, handler, &owner);
    EXPECT_THAT(handler.Last(),
                AllOf(ErrorIs(0xF90004), HasText(u"Owner job"),
                      RaisedAt("enterprise/common/async/job_control_test", "Owner", 99), CausedBy(ErrorIs(0xFA000D))));

    TestAction later(Mode::CompleteLater);
    RecordingHandler laterHandler;
    control.Perform(later, laterHandler, &owner);
    const Common::Error failure = Failure();
    later.Complete(failure);
    EXPECT_EQ(laterHandler.Last().GetRecord(), failure.GetRecord());

    // Without an owner nothing is wrapped, and a success never is.
    TestAction unowned(Mode::CompleteInPerform, failure);
    control.Perform(unowned, handler, nullptr);
    EXPECT_EQ(handler.Last().GetRecord(), failure.GetRecord());
    TestAction success(Mode::CompleteInPerform);
    control.Perform(success, handler, &owner);
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

// An owner whose description fails leaves the result unchanged.
class FailingOwner : public Async::DescriptiveEntity
{
public:
    Async::EntityDescription Describe() const override { Common::ThrowError(Failure()); }
};

TEST(JobControl, OwnerThatFailsToDescribeLeavesTheResultUnchanged)
{
    FailingOwner owner;
    JC control;
    const Common::Error failure(0x40001, kTestSource.At("Test", __LINE__));
    TestAction action(Mode::CompleteInPerform, failure);
    RecordingHandler handler;
    control.Perform(action, handler, &owner);
    EXPECT_EQ(handler.Last().GetRecord(), failure.GetRecord());
}

TEST(JobControl, CancelBeforePerformStopsTheRunWithoutPerformingTheAction)
{
    JC control;
    control.Cancel();
    EXPECT_EQ(control.GetState(), JC::STATE_CANCEL_SCHEDULED_WAIT_ALL);
    TestAction action(Mode::CompleteInPerform);
    RecordingHandler handler;
    control.Perform(action, handler, nullptr);
    EXPECT_EQ(action.performs.load(), 0);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(),
                AllOf(ErrorIs(0xF90002), HasText(u"ASYNC: The operation has been canceled."),
                      RaisedAt("enterprise/common/async/job_control", "PreventiveCancel", 155),
                      HasLineTag(0x01CE6880AFC17CEBull)));
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
    // The cancel was consumed: the next run performs.
    control.Perform(action, handler, nullptr);
    EXPECT_EQ(action.performs.load(), 1);
}

// A cancel while the job runs: the run ends with what the job delivers; the
// cancel stays pending for the next run unless the result was canceled.
TEST(JobControl, CancelWhileRunningKeepsTheCancelUnlessTheResultWasCanceled)
{
    Common::Error wrappedCancel(0x40001, kTestSource.At("Test", __LINE__));
    wrappedCancel.AddCause(Async::GetCanceledError());
    struct Case
    {
        Common::Error delivered;
        State after;
    };
    const Case cases[] = {
        {Common::Success, JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
        {Failure(), JC::STATE_CANCEL_SCHEDULED_WAIT_ALL},
        {Async::GetCanceledError(), JC::STATE_BEGIN},
        {wrappedCancel, JC::STATE_BEGIN},
    };
    for (const Case& item : cases) {
        for (Mode mode : {Mode::CompleteInCancel, Mode::CompleteLater}) {
            JC control;
            TestAction action(mode, item.delivered);
            RecordingHandler handler;
            control.Perform(action, handler, nullptr);
            control.Cancel();
            EXPECT_EQ(action.cancels.load(), 1);
            if (mode == Mode::CompleteLater) {
                EXPECT_EQ(control.GetState(), JC::STATE_CANCELED_WAIT_COMPLETION);
                action.Complete(item.delivered);
            }
            EXPECT_EQ(handler.calls.load(), 1);
            EXPECT_EQ(handler.Last().GetCode(), item.delivered.GetCode());
            EXPECT_EQ(control.GetState(), item.after);
            if (item.after == JC::STATE_CANCEL_SCHEDULED_WAIT_ALL) {
                TestAction next(Mode::CompleteInPerform);
                control.Perform(next, handler, nullptr);
                EXPECT_EQ(next.performs.load(), 0);
                EXPECT_THAT(handler.Last(), ErrorIs(0xF90002));
            }
        }
    }
}

// A failure that arrives during a cancel is finished by the cancelling entry,
// and so carries the owner's context.
TEST(JobControl, OwnedFailureDuringCancelIsWrapped)
{
    Owner owner;
    JC control;
    TestAction action(Mode::CompleteInCancel, Async::GetCanceledError());
    RecordingHandler handler;
    control.Perform(action, handler, &owner);
    control.Cancel();
    EXPECT_THAT(handler.Last(), AllOf(ErrorIs(0xF90004), CausedBy(ErrorIs(0xF90002))));
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

// A job that completes as it is started while a cancel was scheduled during
// Perform: the run finishes with the completion, the cancel waits for the next
// run; a job handed out into a scheduled cancel is cancelled by the performer.
class CancellingAction : public Async::Action
{
public:
    CancellingAction(JC& control, TestAction& inner) : m_control(control), m_inner(inner) {}
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        m_control.Cancel();
        return m_inner.Perform(handler);
    }

private:
    JC& m_control;
    TestAction& m_inner;
};

TEST(JobControl, CancelArrivingDuringPerform)
{
    {
        JC control;
        TestAction inner(Mode::CompleteInPerform);
        CancellingAction action(control, inner);
        RecordingHandler handler;
        control.Perform(action, handler, nullptr);
        EXPECT_THAT(handler.Last(), IsSuccessError());
        EXPECT_EQ(control.GetState(), JC::STATE_CANCEL_SCHEDULED_WAIT_ALL);
    }
    {
        JC control;
        TestAction inner(Mode::CompleteInCancel, Async::GetCanceledError());
        CancellingAction action(control, inner);
        RecordingHandler handler;
        control.Perform(action, handler, nullptr);
        EXPECT_EQ(inner.cancels.load(), 1);
        EXPECT_EQ(handler.calls.load(), 1);
        EXPECT_THAT(handler.Last(), ErrorIs(0xF90002));
        EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
    }
    {
        JC control;
        TestAction inner(Mode::CompleteLater);
        CancellingAction action(control, inner);
        RecordingHandler handler;
        control.Perform(action, handler, nullptr);
        EXPECT_EQ(inner.cancels.load(), 1);
        EXPECT_EQ(control.GetState(), JC::STATE_CANCELED_WAIT_COMPLETION);
        inner.Complete(Common::Success);
        EXPECT_EQ(handler.calls.load(), 1);
        EXPECT_EQ(control.GetState(), JC::STATE_CANCEL_SCHEDULED_WAIT_ALL);
    }
}

TEST(JobControl, ThrownErrorFromPerformBecomesThePerformOperationError)
{
    AsyncTest::TraceCapture traces;
    JC control;
    TestAction action(Mode::ThrowInPerform, Failure());
    RecordingHandler handler;
    control.Perform(action, handler, nullptr);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(),
                AllOf(ErrorIs(0xF90006), HasText(u"ASYNC: Exception has occurred during operation 'Perform'."),
                      RaisedAt("enterprise/common/async/job_control", "DescribeException", 50),
                      CausedBy(ErrorIs(0xFA000D))));
    const auto traced = traces.AtLevel(Common::TRACE_ERROR);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_THAT(traced[0], ErrorIs(0xF90006));
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

TEST(JobControl, CancelScheduledDuringAFailingPerformIsConsumed)
{
    JC control;
    TestAction inner(Mode::ThrowInPerform, Failure());
    CancellingAction action(control, inner);
    RecordingHandler handler;
    control.Perform(action, handler, nullptr);
    EXPECT_THAT(handler.Last(), ErrorIs(0xF90006));
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

TEST(JobControl, OtherExceptionsFromPerformOrTheHandlerPassThrough)
{
    class StdThrowingAction : public Async::Action
    {
    public:
        std::shared_ptr<Async::Job> Perform(Async::ActionHandler&) override { throw std::runtime_error("x"); }
    };
    JC control;
    StdThrowingAction action;
    RecordingHandler handler;
    EXPECT_THROW(control.Perform(action, handler, nullptr), std::runtime_error);
    EXPECT_EQ(handler.calls.load(), 0);
}

// An action whose Perform throws something other than a Common::Error, after
// completing its handler and scheduling a cancel when asked to.
class ForeignThrowingAction : public Async::Action
{
public:
    ForeignThrowingAction(JC& control, bool completeFirst, bool cancelFirst)
        : m_control(control), m_completeFirst(completeFirst), m_cancelFirst(cancelFirst)
    {
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        if (m_completeFirst)
            handler.Completed(Failure());
        if (m_cancelFirst)
            m_control.Cancel();
        throw std::runtime_error("x");
    }

private:
    JC& m_control;
    bool m_completeFirst;
    bool m_cancelFirst;
};

// The exception ends the run without a handler call: a completion delivered
// before it is dropped, a cancel scheduled during it consumed, and the next run
// goes as on a fresh control.
TEST(JobControl, AForeignExceptionFromPerformLeavesTheControlReadyForTheNextRun)
{
    for (const bool completeFirst : {false, true}) {
        for (const bool cancelFirst : {false, true}) {
            SCOPED_TRACE(std::string(completeFirst ? "completed" : "not completed") +
                         (cancelFirst ? ", cancelled" : ""));
            AsyncTest::AssertionCapture assertions;
            RecordingHandler handler;
            {
                JC control;
                ForeignThrowingAction throwing(control, completeFirst, cancelFirst);
                EXPECT_THROW(control.Perform(throwing, handler, nullptr), std::runtime_error);
                EXPECT_EQ(handler.calls.load(), 0);
                EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
                TestAction next(Mode::CompleteInPerform);
                control.Perform(next, handler, nullptr);
                EXPECT_EQ(next.performs.load(), 1);
                EXPECT_EQ(handler.calls.load(), 1);
                EXPECT_THAT(handler.Last(), IsSuccessError());
                EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
            }
            EXPECT_TRUE(assertions.Reports().empty()) << assertions.Reports().front();
        }
    }
}

TEST(JobControl, ErrorThrownByTheHandlerIsTracedAsFinalizeRun)
{
    AsyncTest::TraceCapture traces;
    JC control;
    TestAction action(Mode::CompleteInPerform);
    RecordingHandler handler([](const Common::Error&) { Common::ThrowError(Failure()); });
    EXPECT_NO_THROW(control.Perform(action, handler, nullptr));
    const auto traced = traces.AtLevel(Common::TRACE_ERROR);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_THAT(traced[0],
                AllOf(ErrorIs(0xF90006), HasText(u"ASYNC: Exception has occurred during operation 'Finalize run'."),
                      CausedBy(ErrorIs(0xFA000D))));
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

TEST(JobControl, DestroyingARunningControlReportsPrematureDestruction)
{
    AsyncTest::AssertionCapture assertions;
    TestAction action(Mode::CompleteLater);
    RecordingHandler handler;
    {
        JC control;
        control.Perform(action, handler, nullptr);
    }
    EXPECT_TRUE(assertions.Saw("(state == STATE_BEGIN || state == STATE_CANCEL_SCHEDULED_WAIT_ALL) && "
                               "\"Premature JobControl destruction.\"",
                               140));
    {
        JC idle;
        idle.Cancel(); // a pending cancel is a quiet state too
    }
    EXPECT_EQ(assertions.Reports().size(), 1u);
}

// An action that completes its handler twice inside Perform.
class TwiceAction : public Async::Action
{
public:
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        handler.Completed(Common::Success);
        handler.Completed(Failure());
        return {};
    }
};

TEST(JobControl, SecondCompletionIsReportedAndIgnored)
{
    AsyncTest::AssertionCapture assertions;
    JC control;
    TwiceAction twice;
    RecordingHandler handler;
    control.Perform(twice, handler, nullptr);
    EXPECT_TRUE(assertions.Saw("!\"State logic broken. Second Completed() called.\"", 478));
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

// The handler may start the next run from inside its completion.
TEST(JobControl, HandlerPerformsAgainFromInsideItsCompletion)
{
    JC control;
    TestAction action(Mode::CompleteInPerform);
    int runs = 0;
    RecordingHandler handler;
    RecordingHandler again([&](const Common::Error&) {
        if (++runs < 5)
            control.Perform(action, again, nullptr);
    });
    control.Perform(action, again, nullptr);
    EXPECT_EQ(runs, 5);
    EXPECT_EQ(action.performs.load(), 5);
    EXPECT_EQ(control.GetState(), JC::STATE_BEGIN);
}

// The handler may destroy the control inside its completion, on every road
// that finishes a run.
TEST(JobControl, HandlerDestroysTheControlInsideItsCompletion)
{
    enum class Road
    {
        InPerform,
        Later,
        Preventive,
        CancelWhileRunning,
        ThrownInPerform
    };
    for (Road road :
         {Road::InPerform, Road::Later, Road::Preventive, Road::CancelWhileRunning, Road::ThrownInPerform}) {
        auto* control = new JC();
        const Mode mode = road == Road::InPerform ? Mode::CompleteInPerform
            : road == Road::ThrownInPerform       ? Mode::ThrowInPerform
            : road == Road::Later                 ? Mode::CompleteLater
                                                  : Mode::CompleteInCancel;
        TestAction action(mode, road == Road::ThrownInPerform ? Failure() : Async::GetCanceledError());
        RecordingHandler handler([&](const Common::Error&) {
            delete control;
            control = nullptr;
        });
        if (road == Road::Preventive)
            control->Cancel();
        control->Perform(action, handler, nullptr);
        if (road == Road::Later)
            action.Complete(Common::Success);
        if (road == Road::CancelWhileRunning)
            control->Cancel();
        EXPECT_EQ(handler.calls.load(), 1);
        EXPECT_EQ(control, nullptr);
    }
}

TEST(JobControl, ControlsAreNumberedApartFromJobs)
{
    JC first;
    JC second;
    EXPECT_EQ(second.GetId(), first.GetId() + 1);
}

// Three threads race Perform, the completion and Cancel on fresh controls:
// every run calls its handler exactly once and ends in a quiet state.
TEST(JobControlThreads, PerformCompletionAndCancelRaceToExactlyOneHandlerCall)
{
    constexpr int kRuns = 20000;
    std::barrier start(3);
    std::barrier end(3);
    JC* control = nullptr;
    TestAction* action = nullptr;
    RecordingHandler* handler = nullptr;
    std::vector<int> failures;

    auto performer = [&] {
        for (int run = 0; run < kRuns; ++run) {
            start.arrive_and_wait();
            control->Perform(*action, *handler, nullptr);
            end.arrive_and_wait();
        }
    };
    auto completer = [&] {
        for (int run = 0; run < kRuns; ++run) {
            start.arrive_and_wait();
            while (!action->HasPendingRun() && handler->calls.load(std::memory_order_acquire) == 0)
                Common::SpinPause();
            action->Complete(run % 5 == 0 ? Failure() : Common::Success);
            end.arrive_and_wait();
        }
    };
    std::thread performing(performer);
    std::thread completing(completer);
    const Mode modes[] = {Mode::CompleteLater, Mode::CompleteInCancel, Mode::CompleteLater, Mode::CompleteInPerform};
    for (int run = 0; run < kRuns; ++run) {
        JC runControl;
        TestAction runAction(modes[run % 4], run % 3 == 0 ? Async::GetCanceledError() : Common::Success);
        RecordingHandler runHandler;
        control = &runControl;
        action = &runAction;
        handler = &runHandler;
        start.arrive_and_wait();
        if (run % 7 != 6)
            runControl.Cancel();
        end.arrive_and_wait();
        const State state = runControl.GetState();
        if (runHandler.calls.load() != 1 || (state != JC::STATE_BEGIN && state != JC::STATE_CANCEL_SCHEDULED_WAIT_ALL))
            failures.push_back(run);
    }
    performing.join();
    completing.join();
    EXPECT_TRUE(failures.empty()) << failures.size() << " runs went wrong, the first is " << failures.front();
}

// An action whose job's Cancel blocks until the test lets it return, so that a
// second cancel and the completion can arrive while the first cancel is
// inside it.
class SlowCancelAction : public Async::Action
{
public:
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        m_handler = &handler;
        return std::make_shared<AsyncTest::TestJob>([this] {
            m_entered.count_down();
            m_release.wait();
        });
    }
    void WaitUntilCancelling() { m_entered.wait(); }
    void LetCancelReturn() { m_release.count_down(); }
    void Complete(const Common::Error& result) { m_handler->Completed(result); }

private:
    Async::ActionHandler* m_handler = nullptr;
    std::latch m_entered{1};
    std::latch m_release{1};
};

// Two cancels race while the handler ends the run by destroying the control
// or by starting the next run: the cancel that reached the job finishes the
// run once the job's Cancel has returned; the other returns at once and
// changes nothing, so it neither lets the control go under the first one nor
// leaves the first to cancel the next run.
TEST(JobControlThreads, ASecondCancelLeavesTheRunToTheCancelThatReachedTheJob)
{
    enum class End
    {
        DestroysTheControl,
        PerformsAgain,
    };
    const struct
    {
        const char* what;
        bool completeBeforeSecondCancel;
        End end;
    } cases[] = {
        {"second cancel, then the completion; the handler destroys the control", false, End::DestroysTheControl},
        {"the completion, then the second cancel; the handler destroys the control", true, End::DestroysTheControl},
        {"second cancel, then the completion; the handler performs again", false, End::PerformsAgain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto* control = new JC();
        SlowCancelAction slow;
        TestAction next(Mode::CompleteLater);
        std::atomic<int> calls{0};
        RecordingHandler nextHandler;
        RecordingHandler handler([&](const Common::Error&) {
            ++calls;
            if (c.end == End::DestroysTheControl) {
                delete control;
                control = nullptr;
            } else {
                control->Perform(next, nextHandler, nullptr);
            }
        });
        control->Perform(slow, handler, nullptr);
        JC* const performed = control;
        std::thread first([performed] { performed->Cancel(); });
        slow.WaitUntilCancelling();
        if (c.completeBeforeSecondCancel)
            slow.Complete(Async::GetCanceledError());
        performed->Cancel(); // returns while the first cancel is inside the job's Cancel
        if (!c.completeBeforeSecondCancel)
            slow.Complete(Async::GetCanceledError());
        EXPECT_EQ(calls.load(), 0) << "the run finished under the first cancel";
        slow.LetCancelReturn();
        first.join();
        EXPECT_EQ(calls.load(), 1);
        if (c.end == End::DestroysTheControl) {
            EXPECT_EQ(control, nullptr);
        } else {
            EXPECT_EQ(next.cancels.load(), 0) << "the next run was cancelled";
            EXPECT_EQ(control->GetState(), JC::STATE_PERFORMED);
            next.Complete(Common::Success);
            EXPECT_THAT(nextHandler.Last(), IsSuccessError());
            delete control;
        }
    }
}

// Many cancels on several threads race the completion of each run: the handler
// is called once per run and the control ends quiet.
TEST(JobControlThreads, ManyCancelsRacingTheCompletionCallTheHandlerOnce)
{
    constexpr int kRuns = 2000;
    constexpr int kCancellers = 3;
    std::barrier start(kCancellers + 2);
    std::barrier end(kCancellers + 2);
    JC control;
    TestAction* action = nullptr;
    std::vector<std::thread> threads;
    for (int t = 0; t < kCancellers; ++t)
        threads.emplace_back([&] {
            for (int run = 0; run < kRuns; ++run) {
                start.arrive_and_wait();
                control.Cancel();
                end.arrive_and_wait();
            }
        });
    threads.emplace_back([&] {
        for (int run = 0; run < kRuns; ++run) {
            start.arrive_and_wait();
            action->Complete(run % 2 ? Async::GetCanceledError() : Common::Success);
            end.arrive_and_wait();
        }
    });
    std::vector<int> failures;
    for (int run = 0; run < kRuns; ++run) {
        TestAction runAction(Mode::CompleteLater);
        RecordingHandler handler;
        action = &runAction;
        if (control.GetState() == JC::STATE_CANCEL_SCHEDULED_WAIT_ALL) {
            control.Perform(runAction, handler, nullptr); // consumes the cancel kept from the last run
            handler.calls = 0;
        }
        control.Perform(runAction, handler, nullptr);
        start.arrive_and_wait();
        end.arrive_and_wait();
        const State state = control.GetState();
        if (handler.calls.load() != 1 || (state != JC::STATE_BEGIN && state != JC::STATE_CANCEL_SCHEDULED_WAIT_ALL))
            failures.push_back(run);
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(failures.empty()) << failures.size() << " runs went wrong, the first is " << failures.front();
}

// Debug builds report a control destroyed while a Cancel call is still inside
// it. The child process aborts at the report, before the late call goes on.
TEST(JobControlThreads, DestroyingTheControlUnderARunningCancelIsReportedInDebugBuilds)
{
#ifdef NDEBUG
    GTEST_SKIP() << "checked in debug builds only";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            setenv("QUORVAN_SAFE_ASSERT", "log abort", 1);
            auto* control = new JC();
            SlowCancelAction slow;
            RecordingHandler handler;
            control->Perform(slow, handler, nullptr);
            std::thread([control] { control->Cancel(); }).detach();
            slow.WaitUntilCancelling();
            delete control;
        },
        "cancelCalls == 0 && \"JobControl destroyed during a Cancel\\(\\) call.\"");
#endif
}

} // namespace
