// The DML service interfaces keep their binary table order.
#include <gtest/gtest.h>

#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_accessor.h"
#include "testing/vtable_slot.h"

namespace {

using Testing::VirtualSlot;
using Testing::VirtualSlotOf;

using Job = std::shared_ptr<Async::Job>;

TEST(DmlInterfaces, ObjectRegistryOperationsFollowTheDestructors)
{
    using R = Dml::ObjectRegistry;
    EXPECT_EQ((VirtualSlotOf<R, Job(const Por::View::Unit&, Async::ActionHandler&)>(&R::RegisterObject)), 2u);
    EXPECT_EQ((VirtualSlotOf<R, Job(const Por::UnitAccessor&, Async::ActionHandler&)>(&R::RegisterObject)), 3u);
    EXPECT_EQ((VirtualSlotOf<R, Job(const Por::View::Unit&, const Por::View::Unit&, Async::ActionHandler&)>(
                  &R::UpdateObject)),
              4u);
    EXPECT_EQ((VirtualSlotOf<R, Job(const Por::ConstUnitAccessor&, const Por::UnitAccessor&, Async::ActionHandler&)>(
                  &R::UpdateObject)),
              5u);
    EXPECT_EQ((VirtualSlotOf<R, Job(const Por::View::Unit&, Async::ActionHandler&)>(&R::UnregisterObject)), 6u);
    EXPECT_EQ((VirtualSlotOf<R, Job(const Por::ConstUnitAccessor&, Async::ActionHandler&)>(&R::UnregisterObject)), 7u);
}

TEST(DmlInterfaces, ViewAndReaderOperationsFollowTheDestructors)
{
    EXPECT_EQ(VirtualSlot(&Dml::PostOffice::OpenDynamicView), 2u);
    EXPECT_EQ(VirtualSlot(&Dml::PostOffice::OpenStaticView), 3u);
    EXPECT_EQ(VirtualSlot(&Dml::Subscription::Read), 2u);
    EXPECT_EQ(VirtualSlot(&Dml::UpdateReader::ReadType0), 2u);
    EXPECT_EQ(VirtualSlot(&Dml::UpdateReader::ReadType1), 3u);
    EXPECT_EQ(VirtualSlot(&Dml::UpdateReader::ReadType2), 4u);
    EXPECT_EQ((VirtualSlotOf<Dml::ReportReader, void(const Por::View::Unit&)>(&Dml::ReportReader::Read)), 2u);
    EXPECT_EQ((VirtualSlotOf<Dml::ReportReader, void(const Por::UnitAccessor&)>(&Dml::ReportReader::Read)), 3u);
    EXPECT_EQ(VirtualSlot(&Dml::AsyncReportReader::Read), 2u);
    EXPECT_EQ(VirtualSlot(&Dml::ObjectProcessor::Process), 2u);
    EXPECT_EQ(VirtualSlot(&Dml::ObjectProcessor::ProcessMissing), 3u);
}

TEST(DmlInterfaces, ProgressCallbackStartsWithItsOperation)
{
    EXPECT_EQ(VirtualSlot(&Dml::ProgressCallback::OnProgress), 0u);
}

} // namespace
