#include "core/common/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "testing/scoped_environment.h"

namespace {

TEST(Mutex, IsRecursive)
{
    Common::Mutex mutex;
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(mutex.Lock(), 0);
    mutex.Unlock();
    mutex.Unlock();
}

TEST(MutexThreads, ExcludesOtherThreads)
{
    Common::Mutex mutex;
    long counter = 0;
    std::thread threads[4];
    for (std::thread& thread : threads)
        thread = std::thread([&] {
            for (int i = 0; i < 10000; ++i) {
                mutex.Lock();
                mutex.Lock();
                ++counter;
                mutex.Unlock();
                mutex.Unlock();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 40000);
}

TEST(MutexThreads, UnlockFromNonOwnerIsReported)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the race detector stops on this misuse itself";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Testing::ScopedEnvironmentVariable policy("QUORVAN_SAFE_ASSERT", "log");
    EXPECT_EXIT(
        {
            Common::Mutex mutex;
            mutex.Lock();
            std::thread([&] { mutex.Unlock(); }).join();
            std::fflush(stderr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^Assertion failed: ret == 0 && \"Probably unlock from non-owner thread!\", file [^\n]*mutex.cpp, line "
        "[0-9]+\n$");
}

// Constant-initialized: usable by code that runs before any constructor.
constinit Common::NonRecursiveMutex g_staticMutex;

// A lock left held would keep the other thread out for good: it gets a deadline.
bool AnotherThreadTakes(Common::NonRecursiveMutex& mutex)
{
    auto taken = std::make_shared<std::promise<void>>();
    std::future<void> done = taken->get_future();
    std::thread([&mutex, taken] {
        Common::LockGuard guard(mutex);
        taken->set_value();
    }).detach();
    return done.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
}

TEST(UniqueLockThreads, ReleasesExactlyWhatItHoldsAcrossUnlockAndLock)
{
    {
        Common::UniqueLock guard(g_staticMutex);
        guard.Unlock();
        EXPECT_TRUE(AnotherThreadTakes(g_staticMutex)) << "Unlock kept the mutex";
        guard.Lock();
    }
    EXPECT_TRUE(AnotherThreadTakes(g_staticMutex)) << "the destructor kept the mutex";
    {
        Common::UniqueLock guard(g_staticMutex);
        guard.Unlock();
    } // the destructor must not unlock a second time
    EXPECT_TRUE(AnotherThreadTakes(g_staticMutex));
}

} // namespace
