// Step control: chains of steps, their outcomes, rollback, cancel, exceptions
// of step handlers, synchronous chains at constant stack, and the standard
// member-function step handler.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "core/common/error.h"
#include "core/common/event.h"
#include "core/common/thread_id.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/async/include/detail/method_step_handler.h"
#include "enterprise/common/async/job_composition.h"
#include "enterprise/common/async/step_control.h"
#include "platform/async/async_platform.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using namespace Testing;
using AsyncTest::RecordingHandler;
using AsyncTest::TestAction;
using ::testing::AllOf;
using Mode = AsyncTest::TestAction::Mode;

constexpr Common::SourceFile kTestSource("enterprise/common/async/step_control_test");

Common::Error Failure(unsigned code = 0xFA000D)
{
    return Common::Error(code, u"step failed", kTestSource.At("Failure", 5));
}

// A step handler over a function.
class FunctionStepHandler : public Async::StepHandler
{
public:
    FunctionStepHandler(std::function<Common::Error(const Common::Error&)> onStep, bool canHandleFailure = true)
        : m_onStep(std::move(onStep)), m_canHandleFailure(canHandleFailure)
    {
    }
    Common::Error OnStepCompleted(const Common::Error& result) override
    {
        ++calls;
        last = result;
        return m_onStep(result);
    }
    bool CanHandleFailure() override { return m_canHandleFailure; }

    int calls = 0;
    Common::Error last;

private:
    std::function<Common::Error(const Common::Error&)> m_onStep;
    bool m_canHandleFailure;
};

class OwnerJob : public Async::BaseJob
{
public:
    Async::EntityDescription Describe() const override
    {
        return Async::EntityDescription(u"Owner job", kTestSource.At("Describe", 1));
    }
    void Cancel() override {}
};

struct Fixture
{
    std::shared_ptr<Async::StepControl> control = std::make_shared<Async::StepControl>();
    RecordingHandler owner;
    OwnerJob job;
};

TEST(StepControl, HandlerThatStartsNothingEndsTheChainWithItsResult)
{
    struct Case
    {
        Common::Error returned;
        unsigned delivered;
    };
    const Case cases[] = {{Async::GetStepsStoppedError(), 0}, {Failure(), 0xFA000D}, {Common::Success, 0}};
    for (const Case& item : cases) {
        Fixture fixture;
        FunctionStepHandler handler([&](const Common::Error&) { return item.returned; });
        fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
        TestAction action(Mode::CompleteInPerform);
        fixture.control->PerformStep(action, &handler);
        EXPECT_EQ(handler.calls, 1);
        EXPECT_EQ(fixture.owner.calls.load(), 1);
        EXPECT_EQ(fixture.owner.Last().GetCode(), item.delivered);
    }
}

TEST(StepControl, ThrowingStepHandlerEndsTheChainWithTheStepOperationError)
{
    Fixture fixture;
    FunctionStepHandler handler([](const Common::Error&) -> Common::Error { Common::ThrowError(Failure()); });
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    TestAction action(Mode::CompleteInPerform);
    fixture.control->PerformStep(action, &handler);
    EXPECT_THAT(fixture.owner.Last(),
                AllOf(ErrorIs(0xF90006), HasText(u"ASYNC: Exception has occurred during operation 'Step'."),
                      RaisedAt("enterprise/common/async/step_control", "DescribeException", 54),
                      HasLineTag(0x2E3870E85977C843ull), CausedBy(ErrorIs(0xFA000D))));
}

TEST(StepControl, StepErrorDescriptionsNameTheStepOperation)
{
    Async::StepControl::SafeStepCompletionDetails details;
    EXPECT_THAT(details.DescribeStdException(std::runtime_error("boom")),
                AllOf(ErrorIs(0xF90007), HasText(u"ASYNC: STD exception 'boom' has occurred during operation 'Step'."),
                      RaisedAt("enterprise/common/async/step_control", "DescribeStdException", 59),
                      HasLineTag(0x2E3870E85977C848ull)));
    EXPECT_THAT(details.DescribeUnknownException(),
                AllOf(ErrorIs(0xF90008), HasText(u"ASYNC: Unknown exception has occurred during operation 'Step'."),
                      RaisedAt("enterprise/common/async/step_control", "DescribeUnknownException", 64),
                      HasLineTag(0x2E3870E85977C84Dull)));
}

// A final step (no handler): success goes to the owner; a failure goes to the
// rollback handler when there is one.
TEST(StepControl, FinalStepGoesToTheOwnerOrItsFailureToTheRollback)
{
    for (bool withRollback : {false, true}) {
        for (bool fails : {false, true}) {
            Fixture fixture;
            FunctionStepHandler rollback([](const Common::Error&) { return Failure(0x40001); });
            fixture.control->Initialize(fixture.owner, withRollback ? &rollback : nullptr, &fixture.job);
            TestAction action(Mode::CompleteLater);
            fixture.control->PerformStep(action, nullptr);
            action.Complete(fails ? Failure() : Common::Success);
            EXPECT_EQ(fixture.owner.calls.load(), 1);
            const unsigned expected = !fails ? 0 : withRollback ? 0x40001 : 0xFA000D;
            EXPECT_EQ(fixture.owner.Last().GetCode(), expected);
            EXPECT_EQ(rollback.calls, fails && withRollback ? 1 : 0);
            if (fails && withRollback) {
                EXPECT_THAT(rollback.last, ErrorIs(0xFA000D));
            }
        }
    }
}

// A failure inside the step's Perform carries the owner job's description; a
// handler that does not take failures never sees it.
TEST(StepControl, FailedStepSkipsAHandlerThatTakesNoFailures)
{
    Fixture fixture;
    FunctionStepHandler handler([](const Common::Error&) { return Common::Error(); }, false);
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    TestAction action(Mode::CompleteInPerform, Failure());
    fixture.control->PerformStep(action, &handler);
    EXPECT_EQ(handler.calls, 0);
    EXPECT_THAT(fixture.owner.Last(), AllOf(ErrorIs(0xF90004), HasText(u"Owner job"), CausedBy(ErrorIs(0xFA000D))));
}

TEST(StepControl, FinishCompletesTheOwnerOnce)
{
    Fixture fixture;
    FunctionStepHandler handler([&](const Common::Error&) {
        fixture.control->Finish();
        return Common::Error();
    });
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    TestAction action(Mode::CompleteInPerform);
    fixture.control->PerformStep(action, &handler);
    EXPECT_EQ(fixture.owner.calls.load(), 1);
    EXPECT_THAT(fixture.owner.Last(), IsSuccessError());
}

TEST(StepControl, HandlerThatStartsAStepAndReturnsAFailureIsReported)
{
    AsyncTest::AssertionCapture assertions;
    Fixture fixture;
    TestAction second(Mode::CompleteInPerform);
    FunctionStepHandler last([](const Common::Error& result) { return result; });
    FunctionStepHandler first([&](const Common::Error&) {
        fixture.control->PerformStep(second, &last);
        return Failure();
    });
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    TestAction action(Mode::CompleteInPerform);
    fixture.control->PerformStep(action, &first);
    EXPECT_TRUE(assertions.Saw("stepResult == Common::Success && \"Logic broken\"", 163));
    EXPECT_EQ(fixture.owner.calls.load(), 1);
    EXPECT_THAT(fixture.owner.Last(), IsSuccessError()); // the dropped failure goes nowhere
}

TEST(StepControl, CancelBetweenStepsEndsTheNextStepWithAFreshCanceledError)
{
    Fixture fixture;
    TestAction next(Mode::CompleteInPerform);
    FunctionStepHandler second([](const Common::Error& result) { return result; });
    FunctionStepHandler first([&](const Common::Error&) {
        fixture.control->Cancel();
        fixture.control->PerformStep(next, &second);
        return Common::Error();
    });
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    TestAction action(Mode::CompleteInPerform);
    fixture.control->PerformStep(action, &first);
    EXPECT_EQ(next.performs.load(), 0);
    EXPECT_THAT(second.last,
                AllOf(ErrorIs(0xF90002), RaisedAt("enterprise/common/async/job_control", "PreventiveCancel", 155)));
    EXPECT_THAT(fixture.owner.Last(), ChainContains(ErrorIs(0xF90002)));
}

TEST(StepControl, CancelReachesTheRunningStepsJob)
{
    Fixture fixture;
    FunctionStepHandler handler([](const Common::Error& result) { return result; });
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    TestAction action(Mode::CompleteInCancel, Async::GetCanceledError());
    fixture.control->PerformStep(action, &handler);
    fixture.control->Cancel();
    EXPECT_EQ(action.cancels.load(), 1);
    EXPECT_THAT(fixture.owner.Last(), ChainContains(ErrorIs(0xF90002)));
}

TEST(StepControl, SynchronousChainRunsAtConstantStack)
{
    AsyncPlatform::NoServiceScopeForTesting noService;
    constexpr int kSteps = 100000;
    Fixture fixture;
    AsyncTest::StackProbe probe;
    int steps = 0;
    TestAction action(Mode::CompleteInPerform);
    FunctionStepHandler* self = nullptr;
    FunctionStepHandler handler([&](const Common::Error&) {
        probe.Mark();
        if (++steps < kSteps)
            fixture.control->PerformStep(action, self);
        return Common::Error();
    });
    self = &handler;
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    fixture.control->PerformStep(action, &handler);
    EXPECT_EQ(steps, kSteps);
    EXPECT_EQ(fixture.owner.calls.load(), 1);
    EXPECT_LT(probe.Spread(), 16u * 1024);
}

TEST(StepControl, StepCompletedOnAnotherThreadContinuesThere)
{
    Fixture fixture;
    Common::ThreadId secondRanOn = 0;
    TestAction first(Mode::CompleteLater);
    TestAction second(Mode::CompleteInPerform);
    FunctionStepHandler last([&](const Common::Error&) {
        secondRanOn = Common::GetCurrentThreadId();
        return Common::Error();
    });
    FunctionStepHandler handler([&](const Common::Error&) {
        fixture.control->PerformStep(second, &last);
        return Common::Error();
    });
    fixture.control->Initialize(fixture.owner, nullptr, &fixture.job);
    fixture.control->PerformStep(first, &handler);
    std::thread completer([&] { first.Complete(Common::Success); });
    const Common::ThreadId completerId = completer.native_handle();
    completer.join();
    EXPECT_EQ(secondRanOn, completerId);
    EXPECT_EQ(fixture.owner.calls.load(), 1);
}

// A composite job on the member-function handler.
class TwoStepJob : public Async::JobComposition<TwoStepJob>
{
public:
    void Start(Async::ActionHandler& handler)
    {
        InitializeSteps(handler, true);
        m_stepHandler.Set(&TwoStepJob::AfterFirst);
        m_rollbackHandler.Set(&TwoStepJob::Rollback);
        GetStepControl().PerformStep(first, &m_stepHandler);
    }
    Common::Error AfterFirst()
    {
        m_stepHandler.Set(&TwoStepJob::AfterSecond);
        GetStepControl().PerformStep(second, &m_stepHandler);
        return Common::Error();
    }
    void AfterSecond() { ++done; }
    Common::Error Rollback(const Common::Error& result)
    {
        rolledBack = result;
        return result;
    }

    TestAction first{Mode::CompleteInPerform};
    TestAction second{Mode::CompleteLater};
    int done = 0;
    Common::Error rolledBack;
};

TEST(JobComposition, MemberHandlersDriveTheChainAndCancelReachesTheStep)
{
    {
        auto job = std::make_shared<TwoStepJob>();
        RecordingHandler owner;
        job->Start(owner);
        job->second.Complete(Common::Success);
        EXPECT_EQ(job->done, 1);
        EXPECT_THAT(owner.Last(), IsSuccessError());
    }
    {
        auto job = std::make_shared<TwoStepJob>();
        RecordingHandler owner;
        job->Start(owner);
        job->Cancel(); // reaches the second step's job
        EXPECT_EQ(job->second.cancels.load(), 1);
        job->second.Complete(Failure()); // the void form takes no failures: rollback
        EXPECT_EQ(job->done, 0);
        EXPECT_THAT(job->rolledBack, ErrorIs(0xF90004));
        EXPECT_THAT(owner.Last(), ErrorIs(0xF90004));
    }
}

struct Target
{
    Common::Error OnResult(const Common::Error& result) { return result; }
    Common::Error OnDone() { return Failure(0x40001); }
    void OnDoneVoid() {}
};

TEST(ObjectMethodHandler, DispatchesOnTheOneFormThatIsSet)
{
    Target target;
    Async::Detail::ObjectMethodHandler<Target> handler(&target);
    handler.Set(&Target::OnDoneVoid);
    EXPECT_FALSE(handler.CanHandleFailure());
    EXPECT_THAT(handler.OnStepCompleted(Failure()), IsSuccessError());
    handler.Set(&Target::OnDone);
    EXPECT_THAT(handler.OnStepCompleted(Common::Success), ErrorIs(0x40001));
    handler.Set(&Target::OnResult);
    EXPECT_TRUE(handler.CanHandleFailure());
    EXPECT_THAT(handler.OnStepCompleted(Failure()), ErrorIs(0xFA000D));
    handler.Assign(&Target::OnResult, &Target::OnDone, nullptr);
    EXPECT_THAT(handler.OnStepCompleted(Common::Success), ErrorIs(0xF90001));
    handler.Assign(nullptr, nullptr, nullptr);
    EXPECT_THAT(handler.OnStepCompleted(Common::Success), ErrorIs(0xF90001));
}

TEST(ObjectMethodHandler, WithoutObjectReportsAndReturnsTheResult)
{
    AsyncTest::AssertionCapture assertions;
    Async::Detail::ObjectMethodHandler<Target> handler;
    handler.Set(&Target::OnDoneVoid);
    EXPECT_THAT(handler.OnStepCompleted(Failure()), ErrorIs(0xFA000D));
    EXPECT_FALSE(assertions.Saw("result != Common::Success && \"Logic broken\"", 65));
    EXPECT_TRUE(assertions.Saw(
        "!\"Don't think about rollback in the middle of action. Initialize it from the begining.\"", 67));
    EXPECT_THAT(handler.OnStepCompleted(Common::Success), IsSuccessError());
    EXPECT_TRUE(assertions.Saw("result != Common::Success && \"Logic broken\"", 65));
}

TEST(StepControlSlots, BinaryOrder)
{
    EXPECT_EQ(VirtualSlot(&Async::StepHandler::OnStepCompleted), 2u);
    EXPECT_EQ(VirtualSlot(&Async::StepHandler::CanHandleFailure), 3u);
    EXPECT_EQ(VirtualSlot(&Async::StepControl::Completed), 2u);
    EXPECT_EQ(VirtualSlot(&Async::StepControl::KeepAlive), 3u);
    EXPECT_EQ(VirtualSlot(&Async::StepControl::ProcessStep), 4u);
}

} // namespace
