// Connections: the local road through the local service browser, the remote
// road through the binder, and the records of a remote connection.

#include "enterprise/common/ipc/connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/common/error_text.h"
#include "core/common/text_conversion.h"
#include "platform/ipc/binding_errors.h"
#include "platform/ipc/binding_stand_in.h"
#include "platform/ipc/echo_road.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/server.h"
#include "testing/error_matchers.h"

namespace {

using Testing::ErrorIs;
using Testing::IsSuccessError;

bool IsZero(const Binding::AccessPointOptions& options)
{
    static const Binding::AccessPointOptions kZero{};
    return std::memcmp(&options, &kZero, sizeof options) == 0;
}

TEST(ConnectLocal, AFailingLocalBrowserGivesItsOwnErrorWithTheLibrarysAsCause)
{
    const Common::Error failure(0xAD0042, u"browser daemon is down", Common::SourceFile("ipc/lib").At("Browse", 12));
    IpcStandIn::SetLocalBrowserFailureForTesting(failure);
    const int opened = IpcStandIn::GetOpenAccessPointCallsForTesting();
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    const Common::Error error = Binding::OpenLocalAccessPoint(46, accessPoint);
    IpcStandIn::SetLocalBrowserFailureForTesting(Common::Success);

    EXPECT_THAT(
        error,
        ::testing::AllOf(ErrorIs(0xAD001F),
                         Testing::HasText(u"Failed to obtain the local service browser during local connection."),
                         Testing::RaisedAt("enterprise/common/ipc/client/lib/client", "ConnectLocalImpl", 38),
                         Testing::HasLineTag(0x71a433fed4308882ull), Testing::CausedBy(ErrorIs(0xAD0042))));
    const std::string text = Common::ErrorToUtf8Text(error);
    EXPECT_THAT(text, ::testing::HasSubstr("Failed to obtain the local service browser during local connection."));
    EXPECT_THAT(text, ::testing::HasSubstr("browser daemon is down"));
    EXPECT_EQ(accessPoint, nullptr);
    EXPECT_EQ(IpcStandIn::GetOpenAccessPointCallsForTesting(), opened);
}

TEST(ConnectLocal, OpensTheAccessPointWithZeroedOptions)
{
    Ipc::EchoHandler service;
    Ipc::RegisterLocalHandler(&service);
    const int opened = IpcStandIn::GetOpenAccessPointCallsForTesting();
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    EXPECT_THAT(Binding::OpenLocalAccessPoint(46, accessPoint), IsSuccessError());
    Ipc::RegisterLocalHandler(nullptr);
    EXPECT_NE(accessPoint, nullptr);
    EXPECT_EQ(IpcStandIn::GetOpenAccessPointCallsForTesting(), opened + 1);
    EXPECT_TRUE(IsZero(IpcStandIn::GetLastOpenOptionsForTesting()));
}

TEST(ConnectLocal, WithoutALocalServiceTheLibrarysErrorComesBack)
{
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    EXPECT_THAT(Binding::OpenLocalAccessPoint(46, accessPoint), ErrorIs(BindingErrors::kNoLocalService));
    EXPECT_EQ(accessPoint, nullptr);
}

TEST(RemoteConnection, SettingsCarryHostUserPasswordAndServiceCodeOnly)
{
    const Binding::ConnectionSettings settings = Binding::MakeConnectionSettings("host.example:1", "us\xC3\xA9r",
                                                                                 "p\xC3\xA4ss", 34);
    EXPECT_EQ(settings.host, "host.example:1");
    EXPECT_EQ(settings.user, u"us\u00E9r");
    EXPECT_EQ(settings.password, u"p\u00E4ss");
    EXPECT_EQ(settings.serviceCode, 34);
    EXPECT_TRUE(settings.reserved4.empty());
    EXPECT_TRUE(settings.reserved6.empty());
    EXPECT_EQ(settings.reserved5 + settings.reserved9, 0);
    EXPECT_EQ(settings.reserved7 + settings.reserved10 + settings.reserved11, 0u);
    EXPECT_FALSE(settings.reserved8);
}

TEST(RemoteConnection, WithoutABinderTheRemoteRoadFailsWithANamedError)
{
    Binding::RemoteConnection connection;
    connection.settings = Binding::MakeConnectionSettings("127.0.0.1:1", "u", "p", 33);
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    EXPECT_THAT(Binding::ConnectRemote(connection, 33, accessPoint),
                ::testing::AllOf(
                    ErrorIs(BindingErrors::kNoBinder),
                    Testing::HasText(u"IPC: No binder or service browser is available for the remote connection.")));
    EXPECT_EQ(accessPoint, nullptr);
}

class RemoteRoad : public ::testing::Test
{
protected:
    RemoteRoad()
    {
        EXPECT_THAT(Ipc::Server::Start(
                        Ipc::ServerOptions{"127.0.0.1", 0},
                        [](const Ipc::HelloRecord& hello) { return hello.user == "u" && hello.password == "p"; },
                        m_service, m_server),
                    IsSuccessError());
        Binding::CreateBinder(connection.binder);
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(m_server->GetPort()); }

    Ipc::EchoHandler m_service;
    std::unique_ptr<Ipc::Server> m_server;
    Binding::RemoteConnection connection; // destroyed before the server
};

TEST_F(RemoteRoad, ConnectsAndOpensTheAccessPointWithZeroedOptions)
{
    ASSERT_NE(connection.binder, nullptr);
    connection.settings = Binding::MakeConnectionSettings(Host(), "u", "p", 33);
    const int opened = IpcStandIn::GetOpenAccessPointCallsForTesting();
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    EXPECT_THAT(Binding::ConnectRemote(connection, 33, accessPoint), IsSuccessError());
    EXPECT_NE(accessPoint, nullptr);
    EXPECT_NE(connection.browser, nullptr);
    EXPECT_EQ(IpcStandIn::GetOpenAccessPointCallsForTesting(), opened + 1);
    EXPECT_TRUE(IsZero(IpcStandIn::GetLastOpenOptionsForTesting()));
}

TEST_F(RemoteRoad, ARefusedPasswordComesBackUnchanged)
{
    connection.settings = Binding::MakeConnectionSettings(Host(), "u", "wrong", 33);
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    EXPECT_THAT(Binding::ConnectRemote(connection, 33, accessPoint), ErrorIs(Ipc::kAuthenticationRefused));
    EXPECT_EQ(accessPoint, nullptr);
}

// Records the order in which the parts of a remote connection are deleted.
std::vector<std::string> g_deleted;

struct LoggedBrowser : Binding::ServiceBrowser
{
    ~LoggedBrowser() override { g_deleted.push_back("browser"); }
    Common::Error OpenAccessPoint(int, int, std::unique_ptr<Binding::AccessPoint>&,
                                  Binding::AccessPointOptions*) override
    {
        return Common::Success;
    }
};

struct LoggedBinder : Binding::Binder
{
    ~LoggedBinder() override { g_deleted.push_back("binder"); }
    Common::Error Connect(const Binding::ConnectionSettings&, std::unique_ptr<Binding::ServiceBrowser>&) override
    {
        return Common::Success;
    }
};

TEST(RemoteConnection, DeletesTheBrowserBeforeTheBinder)
{
    g_deleted.clear();
    {
        Binding::RemoteConnection connection;
        connection.binder = std::make_unique<LoggedBinder>();
        connection.browser = std::make_unique<LoggedBrowser>();
    }
    EXPECT_THAT(g_deleted, ::testing::ElementsAre("browser", "binder"));
}

TEST(RemoteConnection, ABinderThatGivesNoBrowserIsANamedFailure)
{
    Binding::RemoteConnection connection;
    connection.binder = std::make_unique<LoggedBinder>();
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    EXPECT_THAT(Binding::ConnectRemote(connection, 33, accessPoint), ErrorIs(BindingErrors::kNoBinder));
}

} // namespace
