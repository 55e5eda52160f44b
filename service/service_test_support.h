// Test support of the service tests: a fixture giving each test a folder of
// its own (on disk, or in memory for tests whose stores need no disk), bytes
// from text, the process-wide folder of the local road's store, and the
// service process started on an ephemeral loopback port, and another
// opener's hold on a store's lock file.
//
// Threading: used on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/ipc/bytes.h"
#include "service/store_location.h"
#include "testing/scoped_environment.h"
#include "testing/temporary_folder.h"

namespace ServiceTesting {

// Each test gets a fresh folder under $TMPDIR, removed with all it holds once
// the test and its fixture are gone (after TearDown).
class TemporaryFolder : public ::testing::Test
{
protected:
    explicit TemporaryFolder(const std::string& parent = Testing::TemporaryFolder::DefaultParent())
        : m_folder("service_test", parent)
    {
    }

    std::string PathOf(const std::string& name) const { return m_folder.PathOf(name); }

    Testing::TemporaryFolder m_folder;
    const std::string m_dir = m_folder.Path(); // the folder itself
};

// The same in memory where the machine has a memory file system: for tests
// whose stores need no disk, since every write commits with a sync. Tests of
// file modes or of the file system keep to TemporaryFolder.
class MemoryFolder : public TemporaryFolder
{
protected:
    MemoryFolder() : TemporaryFolder(Testing::TemporaryFolder::InMemoryParent()) {}
};

inline Ipc::Bytes B(const std::string& text)
{
    return Ipc::Bytes(text.begin(), text.end());
}

// The local road's store is process-wide: every test of the program that
// reaches it shares one folder (in memory where the machine has it), named by
// the store variable from the first call on and removed at exit. A folder or
// variable that cannot be made throws std::system_error.
inline const std::string& LocalStoreFolder()
{
    struct LocalStore
    {
        Testing::TemporaryFolder folder{"service_local_road", Testing::TemporaryFolder::InMemoryParent()};
        Testing::ScopedEnvironmentVariable variable{Service::kStoreFolderVariable, folder.Path().c_str()};
    };
    // Never destroyed: the variable holds until the end, and the folder goes
    // in the exit action of the temporary folders.
    static const LocalStore* const store = new LocalStore;
    return store->folder.Path();
}

// Holds the lock of a store's lock file `<store>.lock` (made when missing)
// while it lives, as another opener of the store would.
class HeldStoreLock
{
public:
    explicit HeldStoreLock(const std::string& store)
        : m_fd(open((store + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600))
    {
        EXPECT_GE(m_fd, 0) << store;
        EXPECT_EQ(flock(m_fd, LOCK_EX | LOCK_NB), 0) << store;
    }
    ~HeldStoreLock() { Release(); }
    HeldStoreLock(const HeldStoreLock&) = delete;
    HeldStoreLock& operator=(const HeldStoreLock&) = delete;

    void Release()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

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
