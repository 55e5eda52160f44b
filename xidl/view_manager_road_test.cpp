// The "ViewManager" proxy over the IPC stand-in's local road: the packet that
// a peer service receives and the reply it answers with.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "enterprise/common/ipc/connection.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"
#include "platform/ipc/packet_handler.h"
#include "testing/error_matchers.h"
#include "xidl/view_manager.h"

namespace {

using IpcTesting::LabelsOf;
using IpcTesting::Packet;
using namespace Dml::ViewManagement;

// Answers every request with one scripted reply and keeps what it received.
class ScriptedPeer final : public Ipc::PacketHandler
{
public:
    explicit ScriptedPeer(std::string reply) : m_reply(std::move(reply)) {}

    Common::Error Handle(const Ipc::CallContext&, Ipc::ByteView request, Ipc::Bytes& reply) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_received.assign(request.begin(), request.end());
        reply.assign(m_reply.begin(), m_reply.end());
        return Common::Success;
    }

    std::string Received()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_received;
    }

private:
    std::mutex m_lock;
    std::string m_reply;
    std::string m_received;
};

class ViewManagerRoad : public ::testing::Test
{
protected:
    void Connect(ScriptedPeer& peer)
    {
        Ipc::RegisterLocalHandler(&peer);
        ASSERT_THAT(Binding::OpenLocalAccessPoint(46, accessPoint), Testing::IsSuccessError());
    }
    ~ViewManagerRoad() override
    {
        accessPoint.reset();
        Ipc::RegisterLocalHandler(nullptr);
    }

    std::shared_ptr<Binding::AccessPoint> accessPoint;
};

TEST_F(ViewManagerRoad, OpenStaticViewSendsTheRequestPacketAndFillsTheSnapshot)
{
    ScriptedPeer peer(Packet("<reply_ViewManager_OpenStaticView><result></result><snapshot><vector>"
                             "<item><is_empty>0</is_empty><value>VQ0CAAAAYQBF</value></item>"
                             "<item><is_empty>1</is_empty></item>"
                             "</vector></snapshot></reply_ViewManager_OpenStaticView>"));
    Connect(peer);
    ViewManager_Proxy proxy(accessPoint);
    UnitVector snapshot{IpcTesting::Unit("old")};
    EXPECT_THAT(proxy.OpenStaticView(Dml::ViewSpec(), snapshot), Testing::IsSuccessError());
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("a", "(null)"));
    EXPECT_EQ(peer.Received(),
              "\xEF\xBB\xBF<XML_SERIALIZER><request_ViewManager_OpenStaticView><specification>"
              "<Pattern><is_empty>1</is_empty></Pattern><Options><is_empty>1</is_empty></Options>"
              "</specification><snapshot><vector><item><is_empty>0</is_empty><value>VQ0GAAAAbwBsAGQARQ==</value>"
              "</item></vector></snapshot></request_ViewManager_OpenStaticView></XML_SERIALIZER>");
}

TEST_F(ViewManagerRoad, CloseViewReturnsThePeersFailureUnchanged)
{
    const Common::Error failure(0xFC0017, u"view 5 is not open", Common::SourceFile("service").At("CloseView", 88));
    ScriptedPeer peer(Packet("<reply_ViewManager_CloseView>" + IpcTesting::ResultElement(failure) +
                             "</reply_ViewManager_CloseView>"));
    Connect(peer);
    ViewManager_Proxy proxy(accessPoint);
    EXPECT_THAT(proxy.CloseView(5),
                ::testing::AllOf(Testing::ErrorIs(0xFC0017), Testing::HasText(u"view 5 is not open"),
                                 Testing::RaisedAt("service", "CloseView", 88)));
}

} // namespace
