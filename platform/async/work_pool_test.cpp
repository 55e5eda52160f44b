#include "platform/async/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using AsyncPlatform::WorkPool;
using namespace std::chrono_literals;

TEST(WorkPoolThreads, TasksThatWaitForEachOtherAllRun)
{
    constexpr int kTasks = 32;
    WorkPool pool(10s);
    std::latch started(kTasks);
    std::latch finished(kTasks);
    for (int i = 0; i < kTasks; ++i)
        ASSERT_TRUE(pool.Submit([&] {
            started.count_down();
            started.wait(); // every task blocks until all have started
            finished.count_down();
        }));
    finished.wait();
    EXPECT_EQ(pool.ThreadCount(), size_t(kTasks));
}

TEST(WorkPoolThreads, AnIdleThreadTakesTheNextTaskInsteadOfANewThread)
{
    WorkPool pool(10s);
    for (int i = 0; i < 20; ++i) {
        std::promise<std::thread::id> ran;
        ASSERT_TRUE(pool.Submit([&] { ran.set_value(std::this_thread::get_id()); }));
        ran.get_future().wait();
        ASSERT_TRUE(pool.WaitForIdleThreads(1, 10s));
    }
    EXPECT_EQ(pool.ThreadCount(), 1u);
}

TEST(WorkPoolThreads, IdleThreadsRetire)
{
    WorkPool pool(1ms);
    std::latch done(4);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(pool.Submit([&] { done.count_down(); }));
    done.wait();
    EXPECT_TRUE(pool.WaitForIdleThreads(0, 30s));
    // A retired pool grows again.
    std::promise<void> again;
    ASSERT_TRUE(pool.Submit([&] { again.set_value(); }));
    again.get_future().wait();
}

TEST(WorkPoolThreads, DestructionRunsEveryQueuedTaskFirst)
{
    std::atomic<int> runs{0};
    {
        WorkPool pool(10s);
        std::promise<void> release;
        std::shared_future<void> gate = release.get_future().share();
        for (int i = 0; i < 200; ++i)
            ASSERT_TRUE(pool.Submit([&runs, gate] {
                gate.wait();
                runs.fetch_add(1);
            }));
        release.set_value();
    }
    EXPECT_EQ(runs.load(), 200);
}

TEST(WorkPoolThreads, TasksSubmitTasks)
{
    WorkPool pool(10s);
    constexpr int kDepth = 50;
    std::promise<void> last;
    std::function<void(int)> chain = [&](int left) {
        if (left == 0) {
            last.set_value();
            return;
        }
        ASSERT_TRUE(pool.Submit([&chain, left] { chain(left - 1); }));
    };
    chain(kDepth);
    last.get_future().wait();
}

} // namespace
