#include "enterprise/common/async/thread_environment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <string>
#include <thread>

#include "core/common/error.h"
#include "enterprise/common/async/waiting_handler.h"
#include "platform/async/async_platform.h"
#include "testing/error_matchers.h"

namespace {

using AsyncPlatform::GetThreadEnvironmentTag;
using AsyncPlatform::SetThreadEnvironmentTag;

using NoServiceScope = AsyncPlatform::NoServiceScopeForTesting;

// Environments and a provider that log what is done to them.
class LoggingEnvironment : public Async::ThreadEnvironment
{
public:
    LoggingEnvironment(char name, std::string& log) : m_name(name), m_log(log) {}
    void Apply() override { m_log += std::string("apply ") + m_name + ";"; }
    void Leave() override { m_log += std::string("leave ") + m_name + ";"; }
    void Restore() override { m_log += std::string("restore ") + m_name + ";"; }

private:
    char m_name;
    std::string& m_log;
};

class LoggingProvider : public Async::EnvironmentProvider
{
public:
    explicit LoggingProvider(std::string& log) : m_log(log) {}
    std::shared_ptr<Async::ThreadEnvironment> CaptureEnvironment() override
    {
        m_log += "capture;";
        return std::make_shared<LoggingEnvironment>('p', m_log);
    }

private:
    std::string& m_log;
};

TEST(ThreadEnvironmentScope, AppliesThenLeavesAndRestoresThePrevious)
{
    std::string log;
    LoggingProvider provider(log);
    {
        Async::ThreadEnvironmentScope scope(&provider, std::make_shared<LoggingEnvironment>('e', log));
        EXPECT_EQ(log, "capture;apply e;");
    }
    EXPECT_EQ(log, "capture;apply e;leave e;restore p;");
}

TEST(ThreadEnvironmentScope, AnEmptyEnvironmentDoesNothing)
{
    std::string log;
    LoggingProvider provider(log);
    {
        Async::ThreadEnvironmentScope scope(&provider, nullptr);
    }
    EXPECT_EQ(log, "");
}

TEST(ThreadEnvironmentScope, NestedScopesRestoreInReverseOrder)
{
    Async::EnvironmentProvider* provider = Async::GetEnvironmentProvider();
    SetThreadEnvironmentTag(2);
    const auto two = provider->CaptureEnvironment();
    SetThreadEnvironmentTag(3);
    const auto three = provider->CaptureEnvironment();
    SetThreadEnvironmentTag(1);
    {
        Async::ThreadEnvironmentScope outer(provider, two);
        EXPECT_EQ(GetThreadEnvironmentTag(), 2u);
        {
            Async::ThreadEnvironmentScope inner(provider, three);
            EXPECT_EQ(GetThreadEnvironmentTag(), 3u);
        }
        EXPECT_EQ(GetThreadEnvironmentTag(), 2u);
    }
    EXPECT_EQ(GetThreadEnvironmentTag(), 1u);
    SetThreadEnvironmentTag(0);
}

// Records the tag of the thread it is completed on.
class TagRecordingHandler : public Async::ActionHandler
{
public:
    void Completed(const Common::Error& result) override
    {
        tag = GetThreadEnvironmentTag();
        code = result.GetCode();
    }

    uint64_t tag = 0;
    unsigned code = 1;
};

// Completes a preserving handler on a service thread whose own tag is 9.
class CompletingWork : public Async::Work
{
public:
    explicit CompletingWork(Async::ActionHandler& handler) : m_handler(handler) {}

    Common::Error Run() override
    {
        SetThreadEnvironmentTag(9);
        m_handler.Completed(Common::Error(0x40001, Common::Location{}));
        tagAfterwards = GetThreadEnvironmentTag();
        SetThreadEnvironmentTag(0);
        return Common::Success;
    }
    void Detach() override {}

    uint64_t tagAfterwards = 0;

private:
    Async::ActionHandler& m_handler;
};

TEST(EnvironmentPreservingHandlerThreads, DeliversInTheCreatorsEnvironmentAndRestoresTheThreadsOwn)
{
    TagRecordingHandler inner;
    SetThreadEnvironmentTag(42);
    Async::EnvironmentPreservingHandler preserving(inner);
    SetThreadEnvironmentTag(0);

    Async::Service* service = nullptr;
    (void)GetAsyncService(&service);
    ASSERT_NE(service, nullptr);
    CompletingWork work(preserving);
    Async::WaitingHandler done(true);
    (void)service->PerformWork(work, done);
    EXPECT_THAT(done.Wait(nullptr), Testing::IsSuccessError());
    EXPECT_EQ(inner.tag, 42u);
    EXPECT_EQ(inner.code, 0x40001u);
    EXPECT_EQ(work.tagAfterwards, 9u);
}

class ThrowingHandler : public Async::ActionHandler
{
public:
    void Completed(const Common::Error& result) override { Common::ThrowError(result); }
};

TEST(EnvironmentPreservingHandlerThreads, AThrowingHandlerStillLeavesTheEnvironment)
{
    ThrowingHandler inner;
    SetThreadEnvironmentTag(42);
    Async::EnvironmentPreservingHandler preserving(inner);
    SetThreadEnvironmentTag(9);
    EXPECT_THROW(preserving.Completed(Common::Error(0x40001, Common::Location{})), Common::Error);
    EXPECT_EQ(GetThreadEnvironmentTag(), 9u);
    SetThreadEnvironmentTag(0);
}

// Destroys the preserving handler that called it.
class DestroyingHandler : public Async::ActionHandler
{
public:
    void Completed(const Common::Error&) override
    {
        preserving.reset();
        tag = GetThreadEnvironmentTag();
    }

    std::unique_ptr<Async::EnvironmentPreservingHandler> preserving;
    uint64_t tag = 0;
};

TEST(EnvironmentPreservingHandlerThreads, TheWrappedHandlerMayDestroyThePreservingOne)
{
    DestroyingHandler inner;
    SetThreadEnvironmentTag(5);
    inner.preserving = std::make_unique<Async::EnvironmentPreservingHandler>(inner);
    SetThreadEnvironmentTag(6);
    inner.preserving->Completed(Common::Success);
    EXPECT_EQ(inner.preserving, nullptr);
    EXPECT_EQ(inner.tag, 5u);
    EXPECT_EQ(GetThreadEnvironmentTag(), 6u);
    SetThreadEnvironmentTag(0);
}

TEST(EnvironmentPreservingHandler, WithoutAServiceTheEnvironmentIsEmpty)
{
    NoServiceScope off;
    Async::EnvironmentProvider* provider = Async::GetEnvironmentProvider();
    ASSERT_NE(provider, nullptr);
    EXPECT_NE(provider->CaptureEnvironment(), nullptr);

    TagRecordingHandler inner;
    SetThreadEnvironmentTag(42);
    Async::EnvironmentPreservingHandler preserving(inner);
    SetThreadEnvironmentTag(9);
    preserving.Completed(Common::Success);
    EXPECT_EQ(inner.code, 0u);
    EXPECT_EQ(inner.tag, 9u); // nothing was captured, nothing applied
    EXPECT_EQ(GetThreadEnvironmentTag(), 9u);
    SetThreadEnvironmentTag(0);
}

} // namespace
