// Jobs, immediate actions, the delegating handler, the barrier tracer and the
// shared async errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "core/common/trace.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/barrier_debug_tracer.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/delegating_action_handler.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "testing/error_matchers.h"

namespace {

using namespace Testing;
using AsyncTest::RecordingHandler;
using ::testing::AllOf;
using ::testing::Not;

constexpr Common::SourceFile kTestSource("enterprise/common/async/jobs_test");

class PlainJob : public Async::BaseJob
{
public:
    void Cancel() override {}
};

TEST(BaseJob, FirstJobOfTheProcessHasIdOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PlainJob first;
            PlainJob second;
            std::_Exit(first.GetId() == 1 && second.GetId() == 2 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(BaseJob, DefaultDescriptionIsTheUnidentifiedJobText)
{
    const PlainJob job;
    const Async::EntityDescription description = job.Describe();
    EXPECT_EQ(description.text, u"ASYNC: Unidentified job.");
    EXPECT_STREQ(description.location.file, "enterprise/common/async/base_job");
    EXPECT_STREQ(description.location.function, "Describe");
    EXPECT_EQ(description.location.line, 40u);
    EXPECT_EQ(description.location.LineTag, 0xD9612B4AAEBB8E3Full);
}

TEST(BaseJobThreads, JobsBuiltAtOnceOnManyThreadsGetDistinctIds)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<uint64_t>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&ids, t] {
            for (int i = 0; i < kPerThread; ++i)
                ids[t].push_back(PlainJob().GetId());
        });
    for (std::thread& thread : threads)
        thread.join();
    std::set<uint64_t> distinct;
    for (const auto& list : ids)
        distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), size_t{kThreads * kPerThread});
}

TEST(ImmediateResultAction, CompletesBeforePerformReturnsAndHandsOutNoJob)
{
    const Common::Error failure(0xFA000D, u"bad", kTestSource.At("Test", __LINE__));
    struct Case
    {
        std::unique_ptr<Async::Action> action;
        unsigned code;
    };
    Case cases[] = {{Async::MakeSuccessAction(), 0}, {Async::MakeImmediateResultAction(failure), 0xFA000D}};
    for (Case& item : cases) {
        RecordingHandler handler;
        EXPECT_EQ(item.action->Perform(handler), nullptr);
        EXPECT_EQ(handler.calls.load(), 1);
        EXPECT_EQ(handler.Last().GetCode(), item.code);
    }
    RecordingHandler handler;
    EXPECT_EQ(Async::CompleteWithResult(failure, handler), nullptr);
    EXPECT_EQ(handler.Last().GetRecord(), failure.GetRecord()); // the same error, not a new one
}

// A delegating handler whose filter throws `thrown`, or passes on when it is
// success.
class ThrowingFilter : public Async::DelegatingActionHandler
{
public:
    ThrowingFilter(Async::ActionHandler* delegate, Common::Error thrown)
        : DelegatingActionHandler(delegate), m_thrown(std::move(thrown))
    {
    }
    Common::Error FilterResult(const Common::Error& result) override
    {
        if (!m_thrown.IsSuccess())
            Common::ThrowError(m_thrown);
        return DelegatingActionHandler::FilterResult(result);
    }

private:
    Common::Error m_thrown;
};

TEST(DelegatingActionHandler, ForwardsTheFilteredResult)
{
    RecordingHandler delegate;
    Async::DelegatingActionHandler handler(&delegate);
    const Common::Error failure(0xFA000D, kTestSource.At("Test", __LINE__));
    handler.Completed(failure);
    EXPECT_EQ(delegate.calls.load(), 1);
    EXPECT_EQ(delegate.Last().GetRecord(), failure.GetRecord());
}

TEST(DelegatingActionHandler, ThrownFilterErrorReplacesTheResultWithTheResultAsItsOnlyCause)
{
    Common::Error thrown(0x40001, kTestSource.At("Filter", __LINE__));
    thrown.AddCause(Common::Error(0x40002, kTestSource.At("Earlier", __LINE__)));
    RecordingHandler delegate;
    ThrowingFilter handler(&delegate, thrown);
    handler.Completed(Common::Error(0xFA000D, kTestSource.At("Incoming", __LINE__)));
    const Common::Error forwarded = delegate.Last();
    EXPECT_THAT(forwarded, ErrorIs(0x40001));
    EXPECT_THAT(forwarded, CausedBy(ErrorIs(0xFA000D)));
    EXPECT_THAT(forwarded, Not(ChainContains(ErrorIs(0x40002))));
    EXPECT_THAT(thrown, CausedBy(ErrorIs(0x40002))); // the thrower's own value keeps its chain
}

TEST(DelegatingActionHandler, WithoutDelegateReportsAndForwardsNothing)
{
    AsyncTest::AssertionCapture assertions;
    RecordingHandler delegate;
    Async::DelegatingActionHandler handler;
    handler.Completed(Common::Success);
    EXPECT_TRUE(assertions.Saw("Handler && \"Invalid Delegating Action Handler state.\"", 61));
    handler.SetHandler(&delegate);
    handler.Completed(Common::Success);
    EXPECT_EQ(delegate.calls.load(), 1);
}

TEST(BarrierDebugTracer, TracesFailuresAtDebugLevelAndIgnoresSuccess)
{
    AsyncTest::TraceCapture traces;
    Async::BarrierDebugTracer::Instance().Accumulate(Common::Success);
    Async::BarrierDebugTracer::Instance().Accumulate(Common::Error(0xFA000D, kTestSource.At("Test", __LINE__)));
    const auto entries = traces.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, Common::TRACE_DEBUG);
    EXPECT_THAT(entries[0].error, ErrorIs(0xFA000D));
}

TEST(AsyncErrors, SharedErrorsCarryTheirCodeTextAndTheGetterLocation)
{
    struct Case
    {
        const Common::Error& error;
        unsigned code;
        const char16_t* text;
    };
    const Case cases[] = {
        {Async::GetInvalidResultError(), 0xF90001, u"ASYNC: The operation result is invalid."},
        {Async::GetCanceledError(), 0xF90002, u"ASYNC: The operation has been canceled."},
        {Async::GetStepsStoppedError(), 0xF90003, u""},
        {Async::GetCycleBreakError(), 0xF9000F, u""},
    };
    for (const Case& item : cases) {
        EXPECT_THAT(item.error,
                    AllOf(ErrorIs(item.code), HasText(item.text), RaisedAt("enterprise/common/async/error", "Get", 41),
                          HasLineTag(0x67DF8F2F6F61640Full)));
        EXPECT_THAT(item.error.GetCause(), IsSuccessError());
    }
    // The two descriptors nothing raises exist as well.
    for (unsigned code : {0xF9000Au, 0xF9000Eu})
        EXPECT_THAT(Async::FindErrorDescriptor(code)->Get(), ErrorIs(code));
    EXPECT_EQ(Async::FindErrorDescriptor(0xF90004), nullptr);
}

TEST(AsyncErrorsThreads, ConcurrentGettersReturnOneObject)
{
    Async::ErrorDescriptor descriptor(0xF90002, u"fresh");
    constexpr int kThreads = 8;
    std::vector<const Common::Error*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { seen[t] = &descriptor.Get(); });
    for (std::thread& thread : threads)
        thread.join();
    for (const Common::Error* error : seen)
        EXPECT_EQ(error, seen[0]);
    EXPECT_THAT(*seen[0], HasText(u"fresh"));
}

TEST(AsyncErrors, FreshCanceledAndJobContextErrorsTakeTheGivenLocation)
{
    const Common::Location location = kTestSource.At("Caller", 17);
    const Common::Error canceled = Async::MakeCanceledError(location);
    EXPECT_THAT(canceled,
                AllOf(ErrorIs(0xF90002), HasText(u"ASYNC: The operation has been canceled."),
                      RaisedAt("enterprise/common/async/jobs_test", "Caller", 17)));
    EXPECT_NE(canceled.GetRecord(), Async::GetCanceledError().GetRecord());
    EXPECT_EQ(canceled.GetIntegerParameter("TraceLevel"), 1u);

    const Common::Error context = Async::MakeJobContextError(Async::EntityDescription(u"My job", location));
    EXPECT_THAT(
        context,
        AllOf(ErrorIs(0xF90004), HasText(u"My job"), RaisedAt("enterprise/common/async/jobs_test", "Caller", 17)));
}

} // namespace
