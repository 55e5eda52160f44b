#include "enterprise/common/async/action_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/branching_action.h"
#include "enterprise/common/async/cancel_disabling_action.h"
#include "enterprise/common/async/error.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using AsyncTest::RecordingHandler;
using AsyncTest::TestAction;
using Mode = AsyncTest::TestAction::Mode;
using ::testing::AllOf;
using Testing::CausedBy;
using Testing::ChainContains;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;
using Testing::VirtualSlot;

const Common::Error kFailure(0x40001, Common::Location{});

// An error whose chain holds `code` one record below the top.
Common::Error Wrapping(unsigned code)
{
    Common::Error outer(0x40002, Common::Location{});
    return outer.AddCause(Common::Error(code, Common::Location{}));
}

// Calls a function in Perform and completes with its result at once.
class FunctionAction : public Async::Action
{
public:
    explicit FunctionAction(std::function<Common::Error()> body) : m_body(std::move(body)) {}
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        handler.Completed(m_body());
        return nullptr;
    }

private:
    std::function<Common::Error()> m_body;
};

TEST(ActionSequenceSlots, SequenceJobAndBranch)
{
    EXPECT_EQ(VirtualSlot(&Async::ActionSequence::Perform), 2u);
    EXPECT_EQ(VirtualSlot(&Async::ActionSequence::Add), 3u);
    EXPECT_EQ(VirtualSlot(&Async::ActionSequence::IsCyclic), 4u);
    using SequenceJob = Async::ActionSequence::ActionSequenceJob;
    EXPECT_EQ(VirtualSlot(&SequenceJob::Describe), 2u);
    EXPECT_EQ(VirtualSlot(&SequenceJob::GetId), 3u);
    EXPECT_EQ(VirtualSlot(&SequenceJob::Cancel), 4u);
    EXPECT_EQ(VirtualSlot(&SequenceJob::KeepAlive), 5u);
    EXPECT_EQ(VirtualSlot(&SequenceJob::ProcessStep), 6u);
    EXPECT_EQ(VirtualSlot(&SequenceJob::Completed), 7u);
    EXPECT_EQ(VirtualSlot(&Async::BranchingAction::Perform), 2u);
}

TEST(ActionSequence, AnEmptySequenceSucceedsAtOnceAndNullActionsAreIgnored)
{
    Async::ActionSequence sequence;
    sequence.Add(nullptr);
    RecordingHandler handler;
    EXPECT_EQ(sequence.Perform(handler), nullptr);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

TEST(ActionSequence, SynchronousActionsRunInOrderInsideOnePerformAtConstantDepth)
{
    for (const int count : {3, 20000}) {
        Async::ActionSequence sequence;
        std::vector<int> order;
        AsyncTest::StackProbe probe;
        for (int i = 0; i < count; ++i)
            sequence.Add(std::make_shared<FunctionAction>([&order, &probe, i] {
                probe.Mark();
                order.push_back(i);
                return Common::Success;
            }));
        RecordingHandler handler;
        const std::shared_ptr<Async::Job> job = sequence.Perform(handler);
        EXPECT_EQ(handler.calls.load(), 1);
        EXPECT_THAT(handler.Last(), IsSuccessError());
        ASSERT_EQ(order.size(), size_t(count));
        EXPECT_EQ(order.back(), count - 1);
        EXPECT_LT(probe.Spread(), 16u * 1024);
    }
}

TEST(ActionSequence, AFailureEndsTheRunWrappedInTheJobsContext)
{
    Async::ActionSequence sequence;
    auto first = std::make_shared<TestAction>(Mode::CompleteInPerform);
    auto second = std::make_shared<TestAction>(Mode::CompleteInPerform, kFailure);
    auto third = std::make_shared<TestAction>(Mode::CompleteInPerform);
    for (const auto& action : {first, second, third})
        sequence.Add(action);
    RecordingHandler handler;
    (void)sequence.Perform(handler);
    EXPECT_EQ(third->performs.load(), 0);
    EXPECT_THAT(handler.Last(),
                AllOf(ErrorIs(Async::ASYNC_ERROR_JOB_CONTEXT), HasText(u"ASYNC: Unidentified job."),
                      CausedBy(ErrorIs(0x40001))));
}

// What ends a run, by mode: success, the stop code anywhere in the chain, the
// cycle break anywhere in the chain, or another failure.
TEST(ActionSequence, SpecialCodesEndTheRunWithSuccessByMode)
{
    struct Case
    {
        Common::Error result;
        bool cyclic;
        bool success;
    };
    const Case cases[] = {
        {Wrapping(Async::ASYNC_ERROR_SEQUENCE_STOP), false, true},
        {Wrapping(Async::ASYNC_ERROR_SEQUENCE_STOP), true, true},
        {Wrapping(Async::ASYNC_ERROR_CYCLE_BREAK), true, true},
        {Wrapping(Async::ASYNC_ERROR_CYCLE_BREAK), false, false},
        {kFailure, true, false},
    };
    for (const Case& c : cases) {
        Async::ActionSequence sequence;
        auto ending = std::make_shared<TestAction>(Mode::CompleteInPerform, c.result);
        auto after = std::make_shared<TestAction>(Mode::CompleteInPerform);
        sequence.Add(ending);
        sequence.Add(after);
        RecordingHandler handler;
        (void)sequence.PerformSequence(c.cyclic, handler);
        EXPECT_EQ(handler.calls.load(), 1);
        EXPECT_EQ(handler.Last().IsSuccess(), c.success) << "code 0x" << std::hex << c.result.GetCause().GetCode();
        EXPECT_EQ(after->performs.load(), 0);
    }
}

TEST(ActionSequence, ACyclicRunRepeatsTheActionsInOrderUntilOneFails)
{
    Async::ActionSequence sequence;
    std::vector<int> order;
    int runs = 0;
    for (int i = 0; i < 3; ++i)
        sequence.Add(std::make_shared<FunctionAction>([&, i] {
            order.push_back(i);
            return ++runs == 8 ? kFailure : Common::Success;
        }));
    RecordingHandler handler;
    (void)sequence.PerformCyclic(handler);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 0, 1, 2, 0, 1}));
    EXPECT_THAT(handler.Last(), CausedBy(ErrorIs(0x40001)));
}

TEST(ActionSequenceThreads, ACompletionOnAnotherThreadRunsTheNextActionThere)
{
    Async::ActionSequence sequence;
    auto later = std::make_shared<TestAction>(Mode::CompleteLater);
    std::thread::id nextRanOn;
    sequence.Add(later);
    sequence.Add(std::make_shared<FunctionAction>([&] {
        nextRanOn = std::this_thread::get_id();
        return Common::Success;
    }));
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = sequence.Perform(handler);
    EXPECT_EQ(handler.calls.load(), 0);
    std::thread::id completer;
    std::thread([&] {
        completer = std::this_thread::get_id();
        later->Complete(Common::Success);
    }).join();
    EXPECT_EQ(nextRanOn, completer);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

TEST(ActionSequence, CancelStopsTheRunningActionAndEndsTheRun)
{
    Async::ActionSequence sequence;
    auto running = std::make_shared<TestAction>(Mode::CompleteInCancel, Async::MakeCanceledError(Common::Location{}));
    auto after = std::make_shared<TestAction>(Mode::CompleteInPerform);
    sequence.Add(running);
    sequence.Add(after);
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = sequence.Perform(handler);
    job->Cancel();
    EXPECT_EQ(running->cancels.load(), 1);
    EXPECT_EQ(after->performs.load(), 0);
    EXPECT_THAT(handler.Last(), ChainContains(ErrorIs(Async::ASYNC_ERROR_CANCELED)));
}

TEST(BranchingAction, PerformsTheChosenActionWithTheSameHandler)
{
    for (const bool condition : {true, false}) {
        auto thenAction = std::make_shared<TestAction>(Mode::CompleteLater);
        auto elseAction = std::make_shared<TestAction>(Mode::CompleteLater);
        Async::BranchingAction branch([condition] { return condition; }, thenAction, elseAction);
        RecordingHandler handler;
        const std::shared_ptr<Async::Job> job = branch.Perform(handler);
        ASSERT_NE(job, nullptr);
        TestAction& chosen = condition ? *thenAction : *elseAction;
        EXPECT_EQ(chosen.performs.load(), 1);
        EXPECT_EQ((condition ? *elseAction : *thenAction).performs.load(), 0);
        chosen.Complete(kFailure);
        EXPECT_THAT(handler.Last(), ErrorIs(0x40001)); // straight to the handler
    }
}

TEST(BranchingAction, AnEmptyConditionThrowsAndPerformsNothing)
{
    auto action = std::make_shared<TestAction>(Mode::CompleteInPerform);
    Async::BranchingAction branch(nullptr, action, action);
    RecordingHandler handler;
    EXPECT_THROW((void)branch.Perform(handler), std::bad_function_call);
    EXPECT_EQ(action->performs.load(), 0);
    EXPECT_EQ(handler.calls.load(), 0);
}

TEST(CancelDisablingAction, CancelHasNoEffectAndTheInnerResultArrives)
{
    auto* inner = new TestAction(Mode::CompleteLater);
    const std::unique_ptr<Async::Action> action = Async::CancelDisablingAction::Create(
        std::unique_ptr<Async::Action>(inner));
    RecordingHandler handler;
    std::shared_ptr<Async::Job> job = action->Perform(handler);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->Describe().text, u"ASYNC: Unidentified job.");
    job->Cancel();
    EXPECT_EQ(inner->cancels.load(), 0);
    EXPECT_EQ(handler.calls.load(), 0);
    job.reset(); // the job lives on until its completion
    inner->Complete(Common::Success);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), IsSuccessError());

    // Performed again: a new job.
    RecordingHandler second;
    job = action->Perform(second);
    inner->Complete(kFailure); // after Perform returned, without a cancel: as delivered
    EXPECT_THAT(second.Last(), ErrorIs(0x40001));
}

} // namespace
