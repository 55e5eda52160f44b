// The service process objpatcher-service under hostile and heavy load, and
// what it says on standard error: driven over real sockets, its memory read
// from /proc.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc/frame.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/socket_io.h"
#include "platform/ipc/socket_transport.h"
#include "platform/ipc/transport_test_support.h"
#include "service/request_packets_test_support.h"
#include "service/service_options.h"
#include "service/service_test_support.h"
#include "service/store.h"
#include "service/store_location.h"
#include "service/user_file.h"
#include "testing/error_matchers.h"
#include "testing/temporary_folder.h"

namespace {

using ::testing::AllOf;
using Testing::ErrorIs;
using ::testing::HasSubstr;
using Testing::IsSuccessError;
using ::testing::Not;
using namespace std::chrono_literals;

constexpr int32_t kDml = 46;
// A password no other code of the service holds, so that a scan cannot find it by chance.
constexpr const char* kScanPassword = "Kq3v-9Zx!unusual-secret-7741";
constexpr const char* kScanUser = "scan-user-5c1e";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Lets `duration` pass, so that the service's work on bytes already sent can
// show in what is measured; no other thread is waited for.
void LetTimePass(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

// A memory figure of `pid` in bytes from /proc ("VmRSS:" its resident
// memory now, "VmHWM:" its peak); 0 when there is none.
size_t MemoryBytes(pid_t pid, const std::string& field = "VmRSS:")
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stoull(line.substr(field.size())) * 1024;
    }
    return 0;
}

size_t ResidentBytes(pid_t pid)
{
    return MemoryBytes(pid);
}

// Makes the peak of `pid` start again from its resident memory now.
bool ResetPeak(pid_t pid)
{
    std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
    clear << "5" << std::flush;
    return static_cast<bool>(clear);
}

// A whole number from the test's environment, or `fallback`: the knobs that
// run a load test at another scale.
size_t Knob(const char* name, size_t fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::stoull(value) : fallback;
}

// Whether a page-map entry stands for a page in memory or in swap.
bool Held(uint64_t entry)
{
    return (entry >> 62) != 0;
}

// For each of `needles`, whether it lies in the memory of `pid`: the pages
// its readable mappings hold (reading the others would only give zeros).
std::vector<bool> FoundInMemory(pid_t pid, const std::vector<std::string>& needles)
{
    std::vector<bool> found(needles.size(), false);
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream maps(proc + "/maps");
    const int memory = open((proc + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    const int pageMap = open((proc + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::string line;
    std::vector<uint64_t> entries;
    std::vector<char> data;
    while (memory >= 0 && pageMap >= 0 && std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, name;
        fields >> range >> permissions >> offset >> device >> inode >> name;
        const uintptr_t low = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        const uintptr_t high = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
        // The huge reservations of a sanitizer's shadow are no memory the program wrote to.
        if (permissions[0] != 'r' || high - low > (size_t{1} << 30) || name == "[vvar]" || name == "[vsyscall]")
            continue;
        entries.assign((high - low) / page, 0);
        const off_t at = static_cast<off_t>(low / page * sizeof(uint64_t));
        if (pread(pageMap, entries.data(), entries.size() * sizeof(uint64_t), at) <= 0)
            continue;
        // Each run of held pages is read and searched as one piece.
        for (size_t first = 0; first < entries.size();) {
            if (!Held(entries[first])) {
                ++first;
                continue;
            }
            size_t end = first;
            while (end < entries.size() && Held(entries[end]))
                ++end;
            data.resize((end - first) * page);
            const ssize_t got = pread(memory, data.data(), data.size(), static_cast<off_t>(low + first * page));
            const std::string_view view(data.data(), got > 0 ? static_cast<size_t>(got) : 0);
            for (size_t i = 0; i < needles.size(); ++i)
                found[i] = found[i] || view.find(needles[i]) != std::string_view::npos;
            first = end;
        }
    }
    if (memory >= 0)
        close(memory);
    if (pageMap >= 0)
        close(pageMap);
    return found;
}

class ServiceLoad : public ServiceTesting::MemoryFolder
{
protected:
    void SetUp() override { ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", "secret"), IsSuccessError()); }

    void TearDown() override { ServiceTesting::KillService(m_pid); }

    // How Launch starts the service: always on an ephemeral port, its
    // standard error in the file "stderr".
    struct Launching
    {
        std::vector<std::string> arguments = {}; // before the users file
        std::string usersFile = {};              // empty: "users"
        std::string store = {};                  // empty: "objects.db"
        std::string portFile = {};               // empty: "port", removed first
        std::vector<std::string> environment = {};
    };

    // Starts the service; the end of the pipe that tells when it ended, or -1.
    int Launch(Launching how)
    {
        // What an earlier process wrote must not pass for this one's.
        (void)unlink(PathOf("stderr").c_str());
        if (how.portFile.empty()) {
            how.portFile = PathOf("port");
            (void)unlink(how.portFile.c_str());
        }
        std::vector<std::string> arguments = {"--port",      "0",
                                              "--port-file", how.portFile,
                                              "--store",     how.store.empty() ? PathOf("objects.db") : how.store};
        arguments.insert(arguments.end(), how.arguments.begin(), how.arguments.end());
        arguments.push_back(how.usersFile.empty() ? PathOf("users") : how.usersFile);
        int alive = -1;
        m_pid = ServiceTesting::StartServiceProcess({arguments, how.environment, PathOf("stderr")}, alive);
        return alive;
    }

    // Launches the service; its port, or 0 when it reported none within 10 s
    // (then it ended, or was ended).
    int StartWith(Launching how)
    {
        const std::string portFile = how.portFile.empty() ? PathOf("port") : how.portFile;
        const int alive = Launch(std::move(how));
        m_port = alive >= 0 ? ServiceTesting::WaitForPortFile(portFile, alive, 10s) : 0;
        return m_port;
    }

    // Starts the service with `arguments` before the users file (the
    // fixture's, or `usersFile`); its port, or 0 as Start.
    int Start(std::vector<std::string> arguments = {}, const std::string& usersFile = "")
    {
        return StartWith(Launching{std::move(arguments), usersFile, {}, {}, {}});
    }

    // Whether standard error shows `part` within `limit`.
    bool StandardErrorShows(const std::string& part, std::chrono::milliseconds limit) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (StandardError().find(part) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            pollfd none{-1, 0, 0};
            (void)poll(&none, 0, 5); // a short pause between looks at the file
        }
        return true;
    }

    // The exit status once the process ended, within `limit`; -1 (after killing it) when it did not.
    int ExitStatusWithin(std::chrono::milliseconds limit)
    {
        const int process = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
        pollfd wait{process, POLLIN, 0};
        const bool ended = process >= 0 && poll(&wait, 1, static_cast<int>(limit.count())) == 1;
        if (process >= 0)
            close(process);
        int status = -1;
        if (!ended)
            ServiceTesting::KillService(m_pid);
        else
            (void)waitpid(m_pid, &status, 0);
        m_pid = 0;
        return status;
    }

    std::string StandardError() const { return ReadFile(PathOf("stderr")); }

    Common::Error Login(std::unique_ptr<Ipc::SocketTransport>& transport, const char* user = "alice",
                        const char* password = "secret") const
    {
        return Ipc::SocketTransport::Connect("127.0.0.1:" + std::to_string(m_port), {user, password, kDml}, transport);
    }

    Ipc::SocketHandle LoginRaw(const char* user = "alice", const char* password = "secret") const
    {
        Ipc::FrameKind answer{};
        Ipc::SocketHandle socket = IpcTesting::HandshakeRaw(static_cast<uint16_t>(m_port), {user, password, kDml},
                                                            answer);
        EXPECT_EQ(answer, Ipc::FrameKind::Welcome);
        return socket;
    }

    // A view request answered whole: the service still serves.
    void ExpectServing(Ipc::SocketTransport& transport)
    {
        Ipc::Bytes reply;
        ASSERT_THAT(transport.Exchange(ServiceTesting::ViewPacket(ServiceTesting::GroupPattern(u"g"),
                                                                  ServiceTesting::LimitOptions(2, true)),
                                       reply),
                    IsSuccessError());
        EXPECT_THAT(ServiceTesting::ReadReply(reply, "ViewManager", "OpenStaticView").result, IsSuccessError());
    }

    pid_t m_pid = 0;
    int m_port = 0;
};

TEST_F(ServiceLoad, EightLoginsAnnouncingTheLargestRequestKeepTheMemoryLow)
{
    ASSERT_NE(Start(), 0);
    std::vector<Ipc::SocketHandle> peers;
    for (int i = 0; i < 8; ++i)
        peers.push_back(LoginRaw());
    uint8_t header[Ipc::kFrameHeaderSize];
    Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Request, 1, Ipc::kMaxFramePayload}, header);
    for (const Ipc::SocketHandle& peer : peers) {
        ASSERT_EQ(send(peer.Get(), header, sizeof header, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof header));
        ASSERT_EQ(send(peer.Get(), "0123456789", 10, MSG_NOSIGNAL), 10);
    }
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Login(transport), IsSuccessError());
    ExpectServing(*transport);
    size_t most = 0;
    for (int sample = 0; sample < 10; ++sample) {
        most = std::max(most, ResidentBytes(m_pid));
        LetTimePass(50ms);
    }
    EXPECT_GT(most, 0u);
    EXPECT_LT(most, size_t{64} << 20) << "the service holds memory for what was only announced";
}

TEST_F(ServiceLoad, ThePasswordIsNotInTheServicesMemoryWhileItsSessionIsOpen)
{
    ASSERT_THAT(Service::AddUser(PathOf("users"), kScanUser, kScanPassword), IsSuccessError());
    ASSERT_NE(Start(), 0);
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Login(transport, kScanUser, kScanPassword), IsSuccessError());
    ExpectServing(*transport);
    // The scan sees what the service holds: the user name of the open session.
    const std::vector<bool> found = FoundInMemory(m_pid, {kScanUser, kScanPassword});
    EXPECT_TRUE(found[0]);
    EXPECT_FALSE(found[1]) << "the password lies in the service's memory";
}

TEST_F(ServiceLoad, TwoHundredBadFramesWriteABoundedAmountOfStandardError)
{
    ASSERT_NE(Start(), 0);
    Ipc::SocketHandle peer = LoginRaw();
    Ipc::SocketSource source(peer.Get());
    source.SetDeadline(Ipc::Clock::now() + 60s);
    const size_t before = StandardError().size();
    for (uint64_t call = 1; call <= 200; ++call) {
        const Ipc::Bytes garbage = ServiceTesting::B(call % 2 ? "not a packet at all" : "<a><b></a>");
        ASSERT_THAT(Ipc::WriteFrame(peer.Get(), Ipc::FrameKind::Request, call, garbage), IsSuccessError());
        Ipc::FrameHeader header{};
        Ipc::Bytes answer;
        ASSERT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, answer), IsSuccessError());
        ASSERT_EQ(header.callId, call);
    }
    const std::string written = StandardError().substr(before);
    EXPECT_LT(written.size(), 16384u) << written;
    EXPECT_THAT(written, HasSubstr("times so far"));
    std::unique_ptr<Ipc::SocketTransport> transport;
    ASSERT_THAT(Login(transport), IsSuccessError());
    ExpectServing(*transport);
}

TEST_F(ServiceLoad, ARefusedLoginIsOneLineWithTheUserAndPeerAndNeverThePassword)
{
    ASSERT_NE(Start(), 0);
    const size_t before = StandardError().size();
    std::unique_ptr<Ipc::SocketTransport> transport;
    EXPECT_THAT(Login(transport, "mallory\x1B[2J", "guessed-pw-1234"), ErrorIs(Ipc::kAuthenticationRefused));
    const std::string written = StandardError().substr(before);
    EXPECT_THAT(written,
                AllOf(HasSubstr("refused the login of user \"mallory\\x1B[2J\" from 127.0.0.1:"),
                      Not(HasSubstr("guessed-pw-1234")), Not(HasSubstr("\x1B"))));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1);
}

TEST_F(ServiceLoad, TheStartLineNamesAddressPortAndStore)
{
    ASSERT_NE(Start(), 0);
    EXPECT_EQ(StandardError(),
              "objpatcher-service: listening on 127.0.0.1:" + std::to_string(m_port) + ", serving the store " +
                  PathOf("objects.db") + "\n");
}

TEST_F(ServiceLoad, AnAddressBeyondLoopbackIsWarnedOfAsUnencrypted)
{
    ASSERT_NE(Start({"--listen", "0.0.0.0"}), 0);
    EXPECT_THAT(StandardError(),
                AllOf(HasSubstr("listening on 0.0.0.0:"), HasSubstr("0.0.0.0 is not a loopback address"),
                      HasSubstr("passwords included, is not encrypted"), HasSubstr("SSH tunnel")));
    ServiceTesting::KillService(m_pid);
    ASSERT_NE(Start({"--listen", "::1"}), 0);
    EXPECT_THAT(StandardError(), AllOf(HasSubstr("listening on [::1]:"), Not(HasSubstr("warning"))));
}

TEST_F(ServiceLoad, WhatKeepsTheServiceFromStartingIsNamed)
{
    // The users files in the way lie on disk.
    const Testing::TemporaryFolder disk("service_load_process_test");
    ASSERT_EQ(mkfifo(disk.PathOf("fifo").c_str(), 0600), 0);
    ASSERT_EQ(chmod(disk.PathOf("fifo").c_str(), 0600), 0);
    struct Case
    {
        std::string usersFile;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {disk.PathOf("fifo"), {disk.PathOf("fifo"), "not a regular file"}},
        {disk.PathOf("missing"), {disk.PathOf("missing"), "cannot be opened", "No such file or directory"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Start({}, c.usersFile), 0);
        const int status = ExitStatusWithin(5s);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.usersFile << ": status " << status;
        for (const std::string& part : c.says)
            EXPECT_THAT(StandardError(), HasSubstr(part));
    }
}

TEST_F(ServiceLoad, APortInUseIsAListenFailureNamingAddressAndPort)
{
    ASSERT_NE(Start(), 0);
    const pid_t first = m_pid;
    const std::string port = std::to_string(m_port);
    m_pid = fork();
    if (m_pid == 0) {
        const int error = open(PathOf("stderr2").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(error, STDERR_FILENO);
        execl(OBJPATCHER_SERVICE_PROGRAM, OBJPATCHER_SERVICE_PROGRAM, "--port", port.c_str(), "--store",
              PathOf("other.db").c_str(), PathOf("users").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const int status = ExitStatusWithin(10s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_THAT(ReadFile(PathOf("stderr2")),
                AllOf(HasSubstr("cannot listen on 127.0.0.1:" + port), HasSubstr("Failed to listen"),
                      HasSubstr("Address already in use"), Not(HasSubstr("Failed to connect"))));
    m_pid = first;
}

TEST_F(ServiceLoad, HelpPrintsTheUsageOnStandardOutput)
{
    for (const char* asked : {"--help", "-h"}) {
        const std::string command = std::string(OBJPATCHER_SERVICE_PROGRAM) + " " + asked;
        FILE* output = popen(command.c_str(), "r");
        ASSERT_NE(output, nullptr);
        std::string text;
        char buffer[256];
        while (size_t got = fread(buffer, 1, sizeof buffer, output))
            text.append(buffer, got);
        EXPECT_EQ(pclose(output), 0) << asked;
        EXPECT_EQ(text, Service::kServiceUsage) << asked;
    }
}

// The start of the service: what holds it up, what it trusts, what it writes.

class ServiceStart : public ServiceLoad
{
protected:
    // No users: these tests log in only where they say so, and a hash of
    // adduser's costs far more than their starts.
    void SetUp() override
    {
        const int fd = open(PathOf("users").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fchmod(fd, 0600), 0);
        close(fd);
    }

    static size_t Occurrences(const std::string& text, const std::string& part)
    {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }

    // The names in `folder` that start with `prefix`.
    static std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix)
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0)
                names.push_back(name);
        }
        return names;
    }

    static std::string LockWait(int milliseconds)
    {
        return std::string(Service::kLockWaitVariable) + "=" + std::to_string(milliseconds);
    }
};

TEST_F(ServiceStart, AHeldStoreLockIsNamedOnceAndEndsTheStartWhenTheWaitIsOver)
{
    ServiceTesting::HeldStoreLock held(PathOf("objects.db"));
    const int alive = Launch({.environment = {LockWait(300)}});
    ASSERT_GE(alive, 0);
    close(alive);
    const int status = ExitStatusWithin(20s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    const std::string lock = PathOf("objects.db.lock");
    const std::string written = StandardError();
    EXPECT_THAT(written,
                HasSubstr("objpatcher-service: waiting for the lock file " + lock +
                          ", which another process holds (at most 300 ms)\n"));
    EXPECT_EQ(Occurrences(written, "waiting for the lock file"), 1u) << written;
    EXPECT_THAT(written,
                AllOf(HasSubstr("cannot open the store " + PathOf("objects.db")),
                      HasSubstr(lock +
                                ": another process holds this lock file; gave up waiting for it "
                                "after 300 ms")));
    EXPECT_THAT(NamesStartingWith(m_dir, "port"), ::testing::IsEmpty());
}

TEST_F(ServiceStart, AStopRequestEndsTheStartWhileItWaitsForTheStoreLock)
{
    ServiceTesting::HeldStoreLock held(PathOf("objects.db"));
    for (int stop : {SIGTERM, SIGINT}) {
        const int alive = Launch({.environment = {LockWait(60000)}});
        ASSERT_GE(alive, 0);
        close(alive);
        ASSERT_TRUE(StandardErrorShows("waiting for the lock file", 20s)) << StandardError();
        ASSERT_EQ(kill(m_pid, stop), 0);
        const int status = ExitStatusWithin(5s);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stop) << strsignal(stop) << ": status " << status;
        EXPECT_THAT(NamesStartingWith(m_dir, "port"), ::testing::IsEmpty());
    }
}

TEST_F(ServiceStart, AStoreFileThatCannotBeTrustedIsRefusedByName)
{
    // Tests of file owners and modes make their stores on disk.
    const Testing::TemporaryFolder disk("service_load_process_test");
    const std::string store = disk.PathOf("objects.db");
    {
        std::unique_ptr<Service::Store> made;
        ASSERT_THAT(Service::Store::Open(disk.PathOf("elsewhere.db"), made), IsSuccessError());
    }
    ASSERT_EQ(symlink(disk.PathOf("elsewhere.db").c_str(), store.c_str()), 0);
    EXPECT_EQ(StartWith({.store = store}), 0);
    int status = ExitStatusWithin(10s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_THAT(StandardError(), HasSubstr(store + ": a symbolic link, not a regular file"));

    if (geteuid() != 0)
        GTEST_SKIP() << "a file of another user can only be made as root";
    ASSERT_EQ(unlink(store.c_str()), 0);
    ASSERT_EQ(rename(disk.PathOf("elsewhere.db").c_str(), store.c_str()), 0);
    ASSERT_EQ(chown(store.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(store.c_str(), 0666), 0);
    EXPECT_EQ(StartWith({.store = store}), 0);
    status = ExitStatusWithin(10s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_THAT(StandardError(), HasSubstr(store + ": not owned by this user"));
    EXPECT_THAT(NamesStartingWith(disk.Path(), "objects.db-"), ::testing::IsEmpty());
}

TEST_F(ServiceStart, AStoreOpenToOthersIsServedAndMadePrivateWithALine)
{
    // As an earlier version left it.
    const Testing::TemporaryFolder disk("service_load_process_test");
    const std::string store = disk.PathOf("objects.db");
    {
        std::unique_ptr<Service::Store> made;
        ASSERT_THAT(Service::Store::Open(store, made), IsSuccessError());
    }
    ASSERT_EQ(chmod(store.c_str(), 0644), 0);
    ASSERT_NE(StartWith({.store = store}), 0);
    EXPECT_THAT(
        StandardError(),
        HasSubstr("objpatcher-service: " + store + " was open to group or others (mode 0644); its mode is now 0600\n"));
    // The companions SQLite made since take the store's mode.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat status
        {
        };
        ASSERT_EQ(stat((store + suffix).c_str(), &status), 0) << suffix;
        EXPECT_EQ(status.st_mode & 07777, 0600u) << store << suffix;
    }
}

TEST_F(ServiceStart, ThePortFileReplacesALinkInsteadOfWritingThroughIt)
{
    {
        std::ofstream(PathOf("target")) << "the test's own file\n";
    }
    ASSERT_EQ(symlink(PathOf("target").c_str(), PathOf("port-link").c_str()), 0);
    ASSERT_NE(StartWith({.portFile = PathOf("port-link")}), 0);
    EXPECT_EQ(ReadFile(PathOf("target")), "the test's own file\n");
    struct stat status
    {
    };
    ASSERT_EQ(lstat(PathOf("port-link").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(ReadFile(PathOf("port-link")), std::to_string(m_port) + "\n");
    EXPECT_THAT(NamesStartingWith(m_dir, "port"), ::testing::ElementsAre("port-link"));
}

TEST_F(ServiceStart, APortFileThatCannotBeWrittenIsNamedAndLeavesNoTemporaryFile)
{
    ASSERT_EQ(mkdir(PathOf("port-folder").c_str(), 0700), 0);
    EXPECT_EQ(StartWith({.portFile = PathOf("port-folder")}), 0);
    const int status = ExitStatusWithin(10s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_THAT(StandardError(),
                AllOf(HasSubstr("cannot write the port to " + PathOf("port-folder") + ": cannot rename "),
                      HasSubstr("Is a directory")));
    EXPECT_THAT(NamesStartingWith(m_dir, "port"), ::testing::ElementsAre("port-folder"));
}

TEST_F(ServiceStart, WeakHashesOfTheUsersFileAreWarnedOfByLineAndStillLogIn)
{
    const std::string strong = ServiceTesting::HashWith("strong password", crypto_pwhash_ALG_ARGON2ID13,
                                                        Service::kHashOperationsLimit, Service::kHashMemoryLimit);
    const std::string weak = ServiceTesting::HashWith("weak password", crypto_pwhash_ALG_ARGON2ID13, 1, 8192);
    ASSERT_FALSE(strong.empty() || weak.empty());
    {
        std::ofstream(PathOf("users"), std::ios::app) << "strong:" << strong << "\nweak:" << weak << "\n";
    }
    ASSERT_NE(Start(), 0);
    const std::string written = StandardError();
    EXPECT_THAT(written,
                HasSubstr("objpatcher-service: warning: users file " + PathOf("users") +
                          ": line 2: its hash is weaker than those adduser makes (argon2id, m=8, t=1; "));
    EXPECT_EQ(Occurrences(written, "warning: users file"), 1u) << written;
    std::unique_ptr<Ipc::SocketTransport> transport;
    EXPECT_THAT(Login(transport, "weak", "weak password"), IsSuccessError());
}

TEST_F(ServiceLoad, UnknownNamesWaitAsOneUserWhileAFloodOfFailingLoginsIsLoggedWithinBounds)
{
    ASSERT_THAT(Service::AddUser(PathOf("users"), "bob", "bobs-right-password"), IsSuccessError());
    ASSERT_NE(Start(), 0);
    const size_t before = StandardError().size();
    // Wrong passwords for bob and made-up names, each Hello sent again as soon as it is answered: more of
    // each than one user's places, fewer than the places of all, so that only names taken as one user
    // push out Hellos of their own.
    // The knobs run it at full scale, e.g. 128 connections and 20 logins.
    const size_t connections = Knob("SERVICE_LOAD_FLOOD_CONNECTIONS", 32);
    const int logins = static_cast<int>(Knob("SERVICE_LOAD_FLOOD_LOGINS", 3));
    IpcTesting::Flood flood(static_cast<uint16_t>(m_port), connections, [](size_t connection, uint64_t count) {
        return connection % 2 == 0 ? Ipc::HelloRecord{"bob", "flood-guess-" + std::to_string(count), kDml}
                                   : Ipc::HelloRecord{"nobody-" + std::to_string(count), "flood-guess", kDml};
    });
    const auto floodStarted = std::chrono::steady_clock::now();
    while (flood.Answers() < 64 && std::chrono::steady_clock::now() - floodStarted < 10s)
        LetTimePass(10ms);
    ASSERT_GE(flood.Answers(), 64u);
    // Each login costs a real password check; the server's own tests count twenty under a larger flood.
    std::vector<std::chrono::milliseconds> took;
    for (int login = 0; login < logins; ++login) {
        const auto started = std::chrono::steady_clock::now();
        std::unique_ptr<Ipc::SocketTransport> transport;
        EXPECT_THAT(Login(transport), IsSuccessError()) << "login " << login;
        took.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started));
        EXPECT_LT(took.back(), 15s) << "login " << login;
    }
    flood.Stop();
    std::sort(took.begin(), took.end());
    if (!took.empty())
        std::cerr << "logins under a flood of " << connections << " connections: " << took.size() << ", median "
                  << took[took.size() / 2].count() << " ms, most " << took.back().count() << " ms\n";
    const std::string written = StandardError().substr(before);
    EXPECT_THAT(written,
                AllOf(HasSubstr("refused the login of user \"bob\""),
                      HasSubstr("answered busy to the login of user \"nobody-"), Not(HasSubstr("flood-guess"))));
    EXPECT_LT(std::count(written.begin(), written.end(), '\n'), 100) << written;
}

// The views of eight sessions at once, each of the same large objects: every
// one is answered whole, while their replies take turns within the service's
// reply budget, and the service gives their memory back once they are done.
// The knobs run it at full scale, e.g. 20 objects of 2048 KiB with the
// default budget of 256 MiB.
TEST_F(ServiceLoad, EightLargeViewsAtOnceStayWithinTheReplyBudgetAndTheirMemoryComesBack)
{
    const size_t objectBytes = Knob("SERVICE_LOAD_VIEW_OBJECT_KIB", 1024) << 10;
    const uint32_t objects = static_cast<uint32_t>(Knob("SERVICE_LOAD_VIEW_OBJECTS", 8));
    const size_t budgetMegabytes = Knob("SERVICE_LOAD_REPLY_BUDGET_MB", 16);
    const int kViews = static_cast<int>(Knob("SERVICE_LOAD_VIEWS", 8));
    Launching how;
    how.environment = {std::string(Service::kReplyBudgetVariable) + "=" + std::to_string(budgetMegabytes)};
    ASSERT_NE(StartWith(how), 0);
    {
        std::unique_ptr<Ipc::SocketTransport> transport;
        ASSERT_THAT(Login(transport), IsSuccessError());
        for (uint32_t i = 0; i < objects; ++i) {
            Ipc::Bytes reply;
            ASSERT_THAT(
                transport->Exchange(ServiceTesting::RequestPacket(
                                        "ObjectManager", "RegisterObject",
                                        {{"object", ServiceTesting::MakeLargeObject(i, u"large", objectBytes)}}),
                                    reply),
                IsSuccessError());
            ASSERT_THAT(ServiceTesting::ReadReply(reply, "ObjectManager", "RegisterObject").result, IsSuccessError());
        }
    }
    // Logged in first: a password check takes memory of its own, as much as
    // the hash's parameters ask.
    std::vector<std::unique_ptr<Ipc::SocketTransport>> sessions(kViews);
    for (std::unique_ptr<Ipc::SocketTransport>& session : sessions)
        ASSERT_THAT(Login(session), IsSuccessError());
    [[maybe_unused]] const size_t before = ResidentBytes(m_pid); // read where no sanitizer holds memory back
    ASSERT_TRUE(ResetPeak(m_pid));
    std::atomic<int> whole{0};
    std::vector<std::thread> views;
    for (std::unique_ptr<Ipc::SocketTransport>& session : sessions) {
        views.emplace_back([&] {
            Ipc::Bytes reply;
            if (session->Exchange(ServiceTesting::ViewPacket(ServiceTesting::GroupPattern(u"large"), nullptr), reply)
                    .IsSuccess()) {
                const ServiceTesting::Reply read = ServiceTesting::ReadReply(reply, "ViewManager", "OpenStaticView");
                if (read.result.IsSuccess() && read.snapshot.size() == objects)
                    ++whole;
            }
        });
    }
    for (std::thread& view : views)
        view.join();
    EXPECT_EQ(whole.load(), kViews);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A view holds its objects and their Base64 text, 4/3 of them; the
    // views beside each other hold the budget at most, or one view when it
    // is larger; the rest are the caches of the store's read connections.
    const size_t oneView = objects * objectBytes * 7 / 3;
    const size_t peak = MemoryBytes(m_pid, "VmHWM:");
    EXPECT_LT(peak, before + std::max(budgetMegabytes << 20, oneView) + (size_t{40} << 20))
        << "peak " << (peak >> 20) << " MiB, " << (before >> 20) << " MiB before the views";
    const auto done = std::chrono::steady_clock::now();
    size_t now = ResidentBytes(m_pid);
    while (now > before + (size_t{32} << 20) && std::chrono::steady_clock::now() - done < 10s) {
        LetTimePass(50ms);
        now = ResidentBytes(m_pid);
    }
    EXPECT_LT(now, before + (size_t{32} << 20))
        << (now >> 20) << " MiB 10 s after the views, " << (before >> 20) << " MiB before them";
    std::cerr << "views: " << (before >> 20) << " MiB before, peak " << (peak >> 20) << " MiB, then " << (now >> 20)
              << " MiB within "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - done).count()
              << " ms\n";
#endif
}

} // namespace
