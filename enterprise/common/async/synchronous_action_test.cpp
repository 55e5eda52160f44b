// Synchronous actions: the work runs inside Perform and completes the handler
// before Perform returns.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "core/common/error.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/synchronous_action.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using namespace Testing;
using AsyncTest::RecordingHandler;
using ::testing::AllOf;

constexpr Common::SourceFile kTestSource("enterprise/common/async/synchronous_action_test");

TEST(SilentSynchronousAction, StoresIntoItsCellAndCompletesWithSuccessBeforeReturning)
{
    auto cell = std::make_shared<unsigned int>(0);
    unsigned int* target = cell.get();
    auto action = Async::Detail::MakeSilentSynchronousAction(std::function<void()>([target] { *target = 5; }), cell);
    RecordingHandler handler;
    EXPECT_EQ(action->Perform(handler), nullptr);
    EXPECT_EQ(*cell, 5u);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), IsSuccessError());
    EXPECT_EQ(cell.use_count(), 2); // the action keeps its data
}

TEST(SilentSynchronousAction, ThrownErrorBecomesTheWorkExceptionError)
{
    auto action = Async::Detail::MakeSilentSynchronousAction(
        [] { Common::ThrowError(Common::Error(0xFA000D, u"bad", kTestSource.At("Work", 1))); });
    RecordingHandler handler;
    EXPECT_EQ(action->Perform(handler), nullptr);
    EXPECT_THAT(handler.Last(),
                AllOf(ErrorIs(0xF9000B), HasText(u"ASYNC: Exception has occurred during work execution."),
                      RaisedAt("enterprise/common/async/synchronous_action", "Perform", 32),
                      HasLineTag(0x30AD4F7563758C53ull), CausedBy(ErrorIs(0xFA000D))));
}

TEST(SilentSynchronousAction, OtherExceptionsAndAnEmptyFunctionPassOut)
{
    RecordingHandler handler;
    auto throwing = Async::Detail::MakeSilentSynchronousAction([] { throw std::runtime_error("x"); });
    EXPECT_THROW(throwing->Perform(handler), std::runtime_error);
    auto empty = Async::Detail::MakeSilentSynchronousAction(std::function<void()>());
    EXPECT_THROW(empty->Perform(handler), std::bad_function_call);
    EXPECT_EQ(handler.calls.load(), 0);
}

// A synchronous action that returns a failure, with an error context.
class ContextAction : public Async::SynchronousAction
{
public:
    explicit ContextAction(bool throws) : m_throws(throws) {}
    Common::Error PerformSynchronously() override
    {
        const Common::Error failure(0xFA000D, kTestSource.At("Work", 2));
        if (m_throws)
            Common::ThrowError(failure);
        return failure;
    }
    Common::Error ApplyErrorContext(const Common::Error& error) override
    {
        Common::Error context(0x40001, kTestSource.At("Context", 3));
        context.AddCause(error);
        return context;
    }

private:
    bool m_throws;
};

TEST(SynchronousAction, ReturnedFailuresTakeTheErrorContextThrownOnesDoNot)
{
    RecordingHandler handler;
    ContextAction returning(false);
    (void)returning.Perform(handler);
    EXPECT_THAT(handler.Last(), AllOf(ErrorIs(0x40001), CausedBy(ErrorIs(0xFA000D))));
    ContextAction throwing(true);
    (void)throwing.Perform(handler);
    EXPECT_THAT(handler.Last(), AllOf(ErrorIs(0xF9000B), CausedBy(ErrorIs(0xFA000D))));
}

TEST(SynchronousActionSlots, BinaryOrder)
{
    EXPECT_EQ(VirtualSlot(&Async::SynchronousAction::Perform), 2u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronousAction::PerformSynchronously), 3u);
    EXPECT_EQ(VirtualSlot(&Async::ErrorContextApplier::ApplyErrorContext), 0u);
}

} // namespace
