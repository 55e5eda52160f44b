// Running a request synchronously over an access point.

#include "enterprise/common/ipc/execute_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/ipc/request_impl.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "platform/ipc/binding_errors.h"
#include "testing/error_matchers.h"

namespace {

using IpcTesting::Packet;
using IpcTesting::ScriptedAccessPoint;
using Testing::ErrorIs;

const Common::Error kPeerFailure(0xFC0017, u"peer", Common::SourceFile("test").At("Peer", 1));

std::unique_ptr<Binding::Request> Request(uint32_t& inOut)
{
    return Binding::Detail::BuildRequest<void(uint32_t&)>(Binding::MethodIdentity(900, 1, "I", "M", 1, 1), {"v"},
                                                          inOut);
}

TEST(ExecuteRequest, RunsTheCallAndFillsTheResults)
{
    ScriptedAccessPoint accessPoint(Packet("<reply_I_M><result></result><v>9</v></reply_I_M>"), "reply_I_M");
    uint32_t value = 1;
    std::unique_ptr<Binding::Request> request = Request(value);
    EXPECT_THAT(Binding::ExecuteRequest(accessPoint, request), Testing::IsSuccessError());
    EXPECT_EQ(request, nullptr);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(accessPoint.sentPacket, Packet("<request_I_M><v>1</v></request_I_M>"));
}

TEST(ExecuteRequest, ReturnsTheCallsResult)
{
    ScriptedAccessPoint accessPoint(Packet("<reply_I_M>" + IpcTesting::ResultElement(kPeerFailure) + "</reply_I_M>"),
                                    "reply_I_M");
    uint32_t value = 1;
    std::unique_ptr<Binding::Request> request = Request(value);
    EXPECT_THAT(Binding::ExecuteRequest(accessPoint, request), ErrorIs(0xFC0017));
    EXPECT_EQ(request, nullptr);
    EXPECT_EQ(value, 1u);
}

TEST(ExecuteRequest, ARefusedCallIsReturnedAndTheRequestDeleted)
{
    ScriptedAccessPoint accessPoint(Packet(""), "reply_I_M");
    accessPoint.refuseWith = kPeerFailure;
    uint32_t value = 1;
    std::unique_ptr<Binding::Request> request = Request(value);
    EXPECT_THAT(Binding::ExecuteRequest(accessPoint, request), ErrorIs(0xFC0017));
    EXPECT_EQ(request, nullptr);
    EXPECT_EQ(accessPoint.calls, 1);
}

TEST(ExecuteRequest, AnAcceptedCallWithoutAJobIsAFailure)
{
    ScriptedAccessPoint accessPoint(Packet(""), "reply_I_M");
    accessPoint.withoutJob = true;
    uint32_t value = 1;
    std::unique_ptr<Binding::Request> request = Request(value);
    EXPECT_THAT(Binding::ExecuteRequest(accessPoint, request),
                ::testing::AllOf(ErrorIs(BindingErrors::kNoCallJob),
                                 Testing::HasText(u"IPC: The access point accepted the call but gave no call job.")));
    EXPECT_EQ(request, nullptr);
}

} // namespace
