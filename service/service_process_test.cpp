// The service process objpatcher-service on an ephemeral loopback port, driven
// through the socket road.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>
#include <vector>

#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/utils.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/socket_transport.h"
#include "platform/ipc/transport_test_support.h"
#include "service/request_packets_test_support.h"
#include "service/service_test_support.h"
#include "service/store_errors.h"
#include "service/user_file.h"
#include "testing/error_matchers.h"
#include "testing/temporary_folder.h"

namespace {

using ServiceTesting::B;
using ::testing::AllOf;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;

class ServiceProcess : public ServiceTesting::MemoryFolder
{
protected:
    void SetUp() override { ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", "secret"), IsSuccessError()); }

    void TearDown() override
    {
        m_others.push_back(m_pid);
        for (pid_t pid : m_others)
            ServiceTesting::KillService(pid);
    }

    // Starts the service, with the fixture's users file or `usersFile`; true
    // when it reported its port.
    bool Start(const std::string& usersFile = "")
    {
        m_pid = Launch(m_port, usersFile);
        return m_port != 0;
    }

    // Starts one more service on the same store; its port, or 0.
    int StartAnother()
    {
        int port = 0;
        m_others.push_back(Launch(port));
        return port;
    }

    pid_t Launch(int& port, const std::string& usersFile = "")
    {
        return ServiceTesting::LaunchService(usersFile.empty() ? PathOf("users") : usersFile, PathOf("objects.db"),
                                             port);
    }

    // The exit status, once the process ended.
    int WaitForExit()
    {
        int status = 0;
        EXPECT_EQ(waitpid(m_pid, &status, 0), m_pid);
        m_pid = 0;
        return status;
    }

    Common::Error Connect(const char* user, const char* password, std::unique_ptr<Ipc::SocketTransport>& transport,
                          int port = 0) const
    {
        return Ipc::SocketTransport::Connect("127.0.0.1:" + std::to_string(port ? port : m_port), {user, password, 46},
                                             transport);
    }

    // Sends one request packet and reads the reply of that method.
    static ServiceTesting::Reply Call(Ipc::SocketTransport& transport, const std::string& interfaceName,
                                      const std::string& method, const Ipc::Bytes& request)
    {
        Ipc::Bytes reply;
        EXPECT_THAT(transport.Exchange(request, reply), IsSuccessError());
        return ServiceTesting::ReadReply(reply, interfaceName, method);
    }

    static Common::Error Register(Ipc::SocketTransport& transport, uint32_t id)
    {
        return Call(transport, "ObjectManager", "RegisterObject",
                    ServiceTesting::RequestPacket("ObjectManager", "RegisterObject",
                                                  {{"object", ServiceTesting::MakeObject(id, u"g")}}))
            .result;
    }

    // The counter view's count of the group "g".
    static uint32_t CountGroup(Ipc::SocketTransport& transport)
    {
        const ServiceTesting::Reply reply = Call(
            transport, "ViewManager", "OpenStaticView",
            ServiceTesting::ViewPacket(ServiceTesting::GroupPattern(u"g"), ServiceTesting::LimitOptions(2, true)));
        EXPECT_THAT(reply.result, IsSuccessError());
        if (reply.snapshot.size() != 1 || !reply.snapshot[0])
            return UINT32_MAX;
        const Por::View::Property* value = Por::Util::FindConstProperty(*reply.snapshot[0], Por::Name("CounterValue"));
        return value ? Por::Util::GetUnitValue<unsigned int>(value->GetValue(), 0u) : UINT32_MAX;
    }

    pid_t m_pid = 0;
    int m_port = 0;
    std::vector<pid_t> m_others;
};

TEST_F(ServiceProcess, RightPasswordConnectsAndRequestsGetAClearAnswer)
{
    ASSERT_TRUE(Start());
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Connect("alice", "secret", transport), IsSuccessError());
    Ipc::Bytes reply;
    ASSERT_THAT(transport->Exchange(ServiceTesting::RequestPacket("ViewManager", "Subscribe", {}), reply),
                IsSuccessError());
    EXPECT_THAT(ServiceTesting::ReadReply(reply, "ViewManager", "Subscribe").result,
                AllOf(ErrorIs(Ipc::kNotSupported), HasText(u"IPC: The request is not supported by this service.")));
}

TEST_F(ServiceProcess, WrongPasswordOrUnknownUserIsRefused)
{
    ASSERT_TRUE(Start());
    std::unique_ptr<Ipc::SocketTransport> transport;
    EXPECT_THAT(Connect("alice", "wrong", transport), ErrorIs(Ipc::kAuthenticationRefused));
    EXPECT_THAT(Connect("bob", "secret", transport), ErrorIs(Ipc::kAuthenticationRefused));
}

TEST_F(ServiceProcess, ObjectsServedOverTheSocketRoadSurviveARestart)
{
    ASSERT_TRUE(Start());
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Connect("alice", "secret", transport), IsSuccessError());
    for (uint32_t id = 1; id <= 3; ++id)
        ASSERT_THAT(Register(*transport, id), IsSuccessError());
    EXPECT_THAT(Register(*transport, 2), ErrorIs(Service::kObjectExists));
    EXPECT_EQ(CountGroup(*transport), 3u);
    ASSERT_EQ(kill(m_pid, SIGTERM), 0);
    WaitForExit();
    transport.reset();

    ASSERT_TRUE(Start());
    ASSERT_THAT(Connect("alice", "secret", transport), IsSuccessError());
    EXPECT_EQ(CountGroup(*transport), 3u);
}

TEST_F(ServiceProcess, StopsCleanlyOnSigterm)
{
    ASSERT_TRUE(Start());
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Connect("alice", "secret", transport), IsSuccessError());
    ASSERT_EQ(kill(m_pid, SIGTERM), 0);
    const int status = WaitForExit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    Ipc::Bytes reply;
    EXPECT_THAT(transport->Exchange(B("after"), reply), ErrorIs(Ipc::kConnectionLost));
}

TEST_F(ServiceProcess, UsersFileReadableByOthersIsRefused)
{
    // A test of file modes: its users file lies on disk.
    const Testing::TemporaryFolder disk("service_process_test");
    const std::string users = disk.PathOf("users");
    ASSERT_THAT(Service::AddUser(users, "alice", "secret"), IsSuccessError());
    ASSERT_EQ(chmod(users.c_str(), 0644), 0);
    EXPECT_FALSE(Start(users));
    const int status = WaitForExit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
}

// The password comes from standard input. A user already in the file gets
// the new password, and standard error says so; a new user is added without
// a word.
TEST_F(ServiceProcess, AddUserTakesThePasswordFromStandardInput)
{
    const auto addUser = [this](const std::string& user, const char* password) {
        const std::string command = std::string(OBJPATCHER_SERVICE_PROGRAM) + " adduser '" + PathOf("users") + "' " +
            user + " 2>'" + PathOf("stderr") + "'";
        FILE* input = popen(command.c_str(), "w");
        EXPECT_NE(input, nullptr);
        if (!input)
            return std::string();
        std::fputs(password, input);
        EXPECT_EQ(pclose(input), 0) << user;
        std::ifstream in(PathOf("stderr"));
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(addUser("bob", "pass word\n"), "");
    EXPECT_EQ(addUser("alice", "new secret\n"),
              "objpatcher-service: replaced the password of user alice in " + PathOf("users") + "\n");
    Service::UserTable users;
    ASSERT_THAT(Service::LoadUsers(PathOf("users"), users), IsSuccessError());
    EXPECT_TRUE(Service::CheckPassword(users, "bob", "pass word"));
    EXPECT_TRUE(Service::CheckPassword(users, "alice", "new secret"));
    EXPECT_FALSE(Service::CheckPassword(users, "alice", "secret"));
}

class ServiceProcessThreads : public ServiceProcess
{
};

TEST_F(ServiceProcessThreads, TwoServicesOnOneStoreRegisteringAtOnceEndWithAllObjects)
{
    ASSERT_TRUE(Start());
    const int otherPort = StartAnother();
    ASSERT_NE(otherPort, 0);
    std::vector<std::thread> clients;
    for (int port : {m_port, otherPort})
        clients.emplace_back([this, port, first = static_cast<uint32_t>(port == m_port ? 0 : 200)] {
            std::unique_ptr<Ipc::SocketTransport> transport;
            ASSERT_THAT(Connect("alice", "secret", transport, port), IsSuccessError());
            for (uint32_t i = 0; i < 200; ++i)
                EXPECT_THAT(Register(*transport, first + i), IsSuccessError());
        });
    for (std::thread& client : clients)
        client.join();
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Connect("alice", "secret", transport), IsSuccessError());
    EXPECT_EQ(CountGroup(*transport), 400u);
}

TEST_F(ServiceProcessThreads, KilledServiceFailsEveryPendingCallOnce)
{
    ASSERT_TRUE(Start());
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Connect("alice", "secret", transport), IsSuccessError());
    ASSERT_EQ(kill(m_pid, SIGSTOP), 0); // the calls below stay pending
    int status = 0;
    ASSERT_EQ(waitpid(m_pid, &status, WUNTRACED), m_pid);
    ASSERT_TRUE(WIFSTOPPED(status));
    IpcTesting::Completions completions;
    std::vector<std::shared_ptr<Ipc::CallHandle>> calls;
    for (int i = 0; i < 10; ++i)
        calls.push_back(transport->Start(B("request " + std::to_string(i)), completions.For(i)));
    ASSERT_EQ(kill(m_pid, SIGKILL), 0);
    ASSERT_TRUE(completions.WaitFor(10));
    for (const auto& record : completions.Records())
        EXPECT_THAT(record.result, ErrorIs(Ipc::kConnectionLost));
    for (auto& call : calls)
        call->Cancel();
    Ipc::Bytes reply;
    EXPECT_THAT(transport->Exchange(B("after"), reply), ErrorIs(Ipc::kConnectionLost));
    transport.reset();
    EXPECT_EQ(completions.Records().size(), 10u);
}

} // namespace
