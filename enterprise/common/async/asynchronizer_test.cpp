// The sequential asynchronizer: consumed actions run one at a time in the
// order consumed, the first failure decides the result and stops the rest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "core/common/error.h"
#include "core/common/event.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/asynchronizer.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/waiting_handler.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using namespace Testing;
using AsyncTest::RecordingHandler;
using ::testing::AllOf;

constexpr Common::SourceFile kTestSource("enterprise/common/async/asynchronizer_test");

Common::Error Failure(unsigned code = 0xFA000D)
{
    return Common::Error(code, u"object failed", kTestSource.At("Failure", 9));
}

// The innermost record of an error's chain.
Common::Error Innermost(Common::Error error)
{
    while (error.GetCause().GetRecord())
        error = error.GetCause();
    return error;
}

// Shared record of the actions of one test.
struct Log
{
    std::mutex mutex;
    std::vector<int> started;
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    // Completions of cancelled runs held back for the test to deliver.
    std::vector<std::function<void()>> heldCancels;

    void DeliverHeldCancels()
    {
        std::vector<std::function<void()>> cancels;
        {
            std::lock_guard<std::mutex> lock(mutex);
            cancels.swap(heldCancels);
        }
        for (auto& cancel : cancels)
            cancel();
    }
};

// How a LoggedAction completes.
enum class Completion
{
    Result,         // with its result, inline or on the completers
    CancelAtOnce,   // only when cancelled, inside the cancel
    CancelHeldBack, // only when cancelled, when the test delivers it
};

// Action `index`: records its start, then completes with `result` on the
// completers (or inline when none), or waits for a cancel (`cancellable`).
class LoggedAction : public Async::Action
{
public:
    LoggedAction(Log& log, int index, Common::Error result, AsyncTest::Completers* completers,
                 Completion completion = Completion::Result)
        : m_log(log), m_index(index), m_result(std::move(result)), m_completers(completers), m_completion(completion)
    {
    }

    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        {
            std::lock_guard<std::mutex> lock(m_log.mutex);
            m_log.started.push_back(m_index);
        }
        const int now = m_log.running.fetch_add(1) + 1;
        int seen = m_log.maxRunning.load();
        while (now > seen && !m_log.maxRunning.compare_exchange_weak(seen, now)) {}
        if (m_completion != Completion::Result)
            return std::make_shared<CancelJob>(m_log, handler, m_completion == Completion::CancelHeldBack);
        Log* log = &m_log;
        const Common::Error result = m_result;
        auto complete = [log, &handler, result] {
            log->running.fetch_sub(1);
            handler.Completed(result);
        };
        if (m_completers)
            m_completers->Post(complete);
        else
            complete();
        return {};
    }

private:
    // Completes its run with the canceled error when cancelled.
    class CancelJob : public Async::BaseJob
    {
    public:
        CancelJob(Log& log, Async::ActionHandler& handler, bool heldBack)
            : m_log(log), m_handler(handler), m_heldBack(heldBack)
        {
        }
        void Cancel() override
        {
            Log* log = &m_log;
            Async::ActionHandler* handler = &m_handler;
            auto complete = [log, handler] {
                log->running.fetch_sub(1);
                handler->Completed(Async::GetCanceledError());
            };
            if (!m_heldBack) {
                complete();
                return;
            }
            std::lock_guard<std::mutex> lock(m_log.mutex);
            m_log.heldCancels.push_back(complete);
        }

    private:
        Log& m_log;
        Async::ActionHandler& m_handler;
        bool m_heldBack;
    };

    Log& m_log;
    int m_index;
    Common::Error m_result;
    AsyncTest::Completers* m_completers;
    Completion m_completion;
};

// A reader that runs `read` with the consumer; `complete` later ends reading
// (or `read` returns true to end it inside Read).
class FakeReader : public Async::ActionReader
{
public:
    using ReadFunction = std::function<bool(Async::ActionConsumer&)>;

    explicit FakeReader(ReadFunction read, Common::Error result = Common::Error())
        : m_read(std::move(read)), m_result(std::move(result))
    {
    }

    std::shared_ptr<Async::Job> Read(Async::ActionConsumer& consumer, Async::ActionHandler& handler) override
    {
        consumerSeen = &consumer;
        if (m_read(consumer)) {
            handler.Completed(m_result);
            return {};
        }
        m_handler = &handler;
        return {};
    }
    // Ends a reading that Read left open.
    void Complete(const Common::Error& result) { m_handler->Completed(result); }

    Async::ActionConsumer* consumerSeen = nullptr;

private:
    ReadFunction m_read;
    Common::Error m_result;
    Async::ActionHandler* m_handler = nullptr;
};

Common::Error RunReader(std::unique_ptr<Async::ActionReader> reader)
{
    Async::WaitingHandler waiting(true);
    const std::shared_ptr<Async::Job> job = Async::AsynchronizeSequentially(std::move(reader), waiting);
    return waiting.Wait(nullptr);
}

TEST(Asynchronizer, ReaderConsumingNothingSucceeds)
{
    RecordingHandler handler;
    const auto job = Async::AsynchronizeSequentially(
        std::make_unique<FakeReader>([](Async::ActionConsumer&) { return true; }), handler);
    EXPECT_EQ(handler.calls.load(), 1); // at once
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

TEST(Asynchronizer, ConsumedActionsRunOneAtATimeInConsumptionOrder)
{
    Log log;
    AsyncTest::Completers completers(3);
    const Common::Error result = RunReader(std::make_unique<FakeReader>([&](Async::ActionConsumer& consumer) {
        for (int i = 0; i < 3; ++i)
            EXPECT_THAT(consumer.Consume(std::make_unique<LoggedAction>(log, i, Common::Error(), &completers)),
                        IsSuccessError());
        return true;
    }));
    EXPECT_THAT(result, IsSuccessError());
    EXPECT_EQ(log.started, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(log.maxRunning.load(), 1);
}

// The second action fails while the third waits at the semaphore: the third
// is never performed and the result ends in the second's own error.
TEST(Asynchronizer, SecondFailsWhileTheThirdWaits)
{
    Log log;
    AsyncTest::Completers completers(2);
    const Common::Error result = RunReader(std::make_unique<FakeReader>([&](Async::ActionConsumer& consumer) {
        (void)consumer.Consume(std::make_unique<LoggedAction>(log, 0, Common::Error(), &completers));
        (void)consumer.Consume(std::make_unique<LoggedAction>(log, 1, Failure(), &completers));
        (void)consumer.Consume(std::make_unique<LoggedAction>(log, 2, Common::Error(), &completers));
        return true;
    }));
    EXPECT_EQ(log.started, (std::vector<int>{0, 1}));
    EXPECT_THAT(result, ChainContains(ErrorIs(0xFA000D)));
    EXPECT_THAT(Innermost(result), AllOf(ErrorIs(0xFA000D), HasText(u"object failed")));
}

TEST(Asynchronizer, ReaderFailingAfterTwoActionsCancelsTheRunningAndDropsTheWaiting)
{
    Log log;
    auto reader = std::make_unique<FakeReader>([&](Async::ActionConsumer& consumer) {
        (void)consumer.Consume(
            std::make_unique<LoggedAction>(log, 0, Common::Error(), nullptr, Completion::CancelHeldBack));
        (void)consumer.Consume(std::make_unique<LoggedAction>(log, 1, Common::Error(), nullptr));
        return false;
    });
    FakeReader& fakeReader = *reader;
    Async::WaitingHandler waiting(true);
    const auto job = Async::AsynchronizeSequentially(std::move(reader), waiting);
    EXPECT_EQ(log.started, (std::vector<int>{0}));
    fakeReader.Complete(Failure(0x40001));
    ASSERT_EQ(log.heldCancels.size(), 1u); // the running action was asked to cancel
    log.DeliverHeldCancels();
    const Common::Error result = waiting.Wait(nullptr);
    EXPECT_EQ(log.started, (std::vector<int>{0})); // the waiting one never started
    EXPECT_EQ(log.running.load(), 0);              // the running one was cancelled
    EXPECT_THAT(result, ChainContains(ErrorIs(0x40001)));
    EXPECT_THAT(result, ::testing::Not(ChainContains(ErrorIs(0xF90002))));
}

TEST(Asynchronizer, ConsumeAfterReadCompletedIsRefused)
{
    Async::ActionConsumer* consumer = nullptr;
    auto reader = std::make_unique<FakeReader>([&](Async::ActionConsumer& seen) {
        consumer = &seen;
        return true;
    });
    RecordingHandler handler;
    const auto job = Async::AsynchronizeSequentially(std::move(reader), handler);
    ASSERT_EQ(handler.calls.load(), 1);
    Log log;
    const Common::Error late = consumer->Consume(std::make_unique<LoggedAction>(log, 0, Common::Error(), nullptr));
    EXPECT_THAT(late,
                AllOf(ErrorIs(0xF90005),
                      HasText(u"ASYNC: Asynchronizer cannot accept more actions because step \"Read\" has "
                              u"completed."),
                      RaisedAt("enterprise/common/async/asynchronizer", "Consume", 111),
                      HasLineTag(0x41D8D749260E2762ull)));
    EXPECT_EQ(late.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_TRUE(log.started.empty());
}

TEST(Asynchronizer, AfterAFailedConsumeTheNextIsReportedAndRefused)
{
    AsyncTest::AssertionCapture assertions;
    Log log;
    std::vector<Common::Error> results;
    const Common::Error result = RunReader(std::make_unique<FakeReader>([&](Async::ActionConsumer& consumer) {
        for (int i = 0; i < 3; ++i)
            results.push_back(consumer.Consume(
                std::make_unique<LoggedAction>(log, i, i == 0 ? Failure() : Common::Error(), nullptr)));
        return true;
    }));
    ASSERT_EQ(results.size(), 3u);
    EXPECT_THAT(results[0], ChainContains(ErrorIs(0xFA000D)));
    EXPECT_THAT(results[1], ErrorIs(0xF90005));
    EXPECT_TRUE(assertions.Saw("FailReason == Common::Success && \"Top-level logic broken.\"", 107));
    EXPECT_EQ(log.started, (std::vector<int>{0}));
    EXPECT_THAT(Innermost(result), ErrorIs(0xFA000D));
}

TEST(Asynchronizer, CancelDuringTheFinalWaitEndsInTheCanceledError)
{
    Log log;
    auto reader = std::make_unique<FakeReader>([&](Async::ActionConsumer& consumer) {
        (void)consumer.Consume(
            std::make_unique<LoggedAction>(log, 0, Common::Error(), nullptr, Completion::CancelAtOnce));
        return true; // reading ends: the wait-all step waits for the action
    });
    Async::WaitingHandler waiting(true);
    const auto job = Async::AsynchronizeSequentially(std::move(reader), waiting);
    job->Cancel();
    const Common::Error result = waiting.Wait(nullptr);
    EXPECT_THAT(Innermost(result), ErrorIs(0xF90002));
    EXPECT_EQ(log.running.load(), 0);
    EXPECT_EQ(job->Describe().text, u"ASYNC: Consume and perform action dispatching job.");
}

TEST(AsynchronizerThreads, ThousandActionsCompletingOnRandomThreads)
{
    Log log;
    std::mt19937 random(5);
    AsyncTest::Completers completers(4);
    Common::Event done(true, false);
    RecordingHandler outer([&](const Common::Error&) { done.Set(); });
    const auto job = Async::AsynchronizeSequentially(
        std::make_unique<FakeReader>([&](Async::ActionConsumer& consumer) {
            for (int i = 0; i < 1000; ++i)
                (void)consumer.Consume(
                    std::make_unique<LoggedAction>(log, i, Common::Error(), random() % 4 == 0 ? nullptr : &completers));
            return true;
        }),
        outer);
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(outer.calls.load(), 1);
    EXPECT_THAT(outer.Last(), IsSuccessError());
    EXPECT_EQ(log.maxRunning.load(), 1);
    ASSERT_EQ(log.started.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(log.started[i], i);
}

TEST(AsynchronizerSlots, BinaryOrder)
{
    using Async::AsynchronizerImpl::ActionJob;
    using Async::AsynchronizerImpl::BaseAsynchronizerJob;
    using Testing::VirtualSlot;
    EXPECT_EQ(VirtualSlot(&Async::ActionConsumer::Consume), 2u);
    EXPECT_EQ(VirtualSlot(&Async::ActionReader::Read), 2u);
    EXPECT_EQ(VirtualSlot(&BaseAsynchronizerJob::Describe), 2u);
    EXPECT_EQ(VirtualSlot(&BaseAsynchronizerJob::GetId), 3u);
    EXPECT_EQ(VirtualSlot(&BaseAsynchronizerJob::Cancel), 4u);
    EXPECT_EQ(VirtualSlot(&BaseAsynchronizerJob::Consume), 5u);
    EXPECT_EQ(VirtualSlot(&BaseAsynchronizerJob::PerformAction), 6u);
    EXPECT_EQ(VirtualSlot(&BaseAsynchronizerJob::MakeWaitAllAction), 7u);
    EXPECT_EQ(VirtualSlot(&BaseAsynchronizerJob::MakeCancelAndWaitAction), 8u);
    EXPECT_EQ(VirtualSlot(&ActionJob::Describe), 2u);
    EXPECT_EQ(VirtualSlot(&ActionJob::GetId), 3u);
    EXPECT_EQ(VirtualSlot(&ActionJob::Cancel), 4u);
}

} // namespace
