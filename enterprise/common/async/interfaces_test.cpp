// The virtual-table order of the interfaces shared with the async service
// library and of the framework's own binary interfaces.
#include <gtest/gtest.h>

#include "enterprise/common/async/async_service.h"
#include "enterprise/common/async/delegating_action_handler.h"
#include "enterprise/common/async/job.h"
#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/lazy_barrier.h"
#include "enterprise/common/async/metronome.h"
#include "enterprise/common/async/operation_description.h"
#include "enterprise/common/async/synchronization_fork.h"
#include "enterprise/common/async/tail_recursion_controller.h"
#include "testing/vtable_slot.h"

namespace {

using Testing::VirtualSlot;

// Slots 0 and 1 are the two destructors of every interface below.
TEST(AsyncInterfaceSlots, JobsActionsAndHandlers)
{
    EXPECT_EQ(VirtualSlot(&Async::DescriptiveEntity::Describe), 2u);
    EXPECT_EQ(VirtualSlot(&Async::Job::Describe), 2u);
    EXPECT_EQ(VirtualSlot(&Async::Job::GetId), 3u);
    EXPECT_EQ(VirtualSlot(&Async::Job::Cancel), 4u);
    EXPECT_EQ(VirtualSlot(&Async::Action::Perform), 2u);
    EXPECT_EQ(VirtualSlot(&Async::ActionHandler::Completed), 2u);
    EXPECT_EQ(VirtualSlot(&Async::ResultAccumulator::Accumulate), 2u);
    EXPECT_EQ(VirtualSlot(&Async::DelegatingActionHandler::Completed), 2u);
    EXPECT_EQ(VirtualSlot(&Async::DelegatingActionHandler::FilterResult), 3u);
    EXPECT_EQ(VirtualSlot(&Async::JobControl::Completed), 2u);
}

TEST(AsyncInterfaceSlots, OperationDescription)
{
    EXPECT_EQ(VirtualSlot(&Async::OperationDescription::DescribeException), 2u);
    EXPECT_EQ(VirtualSlot(&Async::OperationDescription::DescribeStdException), 3u);
    EXPECT_EQ(VirtualSlot(&Async::OperationDescription::DescribeUnknownException), 4u);
}

TEST(AsyncInterfaceSlots, Service)
{
    EXPECT_EQ(VirtualSlot(&Async::Service::PerformWork), 2u);
    EXPECT_EQ(VirtualSlot(&Async::Service::GetEnvironmentProvider), 6u);
    EXPECT_EQ(VirtualSlot(&Async::Service::GetSynchronizationCallbackStorage), 12u);
    EXPECT_EQ(VirtualSlot(&Async::Service::GetMetronomeFactory), 13u);
}

TEST(AsyncInterfaceSlots, ObjectsTheServiceHandsOutAndCalls)
{
    EXPECT_EQ(VirtualSlot(&Async::MetronomeFactory::CreateMetronome), 2u);
    EXPECT_EQ(VirtualSlot(&Async::Metronome::Tick), 2u);
    EXPECT_EQ(VirtualSlot(&Async::EnvironmentProvider::CaptureEnvironment), 2u);
    EXPECT_EQ(VirtualSlot(&Async::ThreadEnvironment::Apply), 2u);
    EXPECT_EQ(VirtualSlot(&Async::ThreadEnvironment::Leave), 3u);
    EXPECT_EQ(VirtualSlot(&Async::ThreadEnvironment::Restore), 4u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallbackStorage::GetTop), 2u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallbackStorage::Push), 3u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallbackStorage::Pop), 4u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallbackStorage::Synchronize), 5u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallback::GetNext), 2u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallback::SetNext), 3u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallback::Satisfy), 4u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationCallback::TrySatisfy), 5u);
    EXPECT_EQ(VirtualSlot(&Async::Work::Run), 2u);
    EXPECT_EQ(VirtualSlot(&Async::Work::Detach), 3u);
}

TEST(AsyncInterfaceSlots, ListenersForksAndLoops)
{
    EXPECT_EQ(VirtualSlot(&Async::MetronomeListener::Completed), 2u);
    EXPECT_EQ(VirtualSlot(&Async::MetronomeListener::OnTick), 3u);
    // A fork's primary table is the scoped callback's, then its own two.
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationFork::GetNext), 2u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationFork::SetNext), 3u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationFork::Satisfy), 4u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationFork::TrySatisfy), 5u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationFork::IsReady), 6u);
    EXPECT_EQ(VirtualSlot(&Async::SynchronizationFork::TakeWork), 7u);
    EXPECT_EQ(VirtualSlot(&Async::TailRecursionController::KeepAlive), 2u);
    EXPECT_EQ(VirtualSlot(&Async::TailRecursionController::ProcessStep), 3u);
    EXPECT_EQ(VirtualSlot(&Async::LazyBarrier::BarrierJob::OneActionHandler::Completed), 2u);
    EXPECT_EQ(VirtualSlot(&Async::LazyBarrier::BarrierJob::OneActionHandler::Cancel), 3u);
}

} // namespace
