// The standalone remote subscription over a scripted access point.
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/client/client_test_kit.h"
#include "enterprise/common/dml/client/remote_subscription.h"
#include "testing/error_matchers.h"

namespace {

using ClientTesting::QueueViewManagerReply;
using ClientTesting::RecordingUpdateReader;
using ClientTesting::UpdateItems;
using ClientTesting::ViewManagerReply;
using ClientTesting::Waiter;
using IpcTesting::ScriptedAccessPoint;
using testing::ElementsAre;
using Testing::ErrorIs;
using testing::HasSubstr;
using testing::IsEmpty;
using Testing::IsSuccessError;
using testing::SizeIs;

const std::string kCloseView = "<request_ViewManager_CloseView><viewID>42</viewID></request_ViewManager_CloseView>";

// An access point whose unqueued calls answer "CloseView" with success.
std::shared_ptr<ScriptedAccessPoint> MakeAccessPoint()
{
    return std::make_shared<ScriptedAccessPoint>(ViewManagerReply("CloseView", Common::Success),
                                                 "reply_ViewManager_CloseView");
}

TEST(StandaloneRemoteSubscription, AReadDeliversTheUpdatesOfItsTypesAndSucceeds)
{
    auto accessPoint = MakeAccessPoint();
    QueueViewManagerReply(*accessPoint, "AcquireUpdates", Common::Success,
                          "<updates>" + UpdateItems({"a"}, 2) + "</updates>");
    QueueViewManagerReply(*accessPoint, "AcquireUpdates", Common::Success, "<updates><vector/></updates>");
    RecordingUpdateReader reader;
    {
        Dml::Client::StandaloneRemoteSubscription subscription(accessPoint, 42);
        for (int read = 0; read < 2; ++read) {
            Waiter waiter;
            std::shared_ptr<Async::Job> job = subscription.Read(reader, waiter.handler);
            waiter.completed.Wait();
            EXPECT_THAT(waiter.handler.Last(), IsSuccessError());
        }
        EXPECT_THAT(reader.Seen(), ElementsAre("2:a")) << "the empty second reply calls the reader never";
        const std::vector<std::string> sent = accessPoint->Sent();
        ASSERT_THAT(sent, SizeIs(2));
        EXPECT_THAT(sent[0], HasSubstr("<request_ViewManager_AcquireUpdates><viewID>42</viewID>"));
    }
    EXPECT_THAT(accessPoint->Sent().back(), HasSubstr(kCloseView)) << "destruction closes the view";
}

TEST(StandaloneRemoteSubscription, AFailedReadClosesTheViewBeforeTheHandlerCompletes)
{
    auto accessPoint = MakeAccessPoint();
    QueueViewManagerReply(*accessPoint, "AcquireUpdates", Common::Error(0xFC0017, u"no view", Common::NoLocation));
    RecordingUpdateReader reader;
    std::vector<std::string> sentAtCompletion;
    Common::Event completed(true, false);
    AsyncTest::RecordingHandler handler([&](const Common::Error&) {
        sentAtCompletion = accessPoint->Sent();
        completed.Set();
    });
    {
        Dml::Client::StandaloneRemoteSubscription subscription(accessPoint, 42);
        std::shared_ptr<Async::Job> job = subscription.Read(reader, handler);
        completed.Wait();
        EXPECT_THAT(handler.Last(), ErrorIs(0xFC0017));
        EXPECT_THAT(reader.Seen(), IsEmpty());
        ASSERT_THAT(sentAtCompletion, SizeIs(2));
        EXPECT_THAT(sentAtCompletion[1], HasSubstr(kCloseView));
    }
    const std::vector<std::string> sent = accessPoint->Sent();
    ASSERT_THAT(sent, SizeIs(3)) << "destruction closes the view again";
    EXPECT_THAT(sent[2], HasSubstr(kCloseView));
}

TEST(StandaloneRemoteSubscription, ACancelledReadClosesTheViewAndCompletesAsCanceled)
{
    auto accessPoint = MakeAccessPoint();
    QueueViewManagerReply(*accessPoint, "AcquireUpdates", Common::Success,
                          "<updates>" + UpdateItems({"a"}) + "</updates>");
    Common::Event cancelAsked(true, false);
    accessPoint->onCancel = [&] { cancelAsked.Set(); };
    accessPoint->beforeReply = [&] { cancelAsked.Wait(); };
    RecordingUpdateReader reader;
    Dml::Client::StandaloneRemoteSubscription subscription(accessPoint, 42);
    AsyncTest::RecordingHandler handler;
    std::shared_ptr<Async::Job> job = subscription.Read(reader, handler);
    job->Cancel();
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), ErrorIs(0xF90002));
    EXPECT_THAT(reader.Seen(), IsEmpty());
    const std::vector<std::string> sent = accessPoint->Sent();
    ASSERT_THAT(sent, SizeIs(2));
    EXPECT_THAT(sent[1], HasSubstr(kCloseView));
}

} // namespace
