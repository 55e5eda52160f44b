#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/local_transport.h"
#include "service/request_packets_test_support.h"
#include "testing/error_matchers.h"

namespace {

TEST(LocalPlug, ProgramThatLinksTheServiceHasItAsTheLocalPeer)
{
    Ipc::PacketHandler* handler = Ipc::GetLocalHandler();
    ASSERT_NE(handler, nullptr);
    Ipc::LocalTransport transport(*handler, Ipc::CallContext{"", 46});
    Ipc::Bytes reply;
    ASSERT_THAT(transport.Exchange(ServiceTesting::RequestPacket("ViewManager", "CloseView", {}), reply),
                Testing::IsSuccessError());
    EXPECT_THAT(ServiceTesting::ReadReply(reply, "ViewManager", "CloseView").result,
                Testing::ErrorIs(Ipc::kNotSupported));
}

} // namespace
