#include "enterprise/common/async/wait_completion_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/async_test_kit.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using AsyncTest::RecordingHandler;
using Testing::ErrorIs;
using Testing::IsSuccessError;

const Common::Error kFailure(0x40001, Common::Location{});

// Logs "<name> <code>" for each completion.
class LoggingHandler : public Async::ActionHandler
{
public:
    LoggingHandler(std::string name, std::vector<std::string>& log) : m_name(std::move(name)), m_log(log) {}
    void Completed(const Common::Error& result) override
    {
        m_log.push_back(m_name + " " + std::to_string(result.GetCode()));
        last = result;
    }
    Common::Error last;

private:
    std::string m_name;
    std::vector<std::string>& m_log;
};

using Log = std::vector<std::string>;

TEST(WaitCompletionHandler, TheDelegateHearsFirstThenEveryWaitInOrder)
{
    for (const bool propagate : {false, true}) {
        Log log;
        LoggingHandler delegate("delegate", log), w1("w1", log), w2("w2", log), w3("w3", log);
        Async::WaitCompletionHandler handler;
        handler.SetHandler(&delegate);
        handler.SetResultPropagation(propagate);
        std::vector<std::unique_ptr<Async::Action>> waits;
        std::vector<std::shared_ptr<Async::Job>> jobs;
        for (LoggingHandler* waiter : {&w1, &w2, &w3}) {
            waits.push_back(handler.MakeWaitAction());
            jobs.push_back(waits.back()->Perform(*waiter));
        }
        EXPECT_TRUE(log.empty());
        handler.Completed(kFailure);
        const std::string code = propagate ? std::to_string(0x40001) : "0";
        EXPECT_EQ(log, (Log{"delegate " + std::to_string(0x40001), "w1 " + code, "w2 " + code, "w3 " + code}));
    }
}

TEST(WaitCompletionHandler, AWaitAfterTheCompletionEndsInsidePerform)
{
    for (const bool propagate : {false, true}) {
        RecordingHandler delegate;
        Async::WaitCompletionHandler handler;
        handler.SetHandler(&delegate);
        handler.SetResultPropagation(propagate);
        const std::unique_ptr<Async::Action> early = handler.MakeWaitAction(); // keeps the logic
        handler.Completed(kFailure);
        const std::unique_ptr<Async::Action> late = handler.MakeWaitAction();
        RecordingHandler waiter;
        const std::shared_ptr<Async::Job> job = late->Perform(waiter);
        EXPECT_EQ(waiter.calls.load(), 1);
        if (propagate)
            EXPECT_THAT(waiter.Last(), ErrorIs(0x40001));
        else
            EXPECT_THAT(waiter.Last(), IsSuccessError());
    }
}

TEST(WaitCompletionHandler, WithoutAnyWaitActionLeftTheWaitIsAnImmediateSuccess)
{
    RecordingHandler delegate;
    Async::WaitCompletionHandler handler;
    handler.SetHandler(&delegate);
    handler.SetResultPropagation(true);
    handler.Completed(kFailure);
    const std::unique_ptr<Async::Action> wait = handler.MakeWaitAction();
    RecordingHandler waiter;
    EXPECT_EQ(wait->Perform(waiter), nullptr);
    EXPECT_THAT(waiter.Last(), IsSuccessError());
}

// A cancelled wait ends with the cancel in both modes; a propagating one does
// not turn it into a success.
TEST(WaitCompletionHandler, CancellingAWaitBeforeTheCompletionEndsItCanceled)
{
    for (const bool propagate : {false, true}) {
        RecordingHandler delegate;
        Async::WaitCompletionHandler handler;
        handler.SetHandler(&delegate);
        handler.SetResultPropagation(propagate);
        const std::unique_ptr<Async::Action> wait = handler.MakeWaitAction();
        RecordingHandler waiter;
        const std::shared_ptr<Async::Job> job = wait->Perform(waiter);
        job->Cancel();
        EXPECT_EQ(waiter.calls.load(), 1);
        EXPECT_THAT(waiter.Last(), ErrorIs(Async::ASYNC_ERROR_CANCELED));
        handler.Completed(Common::Success);
        EXPECT_EQ(waiter.calls.load(), 1);
    }
}

TEST(WaitCompletionHandler, AnUncancelableWaitIgnoresCancelAndEndsAfterTheCompletion)
{
    RecordingHandler delegate;
    Async::WaitCompletionHandler handler;
    handler.SetHandler(&delegate);
    const std::unique_ptr<Async::Action> wait = handler.MakeUncancelableWaitAction();
    RecordingHandler waiter;
    const std::shared_ptr<Async::Job> job = wait->Perform(waiter);
    job->Cancel();
    EXPECT_EQ(waiter.calls.load(), 0);
    handler.Completed(kFailure);
    EXPECT_EQ(waiter.calls.load(), 1);
    EXPECT_THAT(waiter.Last(), IsSuccessError());
}

TEST(WaitCompletionHandler, ASecondCompletionIsOnlyForwarded)
{
    RecordingHandler delegate, waiter;
    Async::WaitCompletionHandler handler;
    handler.SetHandler(&delegate);
    const std::unique_ptr<Async::Action> wait = handler.MakeWaitAction();
    const std::shared_ptr<Async::Job> job = wait->Perform(waiter);
    handler.Completed(Common::Success);
    handler.Completed(kFailure);
    EXPECT_EQ(delegate.calls.load(), 2);
    EXPECT_EQ(waiter.calls.load(), 1);
}

TEST(WaitCompletionHandlerSlots, BinaryOrder)
{
    EXPECT_EQ(Testing::VirtualSlot(&Async::WaitCompletionHandler::Completed), 2u);
    EXPECT_EQ(Testing::VirtualSlot(&Async::WaitCompletionHandler::FilterResult), 3u);
    EXPECT_EQ(Testing::VirtualSlot(&Async::WaitCompletionHandler::Logic::Completed), 2u);
}

} // namespace
