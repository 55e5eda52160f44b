#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/local_transport.h"
#include "service/service_test_support.h"
#include "testing/error_matchers.h"

namespace {

TEST(LocalPlug, ProgramThatLinksTheServiceHasItAsTheLocalPeer)
{
    Ipc::PacketHandler* handler = Ipc::GetLocalHandler();
    ASSERT_NE(handler, nullptr);
    Ipc::LocalTransport transport(*handler, Ipc::CallContext{"", 46});
    Ipc::Bytes reply;
    EXPECT_THAT(transport.Exchange(ServiceTesting::B("<request/>"), reply), Testing::ErrorIs(Ipc::kNotSupported));
}

} // namespace
