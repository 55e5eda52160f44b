// The "ViewManager" stubs: the method table, identities, packets, the
// synchronous proxy over an access point, and the binary order of the
// interface.

#include "xidl/view_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/component_info_errors.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using IpcTesting::Content;
using IpcTesting::LabelsOf;
using IpcTesting::Packet;
using IpcTesting::ReadReply;
using IpcTesting::ScriptedAccessPoint;
using IpcTesting::Unit;
using IpcTesting::WrittenPacket;
using Testing::ErrorIs;
using namespace Dml::ViewManagement;

const char* const kFile = "enterprise/management_server/test/connectivity/xidl/dml_view_common";
const std::string kOk = "<result></result>";
const std::string kNoUnit = "<is_empty>1</is_empty>";

std::string Item(const std::string& label)
{
    return "<item>" + IpcTesting::UnitContent(label) + "</item>";
}

TEST(ViewManagerInfo, IsRegisteredBeforeMainAndAnswersItsTable)
{
    Core::ComponentInfo& info = GetViewManagerComponentInfo();
    EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(271), &info);
    EXPECT_EQ(info.GetComponentId(), 271);
    EXPECT_EQ(info.GetInterfaceVersion(), 2);
    EXPECT_EQ(info.GetReserved1() + info.GetReserved2() + info.GetReserved3(), 3);
    for (unsigned index = 1; index <= 9; ++index) {
        uint64_t word = 0;
        EXPECT_THAT(info.GetMethodInfo(index, &word), Testing::IsSuccessError());
        EXPECT_EQ(word, 0x0000000200000000ull);
    }
    for (unsigned index : {0u, 10u}) {
        uint64_t word = 77;
        EXPECT_THAT(info.GetMethodInfo(index, &word),
                    ::testing::AllOf(ErrorIs(ComponentInfoErrors::kInvalidMethodIndex),
                                     Testing::RaisedAt(kFile, "GetMethodInfo", 220),
                                     Testing::HasLineTag(0x276149E63703E805ull)));
        EXPECT_EQ(word, 77u);
    }
}

TEST(ViewManagerSlots, InterfaceKeepsItsTableOrder)
{
    using Testing::VirtualSlot;
    EXPECT_EQ(Testing::SlotOrderMismatches({
                  {"~ViewManager", Testing::kDestructorPair},
                  {"OpenDynamicView", VirtualSlot(&ViewManager::OpenDynamicView)},
                  {"OpenStaticView", VirtualSlot(&ViewManager::OpenStaticView)},
                  {"AcquireUpdates", VirtualSlot(&ViewManager::AcquireUpdates)},
                  {"CloseView", VirtualSlot(&ViewManager::CloseView)},
                  {"Subscribe", VirtualSlot(&ViewManager::Subscribe)},
                  {"AddInterest", VirtualSlot(&ViewManager::AddInterest)},
                  {"ReadSubscription", VirtualSlot(&ViewManager::ReadSubscription)},
                  {"RemoveInterest", VirtualSlot(&ViewManager::RemoveInterest)},
                  {"Unsubscribe", VirtualSlot(&ViewManager::Unsubscribe)},
              }),
              "");
    EXPECT_EQ(Testing::TableSize<ViewManager>(), 11u);
}

TEST(ViewManagerRequests, CarryTheirIdentityAndWriteTheirArguments)
{
    const Dml::ViewSpec spec;
    unsigned int viewId = 12;
    UnitVector snapshot;
    std::vector<ViewUpdate> updates;
    Subscription subscription{4};
    Topic topic;
    SubscriptionContent content;
    struct Case
    {
        std::unique_ptr<Binding::Request> request;
        int index;
        uint64_t since;
        std::string method;
        std::string arguments;
    } cases[] = {
        {MakeOpenDynamicViewRequest(spec, viewId, snapshot), 1, 1, "OpenDynamicView",
         "<specification><Pattern>" + kNoUnit + "</Pattern><Options>" + kNoUnit +
             "</Options></specification><viewID>12</viewID><snapshot><vector></vector></snapshot>"},
        {MakeOpenStaticViewRequest(spec, snapshot), 2, 1, "OpenStaticView",
         "<specification><Pattern>" + kNoUnit + "</Pattern><Options>" + kNoUnit +
             "</Options></specification><snapshot><vector></vector></snapshot>"},
        {MakeAcquireUpdatesRequest(12, updates), 3, 1, "AcquireUpdates",
         "<viewID>12</viewID><updates><vector></vector></updates>"},
        {MakeCloseViewRequest(12), 4, 1, "CloseView", "<viewID>12</viewID>"},
        {MakeSubscribeRequest(SubscriptionSpec(), subscription), 5, 2, "Subscribe",
         "<spec></spec><subscription><ID>4</ID></subscription>"},
        {MakeAddInterestRequest(TopicSpec(), topic), 6, 2, "AddInterest", ""},
        {MakeReadSubscriptionRequest(8, content), 7, 2, "ReadSubscription",
         "<subscriber>8</subscriber><updates><TopicUpdates><vector></vector></TopicUpdates></updates>"},
        {MakeRemoveInterestRequest(TopicID{1, 2}), 8, 2, "RemoveInterest",
         "<topic><Subscriber>1</Subscriber><Interest>2</Interest></topic>"},
        {MakeUnsubscribeRequest(8), 9, 2, "Unsubscribe", "<subscriber>8</subscriber>"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.method);
        ASSERT_TRUE(c.request);
        EXPECT_EQ(c.request->GetComponentId(), 271);
        EXPECT_EQ(c.request->GetMethodIndex(), c.index);
        EXPECT_EQ(c.request->GetInterfaceVersion(), 2u);
        EXPECT_EQ(c.request->GetTargetVersion(), -1);
        if (!c.arguments.empty()) {
            EXPECT_EQ(Content(WrittenPacket(*c.request)),
                      "<request_ViewManager_" + c.method + ">" + c.arguments + "</request_ViewManager_" + c.method +
                          ">");
        }
    }
}

TEST(ViewManagerReplies, OpenDynamicViewReadsViewIdAndOnlyTheReplysSnapshot)
{
    const Dml::ViewSpec spec;
    unsigned int viewId = 12;
    UnitVector snapshot{Unit("old")};
    auto request = MakeOpenDynamicViewRequest(spec, viewId, snapshot);
    ReadReply(*request,
              Packet("<reply_ViewManager_OpenDynamicView>" + kOk + "<viewID>31</viewID><snapshot><vector>" + Item("a") +
                     Item("b") + "<other/>" + Item("c") + "</vector></snapshot></reply_ViewManager_OpenDynamicView>"));
    EXPECT_EQ(viewId, 31u);
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("a", "b"));
}

TEST(ViewManagerReplies, WithoutViewIdTheSnapshotIsNotReadEither)
{
    const Dml::ViewSpec spec;
    unsigned int viewId = 12;
    UnitVector snapshot{Unit("old")};
    auto request = MakeOpenDynamicViewRequest(spec, viewId, snapshot);
    ReadReply(*request,
              Packet("<reply_ViewManager_OpenDynamicView>" + kOk + "<snapshot><vector>" + Item("a") +
                     "</vector></snapshot></reply_ViewManager_OpenDynamicView>"));
    EXPECT_EQ(viewId, 12u);
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("old"));
}

TEST(ViewManagerProxy, SynchronousCallsFillTheirOutParameters)
{
    auto accessPoint = std::make_shared<ScriptedAccessPoint>(
        Packet("<reply_ViewManager_OpenStaticView>" + kOk + "<snapshot><vector>" + Item("a") + Item("b") +
               "</vector></snapshot></reply_ViewManager_OpenStaticView>"),
        "reply_ViewManager_OpenStaticView");
    ViewManager_Proxy proxy(accessPoint);
    UnitVector snapshot;
    EXPECT_THAT(proxy.OpenStaticView(Dml::ViewSpec(), snapshot), Testing::IsSuccessError());
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("a", "b"));
    EXPECT_EQ(accessPoint->sentPacket,
              Packet("<request_ViewManager_OpenStaticView><specification><Pattern>" + kNoUnit + "</Pattern><Options>" +
                     kNoUnit +
                     "</Options></specification><snapshot><vector></vector></snapshot>"
                     "</request_ViewManager_OpenStaticView>"));

    auto subscribePeer = std::make_shared<ScriptedAccessPoint>(Packet("<reply_ViewManager_Subscribe>" + kOk +
                                                                      "<subscription><ID>17</ID></subscription>"
                                                                      "</reply_ViewManager_Subscribe>"),
                                                               "reply_ViewManager_Subscribe");
    ViewManager_Proxy subscribeProxy(subscribePeer);
    Subscription subscription;
    EXPECT_THAT(subscribeProxy.Subscribe(SubscriptionSpec(), subscription), Testing::IsSuccessError());
    EXPECT_EQ(subscription.ID, 17u);
}

TEST(ViewManagerProxy, CloseViewReturnsThePeersFailureUnchanged)
{
    const Common::Error failure(0xFC0017, u"no such view", Common::SourceFile("peer").At("CloseView", 9));
    auto accessPoint = std::make_shared<ScriptedAccessPoint>(
        Packet("<reply_ViewManager_CloseView>" + IpcTesting::ResultElement(failure) + "</reply_ViewManager_CloseView>"),
        "reply_ViewManager_CloseView");
    ViewManager_Proxy proxy(accessPoint);
    const Common::Error result = proxy.CloseView(5);
    EXPECT_THAT(result,
                ::testing::AllOf(ErrorIs(0xFC0017), Testing::HasText(u"no such view"),
                                 Testing::RaisedAt("peer", "CloseView", 9)));
    EXPECT_EQ(accessPoint->sentPacket,
              Packet("<request_ViewManager_CloseView><viewID>5</viewID></request_ViewManager_CloseView>"));
}

} // namespace
