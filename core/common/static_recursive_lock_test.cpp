#include "core/common/static_recursive_lock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr long kIncrements = 20000; // the race detector makes each handover slow
#else
constexpr long kIncrements = 100000;
#endif
constexpr int kThreads = 8;

// Zero-filled static storage, as for guarding function-local statics.
Common::StaticRecursiveLock g_lock;
long g_counter = 0; // plain, guarded by g_lock

void IncrementMany()
{
    for (long i = 0; i < kIncrements; ++i) {
        g_lock.Lock();
        ++g_counter;
        g_lock.Unlock();
    }
}

long RunThreads()
{
    g_counter = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(&IncrementMany);
    for (std::thread& thread : threads)
        thread.join();
    return g_counter;
}

TEST(StaticRecursiveLockThreads, ExcludesThreadsBeforeAndAfterDestroy)
{
    EXPECT_EQ(RunThreads(), kThreads * kIncrements);
    g_lock.Destroy();
    EXPECT_EQ(RunThreads(), kThreads * kIncrements);
    g_lock.Destroy(); // may run again
    EXPECT_EQ(RunThreads(), kThreads * kIncrements);
}

TEST(StaticRecursiveLockThreads, ReentrantAndNestedUnderContention)
{
    static Common::StaticRecursiveLock lock;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                lock.Lock();
                lock.Lock();
                const long seen = counter;
                lock.Unlock();
                counter = seen + 1; // still held once
                lock.Unlock();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 8000);
    lock.Destroy();
}

TEST(StaticRecursiveLockThreads, SameThreadRelocksThenAnotherThreadTakesIt)
{
    static Common::StaticRecursiveLock lock;
    lock.Lock();
    lock.Lock();
    lock.Unlock();
    lock.Unlock();
    bool taken = false;
    std::thread([&] {
        lock.Lock();
        lock.Lock();
        taken = true;
        lock.Unlock();
        lock.Unlock();
    }).join();
    EXPECT_TRUE(taken);
    lock.Lock(); // free again
    lock.Unlock();
}

TEST(StaticRecursiveLockThreads, DestroyWhileHeldRecursivelyKeepsWorking)
{
    static Common::StaticRecursiveLock lock;
    lock.Lock();
    lock.Destroy(); // re-enters
    lock.Unlock();
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                lock.Lock();
                ++counter;
                lock.Unlock();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 8000);
}

} // namespace
