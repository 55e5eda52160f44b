// The client side of the IPC stand-in over both roads: calls waited for and
// started, their completions, cancellation, and the access point's answers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/ipc/binding.h"
#include "platform/ipc/binding_errors.h"
#include "platform/ipc/binding_stand_in.h"
#include "platform/ipc/binding_test_support.h"
#include "platform/ipc/ipc_errors.h"
#include "testing/error_matchers.h"

namespace {

using IpcTesting::MakeNumberRequest;
using IpcTesting::NumberPeer;
using IpcTesting::NumberRequest;
using IpcTesting::RecordingHandler;
using Testing::ErrorIs;
using Testing::IsSuccessError;

enum class Road
{
    Local,
    Socket,
};

// An access point to a NumberPeer over one road.
class Connected
{
public:
    explicit Connected(Road road)
    {
        if (road == Road::Local) {
            Ipc::RegisterLocalHandler(&peer);
            Common::Error error;
            Binding::ServiceBrowser* browser = nullptr;
            IPCClient_GetLocalBrowser(&browser, &error);
            m_browser.reset(browser);
        } else {
            EXPECT_THAT(Ipc::Server::Start(
                            Ipc::ServerOptions{"127.0.0.1", 0},
                            [](const Ipc::HelloRecord& hello) { return hello.user == "u" && hello.password == "p"; },
                            peer, m_server),
                        IsSuccessError());
            Binding::Binder* binder = nullptr;
            (void)IPCClient_CreateBinder(&binder);
            m_binder.reset(binder);
            Binding::ConnectionSettings settings;
            settings.host = "127.0.0.1:" + std::to_string(m_server->GetPort());
            settings.user = u"u";
            settings.password = u"p";
            settings.serviceCode = 33;
            EXPECT_THAT(m_binder->Connect(settings, m_browser), IsSuccessError());
        }
        Binding::AccessPointOptions options{};
        if (m_browser) {
            EXPECT_THAT(m_browser->OpenAccessPoint(33, 0, accessPoint, &options), IsSuccessError());
        }
    }
    ~Connected()
    {
        peer.release.Set();
        EXPECT_TRUE(peer.WaitUntilIdle());
        accessPoint.reset();
        m_browser.reset();
        m_binder.reset();
        m_server.reset();
        Ipc::RegisterLocalHandler(nullptr);
    }

    NumberPeer peer;
    std::unique_ptr<Binding::AccessPoint> accessPoint;

private:
    std::unique_ptr<Ipc::Server> m_server;
    std::unique_ptr<Binding::Binder> m_binder;
    std::unique_ptr<Binding::ServiceBrowser> m_browser;
};

class BindingClient : public ::testing::TestWithParam<Road>
{
protected:
    Connected connected{GetParam()};
    Binding::AccessPoint& accessPoint = *connected.accessPoint;

    std::unique_ptr<JobManagement::Job> Call(uint32_t value, uint32_t* target = nullptr)
    {
        std::unique_ptr<Binding::Request> request = MakeNumberRequest(value, target);
        std::unique_ptr<JobManagement::Job> job;
        EXPECT_THAT(accessPoint.Call(request, job), IsSuccessError());
        EXPECT_EQ(request, nullptr);
        return job;
    }
};

INSTANTIATE_TEST_SUITE_P(BothRoads, BindingClient, ::testing::Values(Road::Local, Road::Socket));

TEST_P(BindingClient, CallRefusesAnEmptyRequest)
{
    std::unique_ptr<Binding::Request> request;
    std::unique_ptr<JobManagement::Job> job;
    EXPECT_THAT(accessPoint.Call(request, job),
                ::testing::AllOf(ErrorIs(BindingErrors::kEmptyRequest),
                                 Testing::HasText(u"IPC: The call carries no request.")));
    EXPECT_EQ(job, nullptr);
}

TEST_P(BindingClient, WaitReadsTheReplyIntoTheRequest)
{
    uint32_t target = 0;
    EXPECT_THAT(Call(7, &target)->Wait(0), IsSuccessError());
    EXPECT_EQ(target, 107u);
}

TEST_P(BindingClient, WaitReturnsTheReplysFailedResultAndReadsNothing)
{
    uint32_t target = 5;
    EXPECT_THAT(Call(1000, &target)->Wait(0),
                ::testing::AllOf(ErrorIs(0xFC0017), Testing::HasText(u"refused by peer"),
                                 Testing::RaisedAt("peer", "Echo", 3)));
    EXPECT_EQ(target, 5u);
}

TEST_P(BindingClient, AReplyThatIsNoPacketFailsTheCall)
{
    uint32_t target = 5;
    EXPECT_FALSE(Call(1002, &target)->Wait(0).IsSuccess());
    EXPECT_EQ(target, 5u);
}

TEST_P(BindingClient, InterfaceVersionsOfBothInterfaces)
{
    uint32_t version = 0;
    uint32_t reserved = 9;
    EXPECT_THAT(accessPoint.GetInterfaceVersion(271, &version, &reserved), IsSuccessError());
    EXPECT_EQ(version, 2u);
    IpcStandIn::SetViewManagerVersionForTesting(1);
    EXPECT_THAT(accessPoint.GetInterfaceVersion(271, &version, &reserved), IsSuccessError());
    EXPECT_EQ(version, 1u);
    IpcStandIn::SetViewManagerVersionForTesting(2);
    EXPECT_THAT(accessPoint.GetInterfaceVersion(274, &version, &reserved), IsSuccessError());
    EXPECT_EQ(version, 1u);
    EXPECT_THAT(accessPoint.GetInterfaceVersion(5, &version, &reserved), ErrorIs(Ipc::kNotSupported));
}

TEST(BindingBrowsers, TheLocalBrowserFailsAsSwitchedAndWithoutALocalService)
{
    const Common::Error failure(0xAD0001, u"browser unavailable", Common::SourceFile("test").At("Browser", 1));
    IpcStandIn::SetLocalBrowserFailureForTesting(failure);
    Common::Error error;
    Binding::ServiceBrowser* browser = nullptr;
    IPCClient_GetLocalBrowser(&browser, &error);
    EXPECT_EQ(browser, nullptr);
    EXPECT_THAT(error, ErrorIs(0xAD0001));
    IpcStandIn::SetLocalBrowserFailureForTesting(Common::Success);

    error = Common::Success;
    IPCClient_GetLocalBrowser(&browser, &error);
    ASSERT_NE(browser, nullptr);
    std::unique_ptr<Binding::ServiceBrowser> owned(browser);
    std::unique_ptr<Binding::AccessPoint> accessPoint;
    Binding::AccessPointOptions options{};
    EXPECT_THAT(owned->OpenAccessPoint(46, 0, accessPoint, &options), ErrorIs(BindingErrors::kNoLocalService));
    EXPECT_EQ(accessPoint, nullptr);
}

TEST(BindingBrowsers, TheBinderIsRefusedWithAWrongPassword)
{
    NumberPeer peer;
    std::unique_ptr<Ipc::Server> server;
    ASSERT_THAT(Ipc::Server::Start(
                    Ipc::ServerOptions{"127.0.0.1", 0},
                    [](const Ipc::HelloRecord& hello) { return hello.password == "p"; }, peer, server),
                IsSuccessError());
    Binding::Binder* binder = nullptr;
    (void)IPCClient_CreateBinder(&binder);
    std::unique_ptr<Binding::Binder> owned(binder);
    Binding::ConnectionSettings settings;
    settings.host = "127.0.0.1:" + std::to_string(server->GetPort());
    settings.password = u"wrong";
    std::unique_ptr<Binding::ServiceBrowser> browser;
    EXPECT_THAT(owned->Connect(settings, browser), ErrorIs(Ipc::kAuthenticationRefused));
    EXPECT_EQ(browser, nullptr);
}

// Started calls: completions on the library's threads.
class BindingClientThreads : public BindingClient
{
protected:
    std::shared_ptr<RecordingHandler::Shared> shared = std::make_shared<RecordingHandler::Shared>();
    std::vector<std::unique_ptr<RecordingHandler>> handlers;

    RecordingHandler& NewHandler()
    {
        handlers.push_back(std::make_unique<RecordingHandler>(shared));
        return *handlers.back();
    }
};

INSTANTIATE_TEST_SUITE_P(BothRoads, BindingClientThreads, ::testing::Values(Road::Local, Road::Socket));

TEST_P(BindingClientThreads, HundredStartedCallsCompleteOnceEachOffTheCallersThread)
{
    constexpr int kCalls = 100;
    std::vector<uint32_t> targets(kCalls, 0);
    std::vector<std::unique_ptr<JobManagement::Job>> jobs;
    for (int i = 0; i < kCalls; ++i) {
        jobs.push_back(Call(static_cast<uint32_t>(i), &targets[i]));
        ASSERT_THAT(jobs.back()->Start(NewHandler()), IsSuccessError());
    }
    ASSERT_TRUE(shared->WaitForCompletions(kCalls));
    std::lock_guard<std::mutex> guard(shared->lock);
    EXPECT_EQ(shared->completions, kCalls);
    EXPECT_EQ(shared->successes, kCalls);
    EXPECT_EQ(shared->errors, 0);
    EXPECT_EQ(shared->outOfOrder, 0);
    for (std::thread::id thread : shared->threads)
        EXPECT_NE(thread, std::this_thread::get_id());
    for (int i = 0; i < kCalls; ++i)
        EXPECT_EQ(targets[i], static_cast<uint32_t>(i) + 100);
}

TEST_P(BindingClientThreads, CancelOfAStalledCallCompletesItOncePromptlyAndDropsTheLateReply)
{
    const int readsBefore = NumberRequest::Reads().load();
    uint32_t target = 5;
    std::unique_ptr<JobManagement::Job> job = Call(1001, &target);
    ASSERT_THAT(job->Start(NewHandler()), IsSuccessError());
    ASSERT_TRUE(connected.peer.entered.TimedWait(10000));
    const auto canceled = std::chrono::steady_clock::now();
    (void)job->Cancel(); // the result of Cancel is not read by callers
    ASSERT_TRUE(shared->WaitForCompletions(1, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - canceled, std::chrono::seconds(1));
    connected.peer.release.Set();
    ASSERT_TRUE(connected.peer.left.TimedWait(10000));
    // A completion that the late reply would start runs after the reader or
    // the handler is done with it; a second call through the same road is
    // answered after it, so it has happened by then.
    uint32_t later = 0;
    EXPECT_THAT(Call(1, &later)->Wait(0), IsSuccessError());
    std::lock_guard<std::mutex> guard(shared->lock);
    EXPECT_EQ(shared->completions, 1);
    EXPECT_EQ(shared->errors, 1);
    EXPECT_EQ(shared->outOfOrder, 0);
    ASSERT_EQ(shared->failures.size(), 1u);
    EXPECT_THAT(shared->failures[0], ErrorIs(Ipc::kCallCanceled));
    EXPECT_EQ(target, 5u);
    EXPECT_EQ(NumberRequest::Reads().load() - readsBefore, 1); // only the later call's reply was read
}

TEST_P(BindingClientThreads, CancelBeforeStartCompletesAtStart)
{
    std::unique_ptr<JobManagement::Job> job = Call(1);
    (void)job->Cancel();
    ASSERT_THAT(job->Start(NewHandler()), IsSuccessError());
    ASSERT_TRUE(shared->WaitForCompletions(1));
    std::lock_guard<std::mutex> guard(shared->lock);
    ASSERT_EQ(shared->failures.size(), 1u);
    EXPECT_THAT(shared->failures[0], ErrorIs(Ipc::kCallCanceled));
    EXPECT_EQ(connected.peer.answered.load(), 0);
}

TEST_P(BindingClientThreads, AWaitInsideACompletionDoesNotDeadlock)
{
    uint32_t inner = 0;
    Common::Error innerResult = Common::Error(0xAD0999, Common::NoLocation);
    RecordingHandler& handler = NewHandler();
    handler.onCompleted = [&] { innerResult = Call(2, &inner)->Wait(0); };
    std::unique_ptr<JobManagement::Job> job = Call(1);
    ASSERT_THAT(job->Start(handler), IsSuccessError());
    ASSERT_TRUE(shared->WaitForCompletions(1));
    EXPECT_THAT(innerResult, IsSuccessError());
    EXPECT_EQ(inner, 102u);
}

TEST_P(BindingClientThreads, JobsDeletedInsideTheirCompletion)
{
    // Every fifth call stalls at the peer and is canceled while it does (the
    // job is alive until its completion); the others succeed or fail.
    constexpr int kCalls = 50;
    for (int i = 0; i < kCalls; ++i) {
        const bool cancel = i % 5 == 0;
        RecordingHandler& handler = NewHandler();
        handler.ownedJob = Call(cancel ? 1001 : (i % 2 == 0 ? 1 : 1000));
        JobManagement::Job& job = *handler.ownedJob;
        ASSERT_THAT(job.Start(handler), IsSuccessError());
        if (cancel)
            (void)job.Cancel(); // deletes the job through its completion, soon after
    }
    connected.peer.release.Set();
    ASSERT_TRUE(shared->WaitForCompletions(kCalls));
    std::lock_guard<std::mutex> guard(shared->lock);
    EXPECT_EQ(shared->completions, kCalls);
    EXPECT_EQ(shared->successes + shared->errors, kCalls);
    EXPECT_EQ(shared->errors, 10 + 20);
    EXPECT_EQ(shared->outOfOrder, 0);
}

} // namespace
