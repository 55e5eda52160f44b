// The service process objpatcher-service on an ephemeral loopback port, driven
// through the socket road.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/socket_transport.h"
#include "platform/ipc/transport_test_support.h"
#include "service/request_packets_test_support.h"
#include "service/service_test_support.h"
#include "service/user_file.h"
#include "testing/error_matchers.h"

namespace {

using ServiceTesting::B;
using ::testing::AllOf;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;

constexpr int kPortDescriptor = 9;

class ServiceProcess : public ServiceTesting::TemporaryFolder
{
protected:
    void SetUp() override
    {
        TemporaryFolder::SetUp();
        ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", "secret"), IsSuccessError());
    }

    void TearDown() override
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        TemporaryFolder::TearDown();
    }

    // Starts the service; true when it reported its port.
    bool Start()
    {
        int port[2];
        if (pipe(port) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(port[1], kPortDescriptor);
            const std::string portFile = "/dev/fd/" + std::to_string(kPortDescriptor);
            const std::string users = PathOf("users");
            const std::string store = PathOf("objects.db");
            execl(OBJPATCHER_SERVICE_PROGRAM, OBJPATCHER_SERVICE_PROGRAM, "--port", "0", "--port-file",
                  portFile.c_str(), "--store", store.c_str(), users.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(port[1]);
        std::string text;
        char c;
        while (read(port[0], &c, 1) == 1 && c != '\n')
            text += c;
        close(port[0]);
        m_port = text.empty() ? 0 : std::stoi(text);
        return m_port != 0;
    }

    // The exit status, once the process ended.
    int WaitForExit()
    {
        int status = 0;
        EXPECT_EQ(waitpid(m_pid, &status, 0), m_pid);
        m_pid = 0;
        return status;
    }

    Common::Error Connect(const char* user, const char* password,
                          std::unique_ptr<Ipc::SocketTransport>& transport) const
    {
        return Ipc::SocketTransport::Connect("127.0.0.1:" + std::to_string(m_port), {user, password, 33}, transport);
    }

    pid_t m_pid = 0;
    int m_port = 0;
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
    ASSERT_EQ(chmod(PathOf("users").c_str(), 0644), 0);
    EXPECT_FALSE(Start());
    const int status = WaitForExit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
}

TEST_F(ServiceProcess, AddUserTakesThePasswordFromStandardInput)
{
    const std::string command = std::string(OBJPATCHER_SERVICE_PROGRAM) + " adduser '" + PathOf("users") + "' bob";
    FILE* input = popen(command.c_str(), "w");
    ASSERT_NE(input, nullptr);
    std::fputs("pass word\n", input);
    ASSERT_EQ(pclose(input), 0);
    Service::UserTable users;
    ASSERT_THAT(Service::LoadUsers(PathOf("users"), users), IsSuccessError());
    EXPECT_TRUE(Service::CheckPassword(users, "bob", "pass word"));
    EXPECT_TRUE(Service::CheckPassword(users, "alice", "secret"));
}

class ServiceProcessThreads : public ServiceProcess
{
};

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
