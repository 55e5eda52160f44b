// The request interface and the IPC client interfaces are called through
// their virtual tables by the closed library: each table below is written in
// its binary order.

#include <gtest/gtest.h>

#include "enterprise/common/ipc/request_base.h"
#include "platform/ipc/binding.h"
#include "testing/vtable_slot.h"

namespace {

using Testing::kDestructorPair;
using Testing::SlotOrderMismatches;
using Testing::TableSize;
using Testing::VirtualSlot;

TEST(RequestInterfaceSlots, RequestKeepsItsTableOrder)
{
    using Binding::Request;
    EXPECT_EQ(SlotOrderMismatches({
                  {"~Request", kDestructorPair},
                  {"Cast", VirtualSlot(&Request::Cast)},
                  {"SetProperty", VirtualSlot(&Request::SetProperty)},
                  {"GetTargetVersion", VirtualSlot(&Request::GetTargetVersion)},
                  {"GetComponentId", VirtualSlot(&Request::GetComponentId)},
                  {"GetMethodIndex", VirtualSlot(&Request::GetMethodIndex)},
                  {"CreatePacketReader", VirtualSlot(&Request::CreatePacketReader)},
                  {"GetProperties", VirtualSlot(&Request::GetProperties)},
                  {"GetInterfaceVersion", VirtualSlot(&Request::GetInterfaceVersion)},
                  {"Write", VirtualSlot(&Request::Write)},
                  {"Read", VirtualSlot(&Request::Read)},
              }),
              "");
    EXPECT_EQ(TableSize<Request>(), 12u);
}

TEST(RequestInterfaceSlots, RequestSerializerAndRequestBaseKeepTheirTableOrder)
{
    using Binding::RequestSerializer;
    using Binding::Detail::RequestBase;
    EXPECT_EQ(SlotOrderMismatches({
                  {"~RequestSerializer", kDestructorPair},
                  {"WriteArguments", VirtualSlot(&RequestSerializer::WriteArguments)},
                  {"ReadResults", VirtualSlot(&RequestSerializer::ReadResults)},
              }),
              "");
    EXPECT_EQ(SlotOrderMismatches(
                  {
                      {"WriteArguments", VirtualSlot(&RequestBase::WriteArguments)},
                      {"ReadResults", VirtualSlot(&RequestBase::ReadResults)},
                  },
                  12),
              "");
    EXPECT_EQ(VirtualSlot(&RequestBase::Read), 11u);
    EXPECT_EQ(TableSize<RequestBase>(), 14u);
}

TEST(IpcClientInterfaceSlots, JobHandlerAndJobKeepTheirTableOrder)
{
    using JobManagement::Job;
    using JobManagement::JobHandler;
    EXPECT_EQ(SlotOrderMismatches({
                  {"OnSuccess", VirtualSlot(&JobHandler::OnSuccess)},
                  {"OnError", VirtualSlot(&JobHandler::OnError)},
                  {"Reserved1", VirtualSlot(&JobHandler::Reserved1)},
                  {"Reserved2", VirtualSlot(&JobHandler::Reserved2)},
                  {"OnCompleted", VirtualSlot(&JobHandler::OnCompleted)},
                  {"Reserved3", VirtualSlot(&JobHandler::Reserved3)},
                  {"Reserved4", VirtualSlot(&JobHandler::Reserved4)},
                  {"Cancel", VirtualSlot(&JobHandler::Cancel)},
              }),
              "");
    EXPECT_EQ(TableSize<JobHandler>(), 8u);
    EXPECT_EQ(SlotOrderMismatches({
                  {"~Job", kDestructorPair},
                  {"Wait", VirtualSlot(&Job::Wait)},
                  {"Start", VirtualSlot(&Job::Start)},
                  {"Cancel", VirtualSlot(&Job::Cancel)},
              }),
              "");
    EXPECT_EQ(TableSize<Job>(), 5u);
}

TEST(IpcClientInterfaceSlots, AccessPointBrowserAndBinderKeepTheirTableOrder)
{
    using Binding::AccessPoint;
    EXPECT_EQ(SlotOrderMismatches({
                  {"~AccessPoint", kDestructorPair},
                  {"Call", VirtualSlot(&AccessPoint::Call)},
                  {"GetConnectionKey", VirtualSlot(&AccessPoint::GetConnectionKey)},
                  {"GetInterfaceVersion", VirtualSlot(&AccessPoint::GetInterfaceVersion)},
              }),
              "");
    EXPECT_EQ(TableSize<AccessPoint>(), 5u);
    EXPECT_EQ(VirtualSlot(&Binding::ServiceBrowser::OpenAccessPoint), 2u);
    EXPECT_EQ(TableSize<Binding::ServiceBrowser>(), 3u);
    EXPECT_EQ(VirtualSlot(&Binding::Binder::Connect), 2u);
    EXPECT_EQ(TableSize<Binding::Binder>(), 3u);
    EXPECT_EQ(sizeof(Binding::AccessPointOptions), 16u);
}

} // namespace
