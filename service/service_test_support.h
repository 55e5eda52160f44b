// Test support of the service tests: a temporary folder removed afterwards,
// bytes from text, the process-wide folder of the local road's store, and the
// service process started on an ephemeral loopback port.
//
// Threading: used on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/ipc/bytes.h"
#include "service/store_location.h"

namespace ServiceTesting {

class TemporaryFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/service_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        const std::string command = "rm -rf '" + m_dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }

    std::string m_dir;
};

inline Ipc::Bytes B(const std::string& text)
{
    return Ipc::Bytes(text.begin(), text.end());
}

// The local road's store is process-wide: every test of the program that
// reaches it shares one temporary folder, set before its first request and
// removed at exit.
inline const std::string& LocalStoreFolder()
{
    // Never destroyed: the removal at exit still reads it.
    static const std::string* const folder = [] {
        char pattern[] = "/tmp/service_local_road.XXXXXX";
        const std::string* made = new std::string(mkdtemp(pattern) ? pattern : "");
        setenv(Service::kStoreFolderVariable, made->c_str(), 1);
        std::atexit([] { (void)std::system(("rm -rf '" + LocalStoreFolder() + "'").c_str()); });
        return made;
    }();
    return *folder;
}

#ifdef OBJPATCHER_SERVICE_PROGRAM
// Starts objpatcher-service on an ephemeral loopback port with the users file
// and the store given; `port` receives its port (0 when it reported none).
inline pid_t LaunchService(const std::string& usersFile, const std::string& storePath, int& port)
{
    constexpr int kPortDescriptor = 9;
    int pipeEnds[2];
    port = 0;
    if (pipe(pipeEnds) != 0)
        return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], kPortDescriptor);
        const std::string portFile = "/dev/fd/" + std::to_string(kPortDescriptor);
        execl(OBJPATCHER_SERVICE_PROGRAM, OBJPATCHER_SERVICE_PROGRAM, "--port", "0", "--port-file", portFile.c_str(),
              "--store", storePath.c_str(), usersFile.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string text;
    char c;
    while (read(pipeEnds[0], &c, 1) == 1 && c != '\n')
        text += c;
    close(pipeEnds[0]);
    port = text.empty() ? 0 : std::stoi(text);
    return pid;
}

// Ends a launched service at once.
inline void KillService(pid_t pid)
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}
#endif

} // namespace ServiceTesting
