#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/local_transport.h"
#include "service/request_packets_test_support.h"
#include "service/service_test_support.h"
#include "service/store_location.h"
#include "testing/error_matchers.h"

namespace {

using Testing::IsSuccessError;

using ServiceTesting::LocalStoreFolder;

TEST(LocalPlug, ProgramThatLinksTheServiceHasItAsTheLocalPeer)
{
    Ipc::PacketHandler* handler = Ipc::GetLocalHandler();
    ASSERT_NE(handler, nullptr);
    Ipc::LocalTransport transport(*handler, Ipc::CallContext{"", 46});
    Ipc::Bytes reply;
    ASSERT_THAT(transport.Exchange(ServiceTesting::RequestPacket("ViewManager", "CloseView", {}), reply),
                IsSuccessError());
    EXPECT_THAT(ServiceTesting::ReadReply(reply, "ViewManager", "CloseView").result,
                Testing::ErrorIs(Ipc::kNotSupported));
}

TEST(LocalPlug, TheLocalPeerServesTheStoreAtTheLocalPath)
{
    ASSERT_FALSE(LocalStoreFolder().empty());
    Ipc::LocalTransport transport(*Ipc::GetLocalHandler(), Ipc::CallContext{"", 46});
    Ipc::Bytes reply;
    ASSERT_THAT(transport.Exchange(ServiceTesting::RequestPacket("ObjectManager", "RegisterObject",
                                                                 {{"object", ServiceTesting::MakeObject(1, u"local")}}),
                                   reply),
                IsSuccessError());
    EXPECT_THAT(ServiceTesting::ReadReply(reply, "ObjectManager", "RegisterObject").result, IsSuccessError());
    struct stat status
    {
    };
    EXPECT_EQ(stat((LocalStoreFolder() + "/" + Service::kStoreFileName).c_str(), &status), 0);
    ASSERT_THAT(transport.Exchange(ServiceTesting::ViewPacket(ServiceTesting::KeyPattern(1), nullptr), reply),
                IsSuccessError());
    EXPECT_EQ(ServiceTesting::ReadReply(reply, "ViewManager", "OpenStaticView").snapshot.size(), 1u);
}

} // namespace
