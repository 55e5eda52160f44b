// The subscription dispatcher, its routing and its channels, and the channeled
// post office.
#include "enterprise/common/dml/client/subscription_dispatcher.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/client/client_test_kit.h"
#include "enterprise/common/dml/client/post_office.h"
#include "enterprise/common/por/header_names.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/utils.h"
#include "testing/error_matchers.h"

namespace {

using ClientTesting::RecordingUpdateReader;
using ClientTesting::ViewManagerReply;
using ClientTesting::Waiter;
using Dml::ViewManagement::ViewUpdate;
using IpcTesting::ScriptedAccessPoint;
using testing::ElementsAre;
using Testing::ErrorIs;
using testing::HasSubstr;
using testing::IsEmpty;
using Testing::IsSuccessError;

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

// An update of channel `channel` whose Key is the String `label` (or, with
// `error`, that error) marked with `marker` when given.
ViewUpdate ChannelUpdate(const std::string& label, std::optional<uint32_t> channel, const Por::Name* marker = nullptr,
                         const Common::Error* error = nullptr)
{
    std::unique_ptr<Por::Construction::Unit> key = error ? Factory().CreateError(*error)
                                                         : Factory().CreateString(Common::FromUtf8(label.c_str()));
    if (channel)
        Por::Util::AddTrait(*key, Por::kChannelIdName, Factory().CreateDWord(*channel), Factory());
    if (marker)
        Por::Util::AddNilTrait(*key, *marker, Factory());
    ViewUpdate update;
    update.Type = 0;
    update.Key = std::shared_ptr<const Por::View::Unit>(std::move(key));
    return update;
}

// A read of a channel: its reader, handler and job.
struct ChannelRead
{
    RecordingUpdateReader reader;
    AsyncTest::RecordingHandler handler;
    std::shared_ptr<Async::Job> job;

    explicit ChannelRead(Dml::Subscription& channel) { job = channel.Read(reader, handler); }
};

// An access point that answers every "ViewManager" method with success; pulls
// wait for a cancel unless `pullsAnswer`.
struct Service
{
    std::shared_ptr<ScriptedAccessPoint> accessPoint = std::make_shared<ScriptedAccessPoint>(
        ViewManagerReply("Unsubscribe", Common::Success), "reply_ViewManager_Unsubscribe");
    Common::Event cancelAsked{true, false};

    explicit Service(uint32_t subscriberId = 4)
    {
        for (const char* method : {"RemoveInterest", "Unsubscribe", "CloseView"})
            accessPoint->ReplyTo(std::string("request_ViewManager_") + method,
                                 ViewManagerReply(method, Common::Success), std::string("reply_ViewManager_") + method);
        accessPoint->ReplyTo(
            "request_ViewManager_Subscribe",
            ViewManagerReply("Subscribe", Common::Success,
                             "<subscription><ID>" + std::to_string(subscriberId) + "</ID></subscription>"),
            "reply_ViewManager_Subscribe");
        accessPoint->ReplyTo("request_ViewManager_ReadSubscription",
                             ViewManagerReply("ReadSubscription", Common::Success,
                                              "<updates><TopicUpdates><vector/></TopicUpdates></updates>"),
                             "reply_ViewManager_ReadSubscription");
        accessPoint->onCancel = [this] { cancelAsked.Set(); };
        accessPoint->beforeAnswer = [this](const std::string& packet) {
            if (packet.find("<request_ViewManager_ReadSubscription>") != std::string::npos)
                cancelAsked.Wait();
        };
    }

    int Count(const std::string& request)
    {
        int count = 0;
        for (const std::string& packet : accessPoint->Sent())
            count += packet.find("<" + request + ">") != std::string::npos;
        return count;
    }
};

TEST(SubscriptionDispatcher, ConsecutiveUpdatesOfOneChannelArePushedTogetherWithoutTheirChannelTrait)
{
    Service service;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> five = dispatcher.CreateChannel(5);
    std::unique_ptr<Dml::Client::RemoteChannel> seven = dispatcher.CreateChannel(7);
    ChannelRead parked(*five);
    ASSERT_TRUE(parked.job);

    dispatcher.Consume({ChannelUpdate("a", 5), ChannelUpdate("b", 5), ChannelUpdate("c", 7), ChannelUpdate("d", 5)});
    EXPECT_THAT(parked.reader.Seen(), ElementsAre("0:a", "0:b")) << "the first push completed the parked read";
    EXPECT_THAT(ChannelRead(*seven).reader.Seen(), ElementsAre("0:c"));
    EXPECT_THAT(ChannelRead(*five).reader.Seen(), ElementsAre("0:d")) << "the third push was queued";

    ChannelRead another(*five);
    dispatcher.Consume({ChannelUpdate("e", 5)});
    EXPECT_THAT(another.reader.Seen(), ElementsAre("0:e"));
}

TEST(SubscriptionDispatcher, RoutedKeysHideOnlyTheChannelTrait)
{
    const ViewUpdate update = ChannelUpdate("a", 5, &Por::kTimeNowOffsetName);
    const ViewUpdate stripped = Dml::Client::RemoteSubscriptionDispatcher::StripChannelID(update);
    EXPECT_FALSE(Por::Util::HasTrait(*stripped.Key, Por::kChannelIdName));
    EXPECT_TRUE(Por::Util::HasTrait(*stripped.Key, Por::kTimeNowOffsetName));
    EXPECT_TRUE(Por::Util::HasTrait(*update.Key, Por::kChannelIdName));
    EXPECT_EQ(Dml::Client::RemoteSubscriptionDispatcher::GetChannelID(update), 5u);
}

TEST(SubscriptionDispatcher, UpdatesWithoutAnUnsignedChannelGoToInterestZeroAndKeylessOnesAreSkipped)
{
    Service service;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> zero = dispatcher.CreateChannel(0);
    ViewUpdate keyless;
    keyless.Type = 0;
    ViewUpdate signedChannel = ChannelUpdate("s", std::nullopt);
    {
        std::unique_ptr<Por::Construction::Unit> key = Factory().CreateString(u"s");
        Por::Util::AddTrait(*key, Por::kChannelIdName, Factory().CreateSDWord(5), Factory());
        signedChannel.Key = std::shared_ptr<const Por::View::Unit>(std::move(key));
    }
    dispatcher.Consume({keyless, ChannelUpdate("none", std::nullopt), keyless, signedChannel});
    EXPECT_THAT(ChannelRead(*zero).reader.Seen(), ElementsAre("0:none", "0:s"));
}

TEST(SubscriptionDispatcher, ChannelMarkersFailOrRemoveTheTopicAndCreationIsNeverDelivered)
{
    const Common::Error carried(0xFC0044, u"topic broke", Common::NoLocation);
    Service service;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> seven = dispatcher.CreateChannel(7);
    std::unique_ptr<Dml::Client::RemoteChannel> eight = dispatcher.CreateChannel(8);

    // Error after two updates of the same run: both discarded, the topic failed.
    dispatcher.Consume({ChannelUpdate("x", 8, &Por::kChannelCreationName), ChannelUpdate("a", 7), ChannelUpdate("b", 7),
                        ChannelUpdate("", 7, &Por::kChannelErrorName, &carried)});
    ChannelRead failed(*seven);
    EXPECT_THAT(failed.handler.Last(), ErrorIs(0xFC0044));
    EXPECT_THAT(failed.reader.Seen(), IsEmpty());
    EXPECT_EQ(service.Count("request_ViewManager_RemoveInterest"), 1) << "a failed read removes the interest";
    ChannelRead created(*eight);
    EXPECT_TRUE(created.job) << "the creation update was not delivered";
    created.job->Cancel();

    // Removal without an error: the parked read ends with success, and the
    // topic's later updates go to a cache no channel takes.
    Service removal;
    Dml::Client::RemoteSubscriptionDispatcher other(removal.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> channel = other.CreateChannel(7);
    ChannelRead parked(*channel);
    other.Consume({ChannelUpdate("a", 7), ChannelUpdate("", 7, &Por::kChannelRemovalName)});
    EXPECT_THAT(parked.handler.Last(), IsSuccessError());
    EXPECT_THAT(parked.reader.Seen(), IsEmpty());
    ChannelRead later(*channel);
    other.Consume({ChannelUpdate("b", 7)});
    EXPECT_EQ(later.handler.calls.load(), 0);
    later.job->Cancel();
    EXPECT_THAT(later.handler.Last(), ErrorIs(0xF90002));
}

TEST(SubscriptionDispatcher, UpdatesBeforeTheChannelReachItsFirstRead)
{
    Service service;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    dispatcher.Consume({ChannelUpdate("a", 9), ChannelUpdate("b", 9)});
    std::unique_ptr<Dml::Client::RemoteChannel> nine = dispatcher.CreateChannel(9);
    ChannelRead read(*nine);
    EXPECT_THAT(read.reader.Seen(), ElementsAre("0:a", "0:b"));
    EXPECT_THAT(read.handler.Last(), IsSuccessError());
}

TEST(SubscriptionDispatcher, ASecondChannelOfAnOwnedTopicFailsAtOnceAndNeverRemovesTheInterest)
{
    Service service;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> first = dispatcher.CreateChannel(5);
    {
        std::unique_ptr<Dml::Client::RemoteChannel> second = dispatcher.CreateChannel(5);
        ChannelRead read(*second);
        EXPECT_FALSE(read.job);
        EXPECT_THAT(
            read.handler.Last(),
            testing::AllOf(ErrorIs(0xFC000C), Testing::HasText(u"DML: Another channel already reads this topic.")));
    }
    EXPECT_EQ(service.Count("request_ViewManager_RemoveInterest"), 0);
    dispatcher.Consume({ChannelUpdate("a", 5)});
    EXPECT_THAT(ChannelRead(*first).reader.Seen(), ElementsAre("0:a")) << "the first channel still owns the topic";
}

TEST(RemoteChannel, OverlappingAndCancelledReadsRemoveTheInterest)
{
    Service service;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> channel = dispatcher.CreateChannel(5);
    ChannelRead parked(*channel);
    ChannelRead overlapping(*channel);
    EXPECT_THAT(overlapping.handler.Last(), ErrorIs(0xFC000C));
    EXPECT_EQ(service.Count("request_ViewManager_RemoveInterest"), 1);
    parked.job->Cancel();
    EXPECT_THAT(parked.handler.Last(), ErrorIs(0xF90002));
    EXPECT_EQ(service.Count("request_ViewManager_RemoveInterest"), 2);
    EXPECT_THAT(service.accessPoint->Sent().back(),
                HasSubstr("<topic><Subscriber>0</Subscriber><Interest>5</Interest></topic>"));
}

TEST(RemoteChannel, DestroyingAChannelWithAParkedReadRemovesTheInterestOnce)
{
    Service service;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> channel = dispatcher.CreateChannel(5);
    ChannelRead parked(*channel);
    channel.reset();
    EXPECT_EQ(parked.handler.calls.load(), 1);
    EXPECT_THAT(parked.handler.Last(), ErrorIs(0xF90002));
    EXPECT_EQ(service.Count("request_ViewManager_RemoveInterest"), 1);
    parked.job->Cancel();
    EXPECT_EQ(parked.handler.calls.load(), 1);
}

TEST(SubscriptionDispatcher, SubscribesOnceAndDestructionFailsTheChannelsWithTheCancelledPull)
{
    Service service;
    ChannelRead* parked = nullptr;
    std::unique_ptr<Dml::Client::RemoteChannel> channel;
    {
        Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
        ASSERT_THAT(dispatcher.Subscribe(), IsSuccessError());
        ASSERT_THAT(dispatcher.Subscribe(), IsSuccessError());
        EXPECT_EQ(dispatcher.GetSubscriberID(), 4u);
        channel = dispatcher.CreateChannel(5);
        parked = new ChannelRead(*channel);
        ASSERT_TRUE(parked->job);
    }
    EXPECT_EQ(parked->handler.calls.load(), 1);
    EXPECT_THAT(parked->handler.Last(), ErrorIs(0xF90002));
    EXPECT_EQ(service.Count("request_ViewManager_Subscribe"), 1);
    EXPECT_THAT(service.accessPoint->Sent().back(),
                HasSubstr("<request_ViewManager_Unsubscribe><subscriber>4</subscriber>"));
    delete parked;
}

TEST(SubscriptionDispatcher, AFailedPullIsKeptAndEverySubscribeReturnsIt)
{
    Service service;
    service.accessPoint->ReplyTo(
        "request_ViewManager_ReadSubscription",
        ViewManagerReply("ReadSubscription", Common::Error(0xFC0017, u"subscription lost", Common::NoLocation)),
        "reply_ViewManager_ReadSubscription");
    service.accessPoint->beforeAnswer = nullptr;
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    std::unique_ptr<Dml::Client::RemoteChannel> channel = dispatcher.CreateChannel(5);
    Waiter waiter;
    RecordingUpdateReader reader;
    std::shared_ptr<Async::Job> job = channel->Read(reader, waiter.handler);
    ASSERT_THAT(dispatcher.Subscribe(), IsSuccessError());
    waiter.completed.Wait();
    EXPECT_THAT(waiter.handler.Last(), ErrorIs(0xFC0017));
    EXPECT_THAT(dispatcher.Subscribe(), ErrorIs(0xFC0017));
    EXPECT_THAT(dispatcher.Subscribe(), ErrorIs(0xFC0017));
    EXPECT_EQ(service.Count("request_ViewManager_Subscribe"), 1);
}

TEST(SubscriptionDispatcher, ASubscriptionWithoutAnIdIsAFailureAndNothingIsKept)
{
    Service service(0);
    Dml::Client::RemoteSubscriptionDispatcher dispatcher(service.accessPoint);
    EXPECT_THAT(
        dispatcher.Subscribe(),
        testing::AllOf(ErrorIs(0xFC0032),
                       Testing::HasText(u"DML: The service answered the subscription without a subscriber ID.")));
    EXPECT_EQ(dispatcher.GetSubscriberID(), 0u);
    EXPECT_THAT(dispatcher.Subscribe(), ErrorIs(0xFC0032)) << "a later Subscribe asks again";
    EXPECT_EQ(service.Count("request_ViewManager_Subscribe"), 2);
    EXPECT_EQ(service.Count("request_ViewManager_ReadSubscription"), 0) << "no cycle started";
}

TEST(ChanneledRemotePostOffice, TwoDynamicViewsShareOneSubscription)
{
    Service service;
    service.accessPoint->ReplyTo(
        "request_ViewManager_AddInterest",
        ViewManagerReply("AddInterest", Common::Success,
                         "<topic><ID><Subscriber>4</Subscriber><Interest>11</Interest></ID><Content><vector><item>" +
                             IpcTesting::UnitContent("first") + "</item></vector></Content></topic>"),
        "reply_ViewManager_AddInterest");
    struct Reader final : Dml::ReportReader
    {
        using Dml::ReportReader::Read;
        void Read(const Por::View::Unit&) override { ++units; }
        std::atomic<int> units{0};
    };
    auto reader = std::make_shared<Reader>();
    std::unique_ptr<Dml::Subscription> first;
    std::unique_ptr<Dml::Subscription> second;
    {
        Dml::Client::ChanneledRemotePostOffice postOffice(service.accessPoint);
        for (std::unique_ptr<Dml::Subscription>* holder : {&first, &second}) {
            Waiter waiter;
            std::shared_ptr<Async::Job> job = postOffice.OpenDynamicView(
                Core::EntryPoint(Common::SourceFile("test").At("T", 1)), Dml::ViewSpec(), reader, *holder,
                waiter.handler);
            waiter.completed.Wait();
            EXPECT_THAT(waiter.handler.Last(), IsSuccessError());
            EXPECT_TRUE(*holder);
        }
        EXPECT_EQ(postOffice.GetDispatcher(), postOffice.GetDispatcher());
        EXPECT_EQ(service.Count("request_ViewManager_Subscribe"), 1);
        EXPECT_EQ(service.Count("request_ViewManager_AddInterest"), 2);
        for (const std::string& packet : service.accessPoint->Sent()) {
            if (packet.find("<request_ViewManager_AddInterest>") != std::string::npos) {
                EXPECT_THAT(packet, HasSubstr("<spec><Subscription>4</Subscription>"));
            }
        }
        EXPECT_EQ(reader->units.load(), 2);
        first.reset();
        second.reset();
    }
    EXPECT_EQ(service.Count("request_ViewManager_Unsubscribe"), 1);
}

TEST(ChanneledRemotePostOfficeThreads, ConcurrentViewsReadsAndPushesKeepTheLockOrder)
{
    Service service;
    service.accessPoint->ReplyTo(
        "request_ViewManager_AddInterest",
        ViewManagerReply(
            "AddInterest", Common::Success,
            "<topic><ID><Subscriber>4</Subscriber><Interest>3</Interest></ID><Content><vector/></Content></topic>"),
        "reply_ViewManager_AddInterest");
    Dml::Client::ChanneledRemotePostOffice postOffice(service.accessPoint);
    const std::shared_ptr<Dml::Client::RemoteSubscriptionDispatcher> dispatcher = postOffice.GetDispatcher();
    struct Reader final : Dml::ReportReader
    {
        void Read(const Por::View::Unit&) override {}
    };
    auto reader = std::make_shared<Reader>();
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                std::unique_ptr<Dml::Subscription> holder;
                Waiter waiter;
                std::shared_ptr<Async::Job> job = postOffice.OpenDynamicView(
                    Core::EntryPoint(Common::SourceFile("test").At("T", 1)), Dml::ViewSpec(), reader, holder,
                    waiter.handler);
                waiter.completed.Wait();
                if (holder) {
                    RecordingUpdateReader updates;
                    AsyncTest::RecordingHandler handler;
                    std::shared_ptr<Async::Job> read = holder->Read(updates, handler);
                    if (read)
                        read->Cancel();
                }
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i)
            dispatcher->Consume({ChannelUpdate("u", 3), ChannelUpdate("v", i % 2 ? 3 : 4)});
    });
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace
