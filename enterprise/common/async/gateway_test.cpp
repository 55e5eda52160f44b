#include "enterprise/common/async/gateway.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/waiting_handler.h"
#include "platform/async/async_platform.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using AsyncTest::RecordingHandler;
using Flag = std::unique_ptr<Async::Gateway::Flag>;
using Testing::ErrorIs;
using Testing::IsSuccessError;

// A thread-safe log of events.
class Log
{
public:
    void Add(const std::string& event)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back(event);
    }
    std::vector<std::string> Events() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_events;
};

// A handler that logs "<name> granted" (or "<name> canceled") and then runs
// an optional action.
class NamedHandler : public Async::ActionHandler
{
public:
    NamedHandler(std::string name, Log& log, std::function<void()> then = nullptr)
        : m_name(std::move(name)), m_log(log), m_then(std::move(then))
    {
    }

    void Completed(const Common::Error& result) override
    {
        ++calls;
        m_log.Add(m_name + (result.IsSuccess() ? " granted" : " canceled"));
        last = result;
        if (m_then)
            m_then();
    }

    std::atomic<int> calls{0};
    Common::Error last;

private:
    std::string m_name;
    Log& m_log;
    std::function<void()> m_then;
};

using Events = std::vector<std::string>;

TEST(GatewaySlots, FlagReleaseFollowsTheDestructors)
{
    EXPECT_EQ(Testing::VirtualSlot(&Async::Gateway::Flag::Release), 2u);
}

TEST(Gateway, AnExclusiveAcquireOnAnOpenGateIsGrantedInsideTheCall)
{
    Async::Gateway gateway;
    Log log;
    Flag flag;
    NamedHandler handler("x", log);
    const std::shared_ptr<Async::Job> job = gateway.AcquireExclusive(flag, handler);
    EXPECT_EQ(log.Events(), Events{"x granted"});
    EXPECT_NE(flag, nullptr);
    ASSERT_NE(job, nullptr);
    const Async::EntityDescription description = job->Describe();
    EXPECT_EQ(description.text, u"ASYNC: Gateway get exclusive passage job.");
    EXPECT_EQ(description.location.line, 188u);
    EXPECT_EQ(description.location.LineTag, 0x38AF9BCF895870E5u);
    job->Cancel(); // after the grant: the flag keeps its passage
    EXPECT_EQ(handler.calls.load(), 1);

    Flag shared;
    NamedHandler waiting("s", log);
    const std::shared_ptr<Async::Job> sharedJob = gateway.AcquireShared(shared, waiting);
    EXPECT_EQ(sharedJob->Describe().text, u"ASYNC: Gateway get shared passage job.");
    EXPECT_EQ(shared, nullptr);
    flag.reset(); // destroying the flag gives the passage back
    EXPECT_EQ(log.Events(), (Events{"x granted", "s granted"}));
}

TEST(Gateway, SharedPassesSharedButNeverAnExclusiveWaiter)
{
    Async::Gateway gateway;
    Log log;
    Flag s1, x2, s3, s4;
    NamedHandler h1("s1", log), h2("x2", log), h3("s3", log), h4("s4", log);
    auto j1 = gateway.AcquireShared(s1, h1);
    auto j4 = gateway.AcquireShared(s4, h4); // a shared gate, nobody waiting: at once
    auto j2 = gateway.AcquireExclusive(x2, h2);
    auto j3 = gateway.AcquireShared(s3, h3); // behind an exclusive waiter: waits
    EXPECT_EQ(log.Events(), (Events{"s1 granted", "s4 granted"}));
    s1->Release();
    s1->Release(); // a released flag holds nothing
    EXPECT_EQ(log.Events(), (Events{"s1 granted", "s4 granted"}));
    s4.reset();
    EXPECT_EQ(log.Events(), (Events{"s1 granted", "s4 granted", "x2 granted"}));
    x2->Release();
    EXPECT_EQ(log.Events(), (Events{"s1 granted", "s4 granted", "x2 granted", "s3 granted"}));
}

TEST(Gateway, AnAcquiredGateAdmitsSharedSharedThenExclusiveInOrder)
{
    Log log;
    Flag held;
    Async::Gateway gateway = Async::Gateway::CreateAcquired(held);
    ASSERT_NE(held, nullptr);
    Flag s1, s2, x3;
    NamedHandler h1("s1", log), h2("s2", log), h3("x3", log);
    auto j1 = gateway.AcquireShared(s1, h1);
    auto j2 = gateway.AcquireShared(s2, h2);
    auto j3 = gateway.AcquireExclusive(x3, h3);
    EXPECT_TRUE(log.Events().empty());
    held->Release();
    EXPECT_EQ(log.Events(), (Events{"s1 granted", "s2 granted"}));
    s1.reset();
    EXPECT_EQ(log.Events().size(), 2u);
    s2.reset();
    EXPECT_EQ(log.Events(), (Events{"s1 granted", "s2 granted", "x3 granted"}));
}

TEST(Gateway, CancellingAWaiterCompletesItAtOnceAndItPassesThroughLater)
{
    Log log;
    Flag held;
    Async::Gateway gateway = Async::Gateway::CreateAcquired(held);
    Flag x1, x2;
    NamedHandler h1("x1", log), h2("x2", log);
    auto j1 = gateway.AcquireExclusive(x1, h1);
    auto j2 = gateway.AcquireExclusive(x2, h2);
    j1->Cancel();
    EXPECT_EQ(log.Events(), Events{"x1 canceled"});
    EXPECT_THAT(h1.last, ErrorIs(Async::ASYNC_ERROR_CANCELED));
    EXPECT_THAT(h1.last, Testing::RaisedAt("enterprise/common/async/gateway", "Cancel", 160));
    j1->Cancel();
    EXPECT_EQ(h1.calls.load(), 1);
    held.reset(); // x1 passes through without a flag; x2 is admitted
    EXPECT_EQ(log.Events(), (Events{"x1 canceled", "x2 granted"}));
    EXPECT_EQ(x1, nullptr);
    EXPECT_NE(x2, nullptr);
}

TEST(Gateway, AReleaseInsideTheGrantHandlerAdmitsTheNextAfterTheHandlerReturns)
{
    Log log;
    Flag held;
    Async::Gateway gateway = Async::Gateway::CreateAcquired(held);
    Flag x1, x2;
    NamedHandler h1("x1", log, [&] {
        x1->Release();
        log.Add("x1 released");
    });
    NamedHandler h2("x2", log);
    auto j1 = gateway.AcquireExclusive(x1, h1);
    auto j2 = gateway.AcquireExclusive(x2, h2);
    held->Release();
    EXPECT_EQ(log.Events(), (Events{"x1 granted", "x1 released", "x2 granted"}));
}

TEST(Gateway, ANewGrantReplacesTheFlagInItsHolderAndReleasesIt)
{
    Log log;
    Flag flag;
    Async::Gateway gateway = Async::Gateway::CreateAcquired(flag);
    NamedHandler again("again", log);
    {
        AsyncTest::AssertionCapture assertions;
        auto job = gateway.AcquireShared(flag, again); // the holder is still full: reported
        EXPECT_TRUE(assertions.Saw("!Lock.get() && \"Gateway flag is already acquired.\"", 149));
        flag->Release();
        EXPECT_EQ(log.Events(), Events{"again granted"});
    }
    Flag other;
    NamedHandler exclusive("exclusive", log);
    auto job = gateway.AcquireExclusive(other, exclusive);
    EXPECT_EQ(log.Events().size(), 1u);
    flag.reset();
    EXPECT_EQ(log.Events(), (Events{"again granted", "exclusive granted"}));
}

TEST(GatewayThreads, GrantsRunInTheEnvironmentOfTheRequestingThread)
{
    Flag held;
    Async::Gateway gateway = Async::Gateway::CreateAcquired(held);
    Flag flag;
    uint64_t tag = 0;
    RecordingHandler handler([&](const Common::Error&) { tag = AsyncPlatform::GetThreadEnvironmentTag(); });
    AsyncPlatform::SetThreadEnvironmentTag(77);
    auto job = gateway.AcquireExclusive(flag, handler);
    AsyncPlatform::SetThreadEnvironmentTag(0);
    std::thread([&] {
        AsyncPlatform::SetThreadEnvironmentTag(5);
        held.reset();
        EXPECT_EQ(AsyncPlatform::GetThreadEnvironmentTag(), 5u);
    }).join();
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_EQ(tag, 77u);
}

// A grant handler that blocks its thread waiting for the next grant: the
// delivery's fork hands the next admission elsewhere (a service thread, or
// without a service this thread before it blocks). Without it the wait would
// never return.
TEST(GatewayThreads, AGrantHandlerThatBlocksIsRescuedByTheDetachedAdmission)
{
    for (const bool withService : {true, false}) {
        for (const bool exclusive : {true, false}) {
            SCOPED_TRACE(std::string(withService ? "with" : "without") + " a service, " +
                         (exclusive ? "exclusive released" : "shared held"));
            std::unique_ptr<AsyncPlatform::NoServiceScopeForTesting> off(
                withService ? nullptr : new AsyncPlatform::NoServiceScopeForTesting);
            Flag held;
            Async::Gateway gateway = Async::Gateway::CreateAcquired(held);
            Flag first, second;
            Async::WaitingHandler secondGranted(true);
            Common::Error waited(0x40001, Common::Location{});
            RecordingHandler blocking([&](const Common::Error&) {
                if (exclusive)
                    first->Release();
                waited = secondGranted.Wait(nullptr);
            });
            auto j1 = exclusive ? gateway.AcquireExclusive(first, blocking) : gateway.AcquireShared(first, blocking);
            auto j2 = exclusive ? gateway.AcquireExclusive(second, secondGranted)
                                : gateway.AcquireShared(second, secondGranted);
            held.reset();
            EXPECT_THAT(waited, IsSuccessError());
            EXPECT_NE(second, nullptr);
        }
    }
}

// Random acquires, releases and cancels on 8 threads: exclusive passages never
// overlap any other passage, and every handler completes exactly once.
TEST(GatewayThreads, RandomTrafficKeepsExclusivePassagesAloneAndCompletesEachHandlerOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 5000;
    Async::Gateway gateway;
    std::atomic<int> exclusiveHolders{0}, sharedHolders{0}, overlaps{0}, badCounts{0}, grants{0}, cancels{0};

    // Counts its completions and checks the gate on a grant.
    class CheckingHandler : public Async::WaitingHandler
    {
    public:
        CheckingHandler(bool exclusive, std::atomic<int>& exclusiveHolders, std::atomic<int>& sharedHolders,
                        std::atomic<int>& overlaps)
            : WaitingHandler(true), m_exclusive(exclusive), m_exclusiveHolders(exclusiveHolders),
              m_sharedHolders(sharedHolders), m_overlaps(overlaps)
        {
        }
        void Completed(const Common::Error& result) override
        {
            calls.fetch_add(1);
            if (result.IsSuccess()) {
                if (m_exclusive) {
                    if (m_exclusiveHolders.fetch_add(1) != 0 || m_sharedHolders.load() != 0)
                        m_overlaps.fetch_add(1);
                } else {
                    m_sharedHolders.fetch_add(1);
                    if (m_exclusiveHolders.load() != 0)
                        m_overlaps.fetch_add(1);
                }
            }
            WaitingHandler::Completed(result);
        }
        std::atomic<int> calls{0};

    private:
        bool m_exclusive;
        std::atomic<int>& m_exclusiveHolders;
        std::atomic<int>& m_sharedHolders;
        std::atomic<int>& m_overlaps;
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(t + 1);
            for (int round = 0; round < kRounds; ++round) {
                const unsigned choice = random() % 8;
                const bool exclusive = choice < 3;
                const bool cancel = choice % 4 == 3;
                Flag flag;
                CheckingHandler handler(exclusive, exclusiveHolders, sharedHolders, overlaps);
                auto job = exclusive ? gateway.AcquireExclusive(flag, handler) : gateway.AcquireShared(flag, handler);
                if (cancel)
                    job->Cancel();
                const Common::Error result = handler.Wait(nullptr);
                if (result.IsSuccess()) {
                    grants.fetch_add(1);
                    (exclusive ? exclusiveHolders : sharedHolders).fetch_sub(1);
                    flag->Release();
                } else {
                    cancels.fetch_add(1);
                    if (flag)
                        badCounts.fetch_add(1);
                }
                job.reset();
                if (handler.calls.load() != 1)
                    badCounts.fetch_add(1);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(badCounts.load(), 0);
    EXPECT_EQ(grants.load() + cancels.load(), kThreads * kRounds);
    // Every passage came back: an exclusive acquire is granted at once.
    Flag last;
    RecordingHandler handler;
    auto job = gateway.AcquireExclusive(last, handler);
    EXPECT_EQ(handler.calls.load(), 1);
}

} // namespace
