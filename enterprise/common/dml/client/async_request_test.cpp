// Asynchronous requests and command jobs over a scripted access point.
#include "enterprise/common/dml/client/async_request.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/event.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"
#include "testing/error_matchers.h"
#include "xidl/object_manager.h"
#include "xidl/view_manager.h"

namespace {

using IpcTesting::Packet;
using IpcTesting::ResultElement;
using IpcTesting::ScriptedAccessPoint;
using Testing::ErrorIs;
using Testing::IsSuccessError;

constexpr unsigned kCanceled = 0xF90002;
const Common::Location kHere = Common::SourceFile("async_request_test").At("Test", 1);

std::string RegisterReply(const Common::Error& result)
{
    return Packet("<reply_ObjectManager_RegisterObject>" + ResultElement(result) +
                  "</reply_ObjectManager_RegisterObject>");
}

std::shared_ptr<ScriptedAccessPoint> MakeAccessPoint(const Common::Error& result = Common::Success)
{
    return std::make_shared<ScriptedAccessPoint>(RegisterReply(result), "reply_ObjectManager_RegisterObject");
}

// A handler that records its completions and signals each.
struct Handler
{
    Common::Event completed{true, false};
    std::thread::id thread;
    AsyncTest::RecordingHandler recorder{[this](const Common::Error&) {
        thread = std::this_thread::get_id();
        completed.Set();
    }};
};

std::shared_ptr<Dml::AsyncRequest> MakeRequest(const std::shared_ptr<ScriptedAccessPoint>& accessPoint,
                                               Handler& handler)
{
    std::unique_ptr<Binding::Request> request = Dml::MakeRegisterObjectRequest(IpcTesting::Unit("o"));
    auto asyncRequest = std::make_shared<Dml::AsyncRequest>(accessPoint, request, &handler.recorder);
    EXPECT_FALSE(request) << "the request is always taken from the caller";
    return asyncRequest;
}

TEST(AsyncRequest, CompletesOnceWithTheCallsOutcome)
{
    const Common::Error refused(0xAD0005, u"refused", kHere);
    const Common::Error startFailed(0xAD0006, u"start failed", kHere);
    const Common::Error remote(0xFC0017, u"remote failure", kHere);
    struct Case
    {
        const char* name;
        Common::Error refuseWith;
        Common::Error startFailure;
        Common::Error replyResult;
        unsigned code;
        bool insideRun; // completed on the calling thread before Run returned
    };
    const Case cases[] = {
        {"call refused", refused, Common::Success, Common::Success, 0xAD0005, true},
        {"start fails", Common::Success, startFailed, Common::Success, 0xAD0006, true},
        {"success", Common::Success, Common::Success, Common::Success, 0, false},
        {"error reply", Common::Success, Common::Success, remote, 0xFC0017, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto accessPoint = MakeAccessPoint(c.replyResult);
        accessPoint->refuseWith = c.refuseWith;
        accessPoint->startFailure = c.startFailure;
        Handler handler;
        {
            std::shared_ptr<Dml::AsyncRequest> request = MakeRequest(accessPoint, handler);
            request->Run();
            if (c.insideRun) {
                EXPECT_EQ(handler.recorder.calls.load(), 1);
                EXPECT_EQ(handler.thread, std::this_thread::get_id());
            }
            handler.completed.Wait();
        }
        EXPECT_EQ(handler.recorder.calls.load(), 1);
        EXPECT_THAT(handler.recorder.Last(), ErrorIs(c.code));
        if (!c.insideRun) {
            EXPECT_NE(handler.thread, std::this_thread::get_id());
        }
    }
}

TEST(AsyncRequest, CancelDuringTheCallWaitsForTheLateCompletionAndCompletesOnceAsCanceled)
{
    auto accessPoint = MakeAccessPoint();
    Common::Event cancelAsked(true, false);
    std::atomic<bool> answered{false};
    accessPoint->onCancel = [&] { cancelAsked.Set(); };
    accessPoint->beforeReply = [&] {
        cancelAsked.Wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the library answers late
        answered = true;
    };
    Handler handler;
    std::shared_ptr<Dml::AsyncRequest> request = MakeRequest(accessPoint, handler);
    request->Run();

    const auto start = std::chrono::steady_clock::now();
    request->Cancel();
    EXPECT_TRUE(answered.load()) << "Cancel returned before the library completed the call";
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(handler.recorder.calls.load(), 1);
    EXPECT_THAT(handler.recorder.Last(), ErrorIs(kCanceled));
    EXPECT_EQ(handler.thread, std::this_thread::get_id());

    request.reset();
    accessPoint.reset(); // joins the library's thread: its late completion changed nothing
    EXPECT_EQ(handler.recorder.calls.load(), 1);
    EXPECT_THAT(handler.recorder.Last(), ErrorIs(kCanceled));
}

TEST(AsyncRequest, CancelAfterCompletionCompletesNobody)
{
    auto accessPoint = MakeAccessPoint();
    int cancels = 0;
    accessPoint->onCancel = [&] { ++cancels; };
    Handler handler;
    std::shared_ptr<Dml::AsyncRequest> request = MakeRequest(accessPoint, handler);
    request->Run();
    handler.completed.Wait();

    request->Cancel();
    EXPECT_EQ(cancels, 0) << "a completed call is not cancelled";
    EXPECT_EQ(handler.recorder.calls.load(), 1);
    EXPECT_THAT(handler.recorder.Last(), IsSuccessError());
}

TEST(AsyncRequest, CancelOfARefusedCallReportsTheMissingJobAndCompletesNobody)
{
    auto accessPoint = MakeAccessPoint();
    accessPoint->refuseWith = Common::Error(0xAD0005, u"refused", kHere);
    Handler handler;
    std::shared_ptr<Dml::AsyncRequest> request = MakeRequest(accessPoint, handler);
    request->Run();
    ASSERT_EQ(handler.recorder.calls.load(), 1);

    AsyncTest::AssertionCapture assertions;
    request->Cancel();
    EXPECT_THAT(assertions.Reports(),
                testing::ElementsAre(
                    testing::HasSubstr("Job.get(), file enterprise/common/dml/client/async_request, line 108")));
    EXPECT_EQ(handler.recorder.calls.load(), 1);
    EXPECT_THAT(handler.recorder.Last(), ErrorIs(0xAD0005));
}

TEST(AsyncRequest, ACallTakenWithoutAJobFailsInsteadOfHanging)
{
    auto accessPoint = MakeAccessPoint();
    accessPoint->withoutJob = true;
    Handler handler;
    AsyncTest::AssertionCapture assertions;
    MakeRequest(accessPoint, handler)->Run();
    EXPECT_TRUE(assertions.Saw("Job.get()", 58));
    EXPECT_EQ(handler.recorder.calls.load(), 1);
    EXPECT_THAT(handler.recorder.Last(), ErrorIs(Async::GetInvalidResultError().GetCode()));
}

TEST(NotifyHandler, NoHandlerIsNoCallAndAThrownErrorIsSwallowed)
{
    Dml::NotifyHandler(Common::Success, nullptr);
    AsyncTest::RecordingHandler throwing([](const Common::Error&) { Common::ThrowError(Common::Error(1, kHere)); });
    EXPECT_NO_THROW(Dml::NotifyHandler(Common::Success, &throwing));
    EXPECT_EQ(throwing.calls.load(), 1);
}

// A command that opens a static view: the reply is read into its own
// snapshot, and each delivered unit is recorded.
class ViewCommand final : public Dml::SmartRequestRunner
{
public:
    ViewCommand(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Async::ActionHandler& handler)
        : SmartRequestRunner(accessPoint, &handler)
    {
    }
    ~ViewCommand() override
    {
        destroying.Set();
        ReleaseRequest();
    }

    std::unique_ptr<Binding::Request> BuildRequest() override
    {
        return Dml::ViewManagement::MakeOpenStaticViewRequest(Dml::ViewSpec(), m_snapshot);
    }
    void DeliverResults() override
    {
        delivered = IpcTesting::LabelsOf(m_snapshot);
        if (throwOnDelivery)
            Common::ThrowError(Common::Error(0xFC0001, u"reader failed", kHere));
    }

    static inline Common::Event destroying{true, false};
    bool throwOnDelivery = false;
    std::vector<std::string> delivered;

private:
    Dml::ViewManagement::UnitVector m_snapshot;
};

std::shared_ptr<ScriptedAccessPoint> MakeViewAccessPoint()
{
    return std::make_shared<ScriptedAccessPoint>(
        Packet("<reply_ViewManager_OpenStaticView>" + ResultElement(Common::Success) + "<snapshot><vector><item>" +
               IpcTesting::UnitContent("a") + "</item><item>" + IpcTesting::UnitContent("b") +
               "</item></vector></snapshot></reply_ViewManager_OpenStaticView>"),
        "reply_ViewManager_OpenStaticView");
}

TEST(SmartRequestRunner, ResultsAreDeliveredBeforeTheOuterHandlerAndAThrowingDeliveryStillSucceeds)
{
    for (bool throwing : {false, true}) {
        SCOPED_TRACE(throwing ? "delivery throws" : "delivery returns");
        auto accessPoint = MakeViewAccessPoint();
        std::vector<std::string> deliveredBeforeCompletion;
        std::shared_ptr<ViewCommand> command;
        Common::Event completed(true, false);
        AsyncTest::RecordingHandler outer([&](const Common::Error&) {
            deliveredBeforeCompletion = command->delivered;
            completed.Set();
        });
        command = std::make_shared<ViewCommand>(accessPoint, outer);
        command->throwOnDelivery = throwing;
        command->Start();
        completed.Wait();
        EXPECT_EQ(outer.calls.load(), 1);
        EXPECT_THAT(outer.Last(), IsSuccessError());
        EXPECT_THAT(deliveredBeforeCompletion, testing::ElementsAre("a", "b"));
    }
}

TEST(SmartRequestRunner, AHandlerDroppingTheLastShareInsideItsCompletionIsSafe)
{
    auto accessPoint = MakeViewAccessPoint();
    Common::Event handedOver(true, false);
    accessPoint->beforeReply = [&] { handedOver.Wait(); };
    std::shared_ptr<Async::Job> job;
    Common::Event completed(true, false);
    AsyncTest::RecordingHandler outer([&](const Common::Error&) {
        job.reset(); // destroys the command and its request on the completing thread
        completed.Set();
    });
    {
        auto command = std::make_shared<ViewCommand>(accessPoint, outer);
        job = command;
        command->Start();
    }
    handedOver.Set(); // the handler's share is now the last one
    completed.Wait();
    EXPECT_EQ(outer.calls.load(), 1);
    EXPECT_FALSE(job);
}

TEST(SmartRequestRunner, DestroyingACommandInFlightWaitsForTheReplyItsFieldsReceive)
{
    auto accessPoint = MakeViewAccessPoint();
    ViewCommand::destroying.Reset();
    accessPoint->beforeReply = [] { ViewCommand::destroying.Wait(); };
    AsyncTest::RecordingHandler outer;
    auto command = std::make_shared<ViewCommand>(accessPoint, outer);
    command->Start();
    command.reset(); // blocks until the reply has been read and delivered
    EXPECT_EQ(outer.calls.load(), 1);
    EXPECT_THAT(outer.Last(), IsSuccessError());
}

} // namespace
