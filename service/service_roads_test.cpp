// The service through the system's own requests (Binding::ExecuteRequest over
// the access points of the IPC stand-in), on the local road (the service
// embedded in this program) and on the remote road (the service process on
// an ephemeral loopback port). Every test works under a service code of its
// own, so the tests of the local road share its process-wide store without
// meeting each other's objects.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/operation_records.h"
#include "enterprise/common/dml/view_options.h"
#include "enterprise/common/ipc/connection.h"
#include "enterprise/common/ipc/execute_request.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_diff.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/utils.h"
#include "platform/ipc/ipc_errors.h"
#include "service/request_packets_test_support.h"
#include "service/service_core.h"
#include "service/service_errors.h"
#include "service/service_test_support.h"
#include "service/store_errors.h"
#include "service/user_file.h"
#include "testing/error_matchers.h"
#include "xidl/object_manager.h"
#include "xidl/view_manager.h"

namespace {

using namespace ServiceTesting;
using Testing::ErrorIs;
using Testing::IsSuccessError;

enum class Road
{
    Local,
    Remote,
};

std::atomic<int32_t> g_nextServiceCode{1000};

class ServiceRoads : public MemoryFolder, public ::testing::WithParamInterface<Road>
{
protected:
    void SetUp() override
    {
        m_serviceCode = g_nextServiceCode++;
        if (GetParam() == Road::Local) {
            ASSERT_FALSE(LocalStoreFolder().empty());
        } else {
            ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", "secret"), IsSuccessError());
            m_pid = LaunchService(PathOf("users"), PathOf("objects.db"), m_port);
            ASSERT_NE(m_port, 0);
        }
        ASSERT_THAT(Connect("secret"), IsSuccessError());
    }

    void TearDown() override
    {
        m_accessPoint.reset();
        m_connection.reset();
        KillService(m_pid);
    }

    Common::Error Connect(const std::string& password)
    {
        m_accessPoint.reset();
        if (GetParam() == Road::Local)
            return Binding::OpenLocalAccessPoint(m_serviceCode, m_accessPoint);
        m_connection = std::make_unique<Binding::RemoteConnection>();
        Binding::CreateBinder(m_connection->binder);
        m_connection->settings = Binding::MakeConnectionSettings("127.0.0.1:" + std::to_string(m_port), "alice",
                                                                 password, m_serviceCode);
        return Binding::ConnectRemote(*m_connection, m_serviceCode, m_accessPoint);
    }

    Common::Error Execute(std::unique_ptr<Binding::Request> request)
    {
        return Binding::ExecuteRequest(*m_accessPoint, request);
    }

    Common::Error Register(const UnitPtr& object) { return Execute(Dml::MakeRegisterObjectRequest(object)); }

    Common::Error View(const UnitPtr& pattern, const UnitPtr& options, Dml::ViewManagement::UnitVector& snapshot)
    {
        Dml::ViewSpec specification;
        specification.Pattern = pattern;
        specification.Options = options;
        return Execute(Dml::ViewManagement::MakeOpenStaticViewRequest(specification, snapshot));
    }

    Dml::ViewManagement::UnitVector View(const UnitPtr& pattern, const UnitPtr& options = LimitOptions(2000))
    {
        Dml::ViewManagement::UnitVector snapshot;
        EXPECT_THAT(View(pattern, options, snapshot), IsSuccessError());
        return snapshot;
    }

    // The counter view the DML layer makes, with its limit, read as the DML layer reads it.
    uint32_t Count(const UnitPtr& pattern, uint32_t limit)
    {
        Dml::ViewSpec base;
        base.Pattern = pattern;
        const Dml::ViewSpec counter = Dml::MakeCounterViewSpec(Dml::LimitViewSpec(base, limit, Factory()), Factory());
        const Dml::ViewManagement::UnitVector snapshot = View(counter.Pattern, counter.Options);
        return snapshot.size() == 1 && snapshot[0] ? Dml::GetCounterValue(*snapshot[0]) : UINT32_MAX;
    }

    void RegisterThree()
    {
        for (uint32_t id = 1; id <= 3; ++id)
            ASSERT_THAT(Register(MakeObject(id, u"g", id)), IsSuccessError());
    }

    int32_t m_serviceCode = 0;
    pid_t m_pid = 0;
    int m_port = 0;
    std::unique_ptr<Binding::RemoteConnection> m_connection;
    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
};

// The record the delete-by-pattern journal registers for one batch.
UnitPtr DeleteRecord(const UnitPtr& pattern, uint32_t limit)
{
    Dml::ViewSpec base;
    base.Pattern = pattern;
    return Dml::Operation::OperationFactory(&Factory()).MakeDeleteByPattern(Dml::LimitViewSpec(base, limit, Factory()));
}

TEST_P(ServiceRoads, AKeyPatternViewAnswersExactlyItsObject)
{
    RegisterThree();
    const Dml::ViewManagement::UnitVector snapshot = View(
        Dml::MakeKeyPattern(Dml::GetObjectKey(*MakeObject(2, u"g", 2)), Factory()));
    ASSERT_EQ(snapshot.size(), 1u);
    EXPECT_TRUE(Por::Util::UnitsEqual(*snapshot[0], *MakeObject(2, u"g", 2)));
    EXPECT_EQ(View(GroupPattern(u"g")).size(), 3u);
}

TEST_P(ServiceRoads, AnUpdateByDiffMakesTheNextViewAnswerTheNewObject)
{
    RegisterThree();
    const UnitPtr old = View(KeyPattern(2)).at(0);
    const UnitPtr updated = MakeObject(2, u"h", 77);
    const UnitPtr key(old, &Dml::GetObjectKey(*old));
    ASSERT_THAT(Execute(Dml::MakeUpdateObjectRequest(key, Por::Util::MakeDiff(*old, *updated, Factory()))),
                IsSuccessError());
    const Dml::ViewManagement::UnitVector snapshot = View(KeyPattern(2));
    ASSERT_EQ(snapshot.size(), 1u);
    EXPECT_TRUE(Por::Util::UnitsEqual(*snapshot[0], *updated));
}

TEST_P(ServiceRoads, ACounterAnswersAllMatchesAlsoWithASmallerLimit)
{
    RegisterThree();
    EXPECT_EQ(Count(GroupPattern(u"g"), 2), 3u);
    EXPECT_EQ(View(GroupPattern(u"g"), LimitOptions(2)).size(), 2u);
}

TEST_P(ServiceRoads, ADeleteByPatternRecordWithLimitTwoLeavesOne)
{
    RegisterThree();
    ASSERT_THAT(Register(DeleteRecord(GroupPattern(u"g"), 2)), IsSuccessError());
    const Dml::ViewManagement::UnitVector left = View(GroupPattern(u"g"));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(Por::Util::UnitsEqual(*left[0], *MakeObject(3, u"g", 3)));
}

TEST_P(ServiceRoads, FailuresComeBackAsTheCallsOutcome)
{
    RegisterThree();
    EXPECT_THAT(Register(MakeObject(1, u"again")), ErrorIs(Service::kObjectExists));
    EXPECT_THAT(Execute(Dml::MakeUnregisterObjectRequest(Key(9))), ErrorIs(Service::kObjectNotFound));
    PorTesting::Make m(Factory());
    Dml::ViewManagement::UnitVector snapshot{UnitPtr(m.Nil())};
    EXPECT_THAT(View(GroupPattern(u"g"), UnitPtr(m.Composite(m.Prop("LimitOptions", m.Word(2)))), snapshot),
                ErrorIs(ServiceErrors::kRequestRefused));
    EXPECT_EQ(snapshot.size(), 1u); // a failed result reads nothing back
    Dml::ViewManagement::ViewManager_Proxy proxy(m_accessPoint);
    EXPECT_THAT(proxy.CloseView(1), ErrorIs(Ipc::kNotSupported));
    EXPECT_THAT(Execute(Dml::MakeUnregisterObjectRequest(Key(1))), IsSuccessError());
    EXPECT_EQ(View(GroupPattern(u"g")).size(), 2u);
}

TEST_P(ServiceRoads, TheStoreSurvivesARestartOfTheService)
{
    RegisterThree();
    if (GetParam() == Road::Remote) {
        KillService(m_pid);
        m_pid = LaunchService(PathOf("users"), PathOf("objects.db"), m_port);
        ASSERT_NE(m_port, 0);
        ASSERT_THAT(Connect("secret"), IsSuccessError());
        EXPECT_EQ(View(GroupPattern(u"g")).size(), 3u);
        return;
    }
    // Another service core over the same local store, as a new program would open it.
    Service::ServiceCore restarted([](std::unique_ptr<Service::Store>& store) {
        return Service::Store::Open(LocalStoreFolder() + "/" + Service::kStoreFileName, store);
    });
    Ipc::RegisterLocalHandler(&restarted);
    const Common::Error connected = Connect("");
    const size_t seen = connected.IsSuccess() ? View(GroupPattern(u"g")).size() : 0;
    m_accessPoint.reset();
    Ipc::RegisterLocalHandler(&Service::GetServiceHandler());
    ASSERT_THAT(connected, IsSuccessError());
    EXPECT_EQ(seen, 3u);
}

INSTANTIATE_TEST_SUITE_P(BothRoads, ServiceRoads, ::testing::Values(Road::Local, Road::Remote),
                         [](const ::testing::TestParamInfo<Road>& info) {
                             return info.param == Road::Local ? "Local" : "Remote";
                         });

class RemoteRoad : public MemoryFolder
{
};

TEST_F(RemoteRoad, AWrongPasswordIsRefusedAtConnect)
{
    ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", "secret"), IsSuccessError());
    int port = 0;
    const pid_t pid = LaunchService(PathOf("users"), PathOf("objects.db"), port);
    ASSERT_NE(port, 0);
    Binding::RemoteConnection connection;
    Binding::CreateBinder(connection.binder);
    connection.settings = Binding::MakeConnectionSettings("127.0.0.1:" + std::to_string(port), "alice", "wrong", 46);
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    EXPECT_THAT(Binding::ConnectRemote(connection, 46, accessPoint), ErrorIs(Ipc::kAuthenticationRefused));
    EXPECT_EQ(accessPoint, nullptr);
    KillService(pid);
}

} // namespace
