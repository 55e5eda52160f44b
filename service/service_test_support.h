// Test support of the service tests: a fixture giving each test a folder of
// its own (on disk, or in memory for tests whose stores need no disk), bytes
// from text, the process-wide folder of the local road's store, and the
// service process started on an ephemeral loopback port (its port read from
// its port file), another opener's hold on a store's lock file, and
// password hashes of any cost.
//
// Threading: used on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sodium.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

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

// A hash of `password` made by libsodium with `algorithm`
// (crypto_pwhash_ALG_*) at the given limits, which may be far below the
// service's own; empty when libsodium refuses them.
inline std::string HashWith(const std::string& password, int algorithm, unsigned long long operations, size_t memory)
{
    char hash[crypto_pwhash_STRBYTES] = {};
    if (sodium_init() < 0 ||
        crypto_pwhash_str_alg(hash, password.data(), password.size(), operations, memory, algorithm) != 0)
        return {};
    return hash;
}

#ifdef OBJPATCHER_SERVICE_PROGRAM
// objpatcher-service started by StartServiceProcess.
struct ServiceStart
{
    std::vector<std::string> arguments;   // after the program's name
    std::vector<std::string> environment; // "NAME=value" set or replaced in the test's environment
    std::string errorFile;                // standard error goes here when not empty
};

// Starts objpatcher-service as `start` says; its process id, or 0. `alive`
// receives the reading end of a pipe whose other end only the service holds:
// it reads as ended once the service ended.
inline pid_t StartServiceProcess(ServiceStart start, int& alive)
{
    constexpr int kAliveDescriptor = 9;
    alive = -1;
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const bool replaced = std::any_of(start.environment.begin(), start.environment.end(), [&](const auto& added) {
            return entry.compare(0, added.find('=') + 1, added, 0, added.find('=') + 1) == 0;
        });
        if (!replaced)
            environment.push_back(entry);
    }
    environment.insert(environment.end(), start.environment.begin(), start.environment.end());
    std::vector<char*> argv{const_cast<char*>(OBJPATCHER_SERVICE_PROGRAM)};
    for (std::string& argument : start.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        // Open across the exec (dup2 onto itself would keep close-on-exec).
        if (pipeEnds[1] == kAliveDescriptor)
            fcntl(kAliveDescriptor, F_SETFD, 0);
        else
            dup2(pipeEnds[1], kAliveDescriptor);
        if (!start.errorFile.empty()) {
            const int error = open(start.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            dup2(error, STDERR_FILENO);
        }
        execve(OBJPATCHER_SERVICE_PROGRAM, argv.data(), envp.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        return 0;
    }
    alive = pipeEnds[0];
    return pid;
}

// The port in the port file `path`, or 0 when there is none (yet). The
// service writes it whole under another name and renames it into place.
inline int ReadPortFile(const std::string& path)
{
    std::ifstream in(path);
    std::string text;
    if (!std::getline(in, text) || text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoi(text);
}

// Waits for the port file `path` of the service whose `alive` end is given
// (closed here): the port, or 0 once the service ended without one or
// `limit` passed.
inline int WaitForPortFile(const std::string& path, int alive, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int port = 0;
    for (;;) {
        port = ReadPortFile(path);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (port != 0 || left.count() <= 0)
            break;
        // The file's arrival does not wake the poll: look again every few milliseconds.
        pollfd wait{alive, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(std::min<int64_t>(left.count(), 5))) > 0) {
            port = ReadPortFile(path); // ended: it may have written the port just before
            break;
        }
    }
    close(alive);
    return port;
}

// Starts objpatcher-service on an ephemeral loopback port with the users file
// and the store given; `port` receives its port (0 when it reported none
// within a minute). Its port file lies beside the store.
inline pid_t LaunchService(const std::string& usersFile, const std::string& storePath, int& port)
{
    static int launches = 0;
    const std::string portFile = storePath + ".port-" + std::to_string(getpid()) + "-" + std::to_string(++launches);
    (void)unlink(portFile.c_str());
    int alive = -1;
    const pid_t pid = StartServiceProcess(
        {{"--port", "0", "--port-file", portFile, "--store", storePath, usersFile}, {}, {}}, alive);
    port = pid > 0 ? WaitForPortFile(portFile, alive, std::chrono::minutes(1)) : 0;
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
