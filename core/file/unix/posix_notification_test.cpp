#include "core/file/unix/posix_notification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/common/error_text.h"
#include "core/file/unix/posix_dir_test_support.h"
#include "testing/error_matchers.h"

namespace {

using namespace posix_dir_test;

constexpr uint32_t kWatchWait = 3000; // ms; the watcher looks at each directory about once a second

// What the handlers of one test saw; outlives the handlers.
struct Probe
{
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    bool destroyed = false;
    std::u16string lastPath;

    template <class Predicate>
    bool WaitFor(Predicate predicate)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kWatchWait), predicate);
    }
    int Calls()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
};

class RecordingHandler : public notification_handler
{
public:
    // `duringCall` runs inside OnChange, after the call was recorded.
    explicit RecordingHandler(Probe& probe, std::function<void(i_dir*)> duringCall = {})
        : m_probe(probe), m_duringCall(std::move(duringCall))
    {
    }
    ~RecordingHandler() override
    {
        std::lock_guard lock(m_probe.mutex);
        m_probe.destroyed = true;
        m_probe.changed.notify_all();
    }
    void OnChange(i_dir* changed) override
    {
        {
            std::lock_guard lock(m_probe.mutex);
            ++m_probe.calls;
            m_probe.lastPath = changed->GetPath();
            m_probe.changed.notify_all();
        }
        if (m_duringCall)
            m_duringCall(changed);
    }

private:
    Probe& m_probe;
    std::function<void(i_dir*)> m_duringCall;
};

// Registers a new handler and hands the registration its only reference.
void Register(posix_dir& directory, notification_handler* handler)
{
    directory.EnableNotification(handler);
    EXPECT_TRUE(directory.IsClear());
    handler->Release();
}

// Backdates a directory's modification time, so that any change made now
// moves it even on a coarse file-system clock.
void Backdate(const std::string& path)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    const timeval times[2] = {{now.tv_sec - 3600, 0}, {now.tv_sec - 3600, 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
}

// A watched directory "watched" in a scratch directory, its first look done.
class PosixNotificationThreads : public ScratchTest
{
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        m_watchedPath = Path("watched");
        ASSERT_EQ(mkdir(m_watchedPath.c_str(), 0755), 0);
        Backdate(m_watchedPath);
        m_watched = std::make_unique<posix_dir>(m_watchedPath);
    }
    void StartWatching(std::function<void(i_dir*)> duringCall = {})
    {
        Register(*m_watched, new RecordingHandler(m_probe, std::move(duringCall)));
        ASSERT_GE(WaitForNotificationLooks(*m_watched, 1, kWatchWait), 1u);
    }
    uint64_t LooksSoFar(posix_dir& directory) { return WaitForNotificationLooks(directory, 0, 0); }

    std::string m_watchedPath;
    std::unique_ptr<posix_dir> m_watched;
    Probe m_probe;
};

TEST_F(PosixNotificationThreads, ACreatedFileIsReportedOnceUntilTheReset)
{
    // A second registration keeps the watcher polling while "watched" waits
    // for its reset.
    ASSERT_EQ(mkdir(Path("other").c_str(), 0755), 0);
    posix_dir other(Path("other"));
    Probe otherProbe;
    Register(other, new RecordingHandler(otherProbe));
    StartWatching();
    EXPECT_EQ(m_probe.Calls(), 0) << "the first look only records the time";

    WriteFile(m_watchedPath + "/first", "1");
    ASSERT_TRUE(m_probe.WaitFor([&] { return m_probe.calls >= 1; }));
    EXPECT_EQ(m_probe.lastPath, std::u16string(m_watchedPath.begin(), m_watchedPath.end()) + u"/");

    // Out of the ring until the reset: the watcher looks at "other" only.
    WriteFile(m_watchedPath + "/second", "2");
    const uint64_t watchedLooks = LooksSoFar(*m_watched);
    const uint64_t otherLooks = LooksSoFar(other);
    ASSERT_GE(WaitForNotificationLooks(other, otherLooks + 1, kWatchWait), otherLooks + 1);
    EXPECT_EQ(LooksSoFar(*m_watched), watchedLooks);
    EXPECT_EQ(m_probe.Calls(), 1);

    // The change made meanwhile is reported after the reset, once.
    m_watched->ResetNotification();
    ASSERT_TRUE(m_probe.WaitFor([&] { return m_probe.calls >= 2; }));
    m_watched->ResetNotification();
    const uint64_t afterCall = LooksSoFar(*m_watched);
    ASSERT_GE(WaitForNotificationLooks(*m_watched, afterCall + 1, kWatchWait), afterCall + 1);
    EXPECT_EQ(m_probe.Calls(), 2);
    EXPECT_EQ(otherProbe.Calls(), 0);
}

TEST_F(PosixNotificationThreads, ARemovedDirectoryIsReportedOnce)
{
    StartWatching();
    ASSERT_EQ(rmdir(m_watchedPath.c_str()), 0);
    ASSERT_TRUE(m_probe.WaitFor([&] { return m_probe.calls >= 1; }));
    m_watched->ResetNotification();
    const uint64_t looks = LooksSoFar(*m_watched);
    ASSERT_GE(WaitForNotificationLooks(*m_watched, looks + 1, kWatchWait), looks + 1);
    EXPECT_EQ(m_probe.Calls(), 1) << "still unreadable is no new change";
}

TEST_F(PosixNotificationThreads, ASecondHandlerReplacesTheFirst)
{
    Probe first;
    Register(*m_watched, new RecordingHandler(first));
    EXPECT_FALSE(first.destroyed);
    StartWatching();
    EXPECT_TRUE(first.destroyed) << "the replaced handler is released at once";

    WriteFile(m_watchedPath + "/file", "x");
    ASSERT_TRUE(m_probe.WaitFor([&] { return m_probe.calls >= 1; }));
    EXPECT_EQ(first.calls, 0);
    m_watched.reset();
    EXPECT_TRUE(m_probe.WaitFor([&] { return m_probe.destroyed; }));
}

// The registration goes away while OnChange runs; the handler and the record
// live until the call has returned, and then both are freed.
TEST_F(PosixNotificationThreads, DestroyingTheDirectoryDuringACallFreesTheRegistrationAfterIt)
{
    std::mutex gate;
    std::condition_variable opened;
    bool mayReturn = false;
    bool destroyedDuringCall = true;
    StartWatching([&](i_dir* changed) {
        std::unique_lock lock(gate);
        opened.wait(lock, [&] { return mayReturn; });
        {
            std::lock_guard probeLock(m_probe.mutex);
            destroyedDuringCall = m_probe.destroyed;
        }
        // Re-armed through the temporary directory: freed all the same once
        // the call is over.
        changed->ResetNotification();
    });
    WriteFile(m_watchedPath + "/file", "x");
    ASSERT_TRUE(m_probe.WaitFor([&] { return m_probe.calls >= 1; }));
    m_watched.reset();
    {
        std::lock_guard lock(gate);
        mayReturn = true;
    }
    opened.notify_all();
    EXPECT_TRUE(m_probe.WaitFor([&] { return m_probe.destroyed; }));
    EXPECT_FALSE(destroyedDuringCall);
    EXPECT_EQ(m_probe.Calls(), 1);
}

TEST_F(PosixNotificationThreads, RemovingTheRegistrationInsideTheCallFreesItAfterTheCall)
{
    bool destroyedDuringCall = true;
    StartWatching([&](i_dir*) {
        m_watched->EnableNotification(nullptr);
        std::lock_guard lock(m_probe.mutex);
        destroyedDuringCall = m_probe.destroyed;
    });
    WriteFile(m_watchedPath + "/file", "x");
    EXPECT_TRUE(m_probe.WaitFor([&] { return m_probe.destroyed; }));
    EXPECT_FALSE(destroyedDuringCall);
    EXPECT_EQ(m_probe.Calls(), 1);
    EXPECT_EQ(LooksSoFar(*m_watched), 0u) << "no registration left";
}

// The watcher thread cannot be started: the registration fails with 0x40007
// and keeps nothing, and a later registration starts the thread after all.
// Run in a fresh process, where no earlier test has started the watcher.
TEST_F(PosixNotificationThreads, AWatcherThatCannotStartKeepsNothing)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool ok = true;
            auto check = [&ok](bool holds, const char* what) {
                if (!holds)
                    std::fprintf(stderr, "not so: %s\n", what);
                ok = ok && holds;
            };
            SetNotificationThreadStarterForTesting([](pthread_t*, void* (*)(void*)) { return EAGAIN; });
            auto* handler = new RecordingHandler(m_probe);
            m_watched->EnableNotification(handler);
            const Common::Error error = m_watched->TakeError();
            std::fprintf(stderr, "%s\n", Common::ErrorToUtf8Text(error).c_str());
            check(::testing::Matches(::testing::AllOf(
                      Testing::ErrorIs(0x40007), Testing::HasText(u"Error occurred while opening the file."),
                      Testing::RaisedAt("core/file/unix/posixsp", "EnableNotification", 1226)))(error),
                  "0x40007 at EnableNotification, line 1226");
            handler->Release();
            check(m_probe.destroyed, "the handler was released: the registration kept no reference");
            check(WaitForNotificationLooks(*m_watched, 0, 0) == 0, "the directory is not registered");

            SetNotificationThreadStarterForTesting(nullptr);
            Probe later;
            auto* laterHandler = new RecordingHandler(later);
            m_watched->EnableNotification(laterHandler);
            laterHandler->Release();
            check(m_watched->IsClear(), "the next registration succeeds");
            check(WaitForNotificationLooks(*m_watched, 1, kWatchWait) >= 1, "the started watcher looks");
            m_watched->EnableNotification(nullptr);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "Error occurred while opening the file.");
}

TEST(PosixNotification, PollIntervalSharesASecondWithAFloorOf100Milliseconds)
{
    const struct
    {
        uint32_t count;
        uint32_t interval;
    } cases[] = {{1, 1000}, {2, 500}, {3, 333}, {4, 250}, {10, 100}, {11, 100}, {20, 100}, {0, 1000}};
    for (const auto& c : cases)
        EXPECT_EQ(NotificationPollInterval(c.count), c.interval) << c.count;
}

TEST(PosixNotification, ARegistrationLeftAtExitIsReported)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Probe probe;
            auto* directory = new posix_dir("/tmp");
            Register(*directory, new RecordingHandler(probe));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "NotificationCount == 0, file core/file/unix/posixsp, line 203");
}

} // namespace
