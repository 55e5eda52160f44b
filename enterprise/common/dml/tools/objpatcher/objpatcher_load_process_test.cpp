// Many objpatcher runs at once against one objpatcher-service on the remote
// road: as many as the service serves at once all get through (a run turned
// away as busy tries again); far more each get through or are told that the
// service is busy (or that the user holds as many sessions as it allows), and
// none hangs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "service/service_test_support.h"
#include "service/store_location.h"
#include "service/user_file.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

constexpr const char* kPassword = "pw-load-3e9d";

struct ToolRun
{
    pid_t pid = 0;
    int output = -1; // its standard output, read once it ended
    int ended = -1;  // readable once it ended
};

struct RunResult
{
    bool ended = false; // false: still running at the deadline, and killed
    int status = 0;     // of waitpid
    std::string output;
};

// Waits for `run` until `deadline` (killing it then), and reads what it printed.
RunResult Finish(ToolRun& run, std::chrono::steady_clock::time_point deadline)
{
    RunResult result;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            std::chrono::steady_clock::now());
    pollfd wait{run.ended, POLLIN, 0};
    result.ended = left.count() > 0 && poll(&wait, 1, static_cast<int>(left.count())) == 1;
    close(run.ended);
    if (!result.ended)
        kill(run.pid, SIGKILL);
    waitpid(run.pid, &result.status, 0);
    char buffer[4096];
    for (ssize_t got; (got = read(run.output, buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<size_t>(got));
    close(run.output);
    return result;
}

class ObjpatcherUnderLoad : public ServiceTesting::TemporaryFolder
{
protected:
    void SetUp() override
    {
        TemporaryFolder::SetUp();
        ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", kPassword), Testing::IsSuccessError());
        m_service = ServiceTesting::LaunchService(PathOf("users"), PathOf("objects.db"), m_port);
        ASSERT_NE(m_port, 0) << "the service reported no port";
    }

    void TearDown() override
    {
        ServiceTesting::KillService(m_service);
        TemporaryFolder::TearDown();
    }

    ToolRun Start(int number) const
    {
        ToolRun run;
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            return run;
        const std::string host = "127.0.0.1:" + std::to_string(m_port);
        const std::string text = ".Composite() .Property(\"ID\").String(\"p" + std::to_string(number) +
            "\") .Trait(\"PrimaryKey\").Nil().End() .End() .End()";
        run.pid = fork();
        if (run.pid == 0) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            setenv(Service::kStoreFolderVariable, m_dir.c_str(), 1);
            execl(OBJPATCHER_PROGRAM, OBJPATCHER_PROGRAM, host.c_str(), "alice", kPassword, "HUB", "create",
                  "from_text", text.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        run.output = pipeEnds[0];
        run.ended = static_cast<int>(syscall(SYS_pidfd_open, run.pid, 0));
        return run;
    }

    pid_t m_service = 0;
    int m_port = 0;
};

TEST_F(ObjpatcherUnderLoad, SixteenRunsAtOnceAllSucceed)
{
    constexpr int kRuns = 16;
    std::vector<ToolRun> runs;
    for (int i = 0; i < kRuns; ++i) {
        runs.push_back(Start(i));
        ASSERT_GT(runs.back().pid, 0);
        ASSERT_GE(runs.back().ended, 0);
    }
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (ToolRun& run : runs) {
        const RunResult result = Finish(run, deadline);
        ASSERT_TRUE(result.ended) << "a run still waited after 60 s:\n" << result.output;
        EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0) << result.output;
    }
}

TEST_F(ObjpatcherUnderLoad, SeventyRunsAtOnceEachSucceedOrAreToldTheServiceIsBusy)
{
    constexpr int kRuns = 70;
    std::vector<ToolRun> runs;
    for (int i = 0; i < kRuns; ++i) {
        runs.push_back(Start(i));
        ASSERT_GT(runs.back().pid, 0);
        ASSERT_GE(runs.back().ended, 0);
    }
    // Each run must end well within the client's own wait for the service's answer.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    int succeeded = 0;
    int busy = 0;
    for (ToolRun& run : runs) {
        const RunResult result = Finish(run, deadline);
        const std::string& output = result.output;
        const int status = result.status;
        ASSERT_TRUE(result.ended) << "a run still waited after 60 s:\n" << output;
        ASSERT_TRUE(WIFEXITED(status)) << output;
        if (WEXITSTATUS(status) == 0) {
            ++succeeded;
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(status), 1);
        // Turned away for load, or for the sessions one user may hold, once the time for retries was over.
        EXPECT_THAT(output,
                    AnyOf(HasSubstr("Failed to connect:\nError 0xad0109: IPC: The service is busy; try again later."),
                          HasSubstr("Failed to connect:\nError 0xad010b: IPC: The user has as many sessions open")));
        ++busy;
    }
    EXPECT_EQ(succeeded + busy, kRuns);
    EXPECT_GT(succeeded, 0);
    std::cout << succeeded << " runs succeeded, " << busy << " were told the service is busy" << std::endl;
}

} // namespace
