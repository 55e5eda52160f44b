#include "platform/async/service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "platform/async/async_platform.h"
#include "platform/async/service_job.h"
#include "testing/error_matchers.h"

namespace {

using namespace std::chrono_literals;
using testing::AllOf;
using Testing::ErrorIs;
using Testing::HasLineTag;
using Testing::HasText;
using Testing::IsSuccessError;
using Testing::RaisedAt;

constexpr unsigned kCanceled = 0xF90002;

// Records the one completion and the thread it came on.
class PromiseHandler : public Async::ActionHandler
{
public:
    void Completed(const Common::Error& result) override
    {
        thread = std::this_thread::get_id();
        calls.fetch_add(1);
        promise.set_value(result);
    }

    Common::Error Get() { return promise.get_future().get(); }

    std::promise<Common::Error> promise;
    std::atomic<int> calls{0};
    std::thread::id thread;
};

class FunctionWork : public Async::Work
{
public:
    explicit FunctionWork(std::function<Common::Error()> run) : m_run(std::move(run)) {}
    Common::Error Run() override { return m_run(); }
    void Detach() override {}

private:
    std::function<Common::Error()> m_run;
};

TEST(AsyncServiceThreads, GetAsyncServiceYieldsOneServiceUnlessSwitchedOff)
{
    Async::Service* first = nullptr;
    Async::Service* second = nullptr;
    (void)GetAsyncService(&first);
    (void)GetAsyncService(&second);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, &AsyncPlatform::GetProcessService());
    EXPECT_NE(first->GetEnvironmentProvider(), nullptr);
    EXPECT_NE(first->GetMetronomeFactory(), nullptr);
    EXPECT_NE(first->GetSynchronizationCallbackStorage(), nullptr);

    AsyncPlatform::SetServiceEnabledForTesting(false);
    Async::Service* none = nullptr;
    (void)GetAsyncService(&none);
    AsyncPlatform::SetServiceEnabledForTesting(true);
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(GetAsyncService(nullptr), 0);
}

TEST(AsyncServiceThreads, WorkRunsOnAServiceThreadAndReportsItsResult)
{
    Async::Service& service = AsyncPlatform::GetProcessService();
    const Common::Error failure(0x40001, Common::Location{});
    const std::vector<Common::Error> results{Common::Success, failure};
    for (const Common::Error& expected : results) {
        std::thread::id ranOn;
        FunctionWork work([&] {
            ranOn = std::this_thread::get_id();
            return expected;
        });
        PromiseHandler handler;
        const std::shared_ptr<Async::Job> job = service.PerformWork(work, handler);
        EXPECT_EQ(handler.Get().GetCode(), expected.GetCode());
        EXPECT_NE(ranOn, std::this_thread::get_id());
        EXPECT_EQ(handler.thread, ranOn);
        ASSERT_NE(job, nullptr);
        EXPECT_GE(job->GetId(), AsyncPlatform::kServiceJobIdBase);
    }
}

TEST(AsyncServiceThreads, AThrownErrorBecomesTheResult)
{
    FunctionWork work([]() -> Common::Error { Common::ThrowError(Common::Error(0xFA000D, Common::Location{})); });
    PromiseHandler handler;
    (void)AsyncPlatform::GetProcessService().PerformWork(work, handler);
    EXPECT_THAT(handler.Get(), ErrorIs(0xFA000D));
}

TEST(AsyncServiceThreads, WorkItemsThatWaitForEachOtherAllComplete)
{
    constexpr int kItems = 32;
    AsyncPlatform::Service service(10s);
    std::latch started(kItems);
    std::vector<std::unique_ptr<FunctionWork>> works;
    std::vector<std::unique_ptr<PromiseHandler>> handlers;
    for (int i = 0; i < kItems; ++i) {
        works.push_back(std::make_unique<FunctionWork>([&] {
            started.count_down();
            started.wait();
            return Common::Success;
        }));
        handlers.push_back(std::make_unique<PromiseHandler>());
        (void)service.PerformWork(*works.back(), *handlers.back());
    }
    for (auto& handler : handlers)
        EXPECT_THAT(handler->Get(), IsSuccessError());
}

// Deletes the work and itself inside its completion: the service must touch
// neither afterwards (ASan sees it otherwise).
class SelfDeletingHandler : public Async::ActionHandler
{
public:
    SelfDeletingHandler(Async::Work* work, std::promise<void>& done) : m_work(work), m_done(done) {}

    void Completed(const Common::Error&) override
    {
        std::promise<void>& done = m_done;
        delete m_work;
        delete this;
        done.set_value();
    }

private:
    Async::Work* m_work;
    std::promise<void>& m_done;
};

TEST(AsyncServiceThreads, NothingTouchesWorkOrHandlerAfterTheCompletion)
{
    Async::Service& service = AsyncPlatform::GetProcessService();
    for (int i = 0; i < 100; ++i) {
        std::promise<void> done;
        auto* work = new FunctionWork([] { return Common::Success; });
        (void)service.PerformWork(*work, *new SelfDeletingHandler(work, done));
        done.get_future().wait();
    }
    std::promise<void> ticked;
    Async::Metronome* metronome = service.GetMetronomeFactory()->CreateMetronome(0);
    (void)metronome->Tick(*new SelfDeletingHandler(nullptr, ticked));
    ticked.get_future().wait();
}

TEST(AsyncServiceThreads, OneMetronomePerPeriod)
{
    Async::MetronomeFactory* factory = AsyncPlatform::GetProcessService().GetMetronomeFactory();
    Async::Metronome* sixty = factory->CreateMetronome(60);
    EXPECT_EQ(factory->CreateMetronome(60), sixty);
    EXPECT_NE(factory->CreateMetronome(61), sixty);
}

TEST(AsyncServiceThreads, ATickCompletesWithSuccessAfterItsPeriod)
{
    Async::Metronome* metronome = AsyncPlatform::GetProcessService().GetMetronomeFactory()->CreateMetronome(60);
    PromiseHandler handler;
    const auto start = std::chrono::steady_clock::now();
    const std::shared_ptr<Async::Job> tick = metronome->Tick(handler);
    ASSERT_NE(tick, nullptr);
    EXPECT_THAT(handler.Get(), IsSuccessError());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
    EXPECT_NE(handler.thread, std::this_thread::get_id());
    tick->Cancel(); // after the completion: nothing happens
    EXPECT_EQ(handler.calls.load(), 1);
}

TEST(AsyncServiceThreads, ACancelledTickCompletesAtOnceWithCanceled)
{
    Async::Metronome* metronome = AsyncPlatform::GetProcessService().GetMetronomeFactory()->CreateMetronome(3600000);
    PromiseHandler handler;
    const std::shared_ptr<Async::Job> tick = metronome->Tick(handler);
    tick->Cancel();
    tick->Cancel();
    EXPECT_THAT(handler.Get(), ErrorIs(kCanceled)); // an hour's period: only the cancel ends it
    EXPECT_EQ(handler.calls.load(), 1);
}

// Logs and stored error blobs know the service's texts and places: a
// cancelled tick and the description of a service job keep them.
TEST(AsyncServiceThreads, ACancelledTickAndItsJobKeepTheirTextsAndPlaces)
{
    Async::Metronome* metronome = AsyncPlatform::GetProcessService().GetMetronomeFactory()->CreateMetronome(3600000);
    PromiseHandler handler;
    const std::shared_ptr<Async::Job> tick = metronome->Tick(handler);
    ASSERT_NE(tick, nullptr);
    tick->Cancel();
    const Common::SourceFile metronomeSource("platform/async/metronome");
    EXPECT_THAT(handler.Get(),
                AllOf(ErrorIs(kCanceled), HasText(Common::GetMessageText(133)),
                      RaisedAt("platform/async/metronome", "Tick", 44),
                      HasLineTag(metronomeSource.At("Tick", 44).LineTag)));

    const Async::EntityDescription description = tick->Describe();
    const Common::Location expected = Common::SourceFile("platform/async/service_job").At("Describe", 27);
    EXPECT_EQ(description.text, Common::GetMessageText(61));
    EXPECT_STREQ(description.location.file, expected.file);
    EXPECT_STREQ(description.location.function, expected.function);
    EXPECT_EQ(description.location.line, expected.line);
    EXPECT_EQ(description.location.LineTag, expected.LineTag);
}

TEST(AsyncServiceThreads, CancelRacingExpiryCompletesEachTickOnce)
{
    Async::Metronome* metronome = AsyncPlatform::GetProcessService().GetMetronomeFactory()->CreateMetronome(0);
    int canceled = 0;
    for (int i = 0; i < 10000; ++i) {
        PromiseHandler handler;
        const std::shared_ptr<Async::Job> tick = metronome->Tick(handler);
        std::thread canceller([&] { tick->Cancel(); });
        const Common::Error result = handler.Get();
        canceller.join();
        ASSERT_EQ(handler.calls.load(), 1);
        if (result.GetCode() == kCanceled)
            ++canceled;
        else
            ASSERT_THAT(result, IsSuccessError());
    }
    RecordProperty("canceled", canceled);
}

TEST(AsyncServiceThreads, AnEnvironmentCarriesTheThreadsTagAcrossThreads)
{
    Async::EnvironmentProvider* provider = AsyncPlatform::GetProcessService().GetEnvironmentProvider();
    AsyncPlatform::SetThreadEnvironmentTag(7);
    const std::shared_ptr<Async::ThreadEnvironment> creator = provider->CaptureEnvironment();
    AsyncPlatform::SetThreadEnvironmentTag(0);
    ASSERT_NE(creator, nullptr);

    std::thread([&] {
        AsyncPlatform::SetThreadEnvironmentTag(3);
        const std::shared_ptr<Async::ThreadEnvironment> own = provider->CaptureEnvironment();
        creator->Apply();
        EXPECT_EQ(AsyncPlatform::GetThreadEnvironmentTag(), 7u);
        creator->Leave();
        EXPECT_EQ(AsyncPlatform::GetThreadEnvironmentTag(), 0u);
        own->Restore();
        EXPECT_EQ(AsyncPlatform::GetThreadEnvironmentTag(), 3u);
    }).join();
    EXPECT_EQ(AsyncPlatform::GetThreadEnvironmentTag(), 0u);
}

// A chain element that answers a fixed value and logs its calls.
class LoggingCallback : public Async::SynchronizationCallback
{
public:
    LoggingCallback(int name, bool answer, std::vector<int>& log) : m_name(name), m_answer(answer), m_log(log) {}

    SynchronizationCallback* GetNext() override { return m_next; }
    void SetNext(SynchronizationCallback* next) override { m_next = next; }
    bool Satisfy(void*) override { return m_answer; }
    bool TrySatisfy(void* context) override
    {
        m_log.push_back(m_name);
        return Satisfy(context);
    }

private:
    int m_name;
    bool m_answer;
    std::vector<int>& m_log;
    SynchronizationCallback* m_next = nullptr;
};

TEST(AsyncServiceThreads, TheCallbackChainIsPerThreadAndWalkedTopDown)
{
    Async::SynchronizationCallbackStorage* storage =
        AsyncPlatform::GetProcessService().GetSynchronizationCallbackStorage();
    std::vector<int> log;
    LoggingCallback bottom(1, false, log), middle(2, true, log), top(3, false, log);
    ASSERT_EQ(storage->GetTop(), nullptr);
    EXPECT_TRUE(storage->Push(&bottom));
    EXPECT_TRUE(storage->Push(&middle));
    EXPECT_TRUE(storage->Push(&top));
    EXPECT_EQ(storage->GetTop(), &top);

    storage->Synchronize(nullptr);
    EXPECT_EQ(log, (std::vector<int>{3, 2})); // stops at the first true

    std::thread([&] {
        EXPECT_EQ(storage->GetTop(), nullptr);
        storage->Synchronize(nullptr);
    }).join();
    EXPECT_EQ(log.size(), 2u);

    EXPECT_EQ(storage->Pop(), &top);
    EXPECT_EQ(storage->Pop(), &middle);
    EXPECT_EQ(storage->Pop(), &bottom);
    EXPECT_EQ(storage->GetTop(), nullptr);
    EXPECT_EQ(storage->Pop(), nullptr);
}

} // namespace
