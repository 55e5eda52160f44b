#include "enterprise/common/async/waiting_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/synchronization_callback.h"
#include "platform/async/async_platform.h"
#include "testing/error_matchers.h"

namespace {

using Testing::ErrorIs;
using Testing::IsSuccessError;

using NoServiceScope = AsyncPlatform::NoServiceScopeForTesting;

// A chain element that logs each Satisfy and answers a fixed value.
class LoggingCallback : public Async::ScopedSynchronizationCallback
{
public:
    LoggingCallback(char name, bool answer, std::string& log) : m_name(name), m_answer(answer), m_log(log) {}

    bool Satisfy(void*) override
    {
        m_log += m_name;
        return m_answer;
    }

private:
    char m_name;
    bool m_answer;
    std::string& m_log;
};

TEST(WaitingHandlerThreads, ReturnsTheResultCompletedOnAnotherThread)
{
    const std::vector<Common::Error> results{Common::Success, Common::Error(0x40001, Common::Location{})};
    for (const Common::Error& expected : results) {
        Async::WaitingHandler handler(true);
        std::thread completer([&] { handler.Completed(expected); });
        const Common::Error result = handler.Wait(nullptr);
        completer.join();
        EXPECT_EQ(result.GetCode(), expected.GetCode());
    }
}

TEST(WaitingHandlerThreads, EachCompletionServesOneWaitAndTheLastResultWins)
{
    Async::WaitingHandler handler(true);
    handler.Completed(Common::Error(0x40001, Common::Location{}));
    handler.Completed(Common::Error(0x40002, Common::Location{}));
    EXPECT_THAT(handler.Wait(nullptr), ErrorIs(0x40002));
    std::thread completer([&] { handler.Completed(Common::Success); });
    EXPECT_THAT(handler.Wait(nullptr), IsSuccessError());
    completer.join();
}

// The chain is walked before the wait blocks; with a service every push, pop
// and walk goes to the service's storage, without one to the thread-local one.
TEST(WaitingHandlerThreads, AWaitFirstWalksTheChainTopDownUntilOneIsSatisfied)
{
    for (const bool withService : {true, false}) {
        SCOPED_TRACE(withService ? "with a service" : "without a service");
        std::unique_ptr<NoServiceScope> off(withService ? nullptr : new NoServiceScope);
        Async::SynchronizationCallbackStorage* storage = Async::GetSynchronizationCallbackStorage();
        std::string log;
        {
            LoggingCallback bottom('b', false, log);
            LoggingCallback middle('m', true, log);
            LoggingCallback top('t', false, log);
            EXPECT_EQ(storage->GetTop(), &top);
            Async::WaitingHandler handler(true);
            handler.Completed(Common::Success);
            EXPECT_THAT(handler.Wait(nullptr), IsSuccessError());
            EXPECT_EQ(log, "tm");
            EXPECT_EQ(top.GetCalls(), 1);
            EXPECT_EQ(middle.GetCalls(), 1);
            EXPECT_EQ(bottom.GetCalls(), 0);
        }
        EXPECT_EQ(storage->GetTop(), nullptr);
    }
}

TEST(SynchronizationCallback, ASuspendedElementEndsTheWalkUnasked)
{
    NoServiceScope off;
    std::string log;
    LoggingCallback bottom('b', false, log);
    bottom.AdjustSuspension(1);
    LoggingCallback top('t', false, log); // inherits the level of the top below it
    EXPECT_EQ(top.GetSuspension(), 1);
    Async::SynchronizeThread(nullptr);
    EXPECT_EQ(log, "");
    EXPECT_EQ(top.GetCalls(), 1);
    EXPECT_EQ(bottom.GetCalls(), 0);
}

TEST(SynchronizationCallback, AnElementThatMissedASynchronizationReplaysItWhenResumed)
{
    NoServiceScope off;
    std::string log;
    LoggingCallback bottom('b', false, log);
    LoggingCallback top('t', false, log);
    top.AdjustSuspension(1);
    Async::SynchronizeThread(nullptr);
    EXPECT_EQ(log, "");
    top.AdjustSuspension(-1); // missed one: replayed from here down
    EXPECT_EQ(log, "tb");
    EXPECT_EQ(top.GetCalls(), 2);
    EXPECT_EQ(bottom.GetCalls(), 1);
    top.AdjustSuspension(1);
    top.AdjustSuspension(-1); // a replay per suspended stretch that missed one
    EXPECT_EQ(log, "tbtb");
}

TEST(SynchronizationCallback, PoppingHandsTheLevelDown)
{
    NoServiceScope off;
    std::string log;
    LoggingCallback bottom('b', false, log);
    {
        LoggingCallback top('t', false, log);
        top.AdjustSuspension(2);
    }
    EXPECT_EQ(bottom.GetSuspension(), 2);
    bottom.AdjustSuspension(-2); // never reached by a walk: no replay
    EXPECT_EQ(log, "");
}

TEST(SynchronizationCallback, LinkingAnElementTwiceIsReported)
{
    NoServiceScope off;
    std::string log;
    AsyncTest::AssertionCapture assertions;
    {
        LoggingCallback bottom('b', false, log);
        LoggingCallback top('t', false, log);
        top.SetNext(&bottom);
    }
    EXPECT_TRUE(assertions.Saw("Next == 0", 103));
    ASSERT_EQ(assertions.Reports().size(), 1u);
    EXPECT_NE(assertions.Reports()[0].find("file enterprise/common/async/synchronization_callback,"),
              std::string::npos);
}

} // namespace
