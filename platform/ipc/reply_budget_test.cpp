// The reply budget: shares fit beside each other up to the budget, wait their
// turn in the order they came, and one larger than the whole runs alone.

#include "platform/ipc/reply_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

// Spins until `budget` has `waiting` shares waiting: the thread that asked is
// then inside its wait.
void AwaitWaiting(Ipc::ReplyBudget& budget, size_t waiting)
{
    while (budget.GetWaiting() != waiting)
        std::this_thread::yield();
}

TEST(ReplyBudgetThreads, ASharePastTheBudgetWaitsUntilBytesComeBack)
{
    Ipc::ReplyBudget budget(100);
    Ipc::ReplyLease first(budget);
    Ipc::ReplyLease second(budget);
    first.Take(60);
    second.Take(40); // fits exactly
    EXPECT_EQ(budget.GetBytesInUse(), 100u);

    std::atomic<bool> granted{false};
    std::thread waiter([&] {
        Ipc::ReplyLease third(budget);
        third.Take(30);
        granted = true;
    });
    AwaitWaiting(budget, 1);
    second.Release(); // 40 free again: the 30 fit beside the 60
    waiter.join();
    EXPECT_TRUE(granted);
    EXPECT_EQ(budget.GetBytesInUse(), 60u); // the third gave its share back at its end
}

TEST(ReplyBudgetThreads, AShareThatWouldFitWaitsBehindAnEarlierOneThatDoesNot)
{
    Ipc::ReplyBudget budget(100);
    Ipc::ReplyLease held(budget);
    held.Take(50);

    std::atomic<bool> released{false};
    std::atomic<int> grantedEarly{0};
    auto take = [&](size_t bytes) {
        Ipc::ReplyLease lease(budget);
        lease.Take(bytes);
        if (!released)
            ++grantedEarly;
    };
    std::thread large(take, 80); // waits for the 50
    AwaitWaiting(budget, 1);
    std::thread small(take, 10); // would fit beside the 50, but comes after the large one
    AwaitWaiting(budget, 2);
    released = true;
    held.Release();
    large.join();
    small.join();
    EXPECT_EQ(grantedEarly.load(), 0) << "a share was granted while the 50 were held";
    EXPECT_EQ(budget.GetBytesInUse(), 0u);
}

TEST(ReplyBudgetThreads, AShareLargerThanTheWholeBudgetRunsAloneOnceNothingElseIsInUse)
{
    Ipc::ReplyBudget budget(100);
    Ipc::ReplyLease held(budget);
    held.Take(1);
    std::atomic<bool> granted{false};
    std::thread huge([&] {
        Ipc::ReplyLease lease(budget);
        lease.Take(1000);
        granted = true;
        EXPECT_EQ(budget.GetBytesInUse(), 1000u);
    });
    AwaitWaiting(budget, 1);
    EXPECT_FALSE(granted);
    held.Release();
    huge.join();
    EXPECT_TRUE(granted);
    EXPECT_EQ(budget.GetBytesInUse(), 0u);
}

TEST(ReplyBudgetThreads, TakingAgainGivesTheOldShareBackFirst)
{
    Ipc::ReplyBudget budget(100);
    Ipc::ReplyLease lease(budget);
    lease.Take(90);
    lease.Take(100); // would wait for ever if the 90 were still held
    EXPECT_EQ(budget.GetBytesInUse(), 100u);
    lease.Take(0);
    EXPECT_EQ(budget.GetBytesInUse(), 0u);
}

TEST(ReplyBudgetThreads, ALeaseWithoutABudgetNeverWaits)
{
    Ipc::ReplyLease lease;
    lease.Take(SIZE_MAX);
    EXPECT_EQ(lease.GetBytes(), 0u);
}

TEST(ReplyBudgetThreads, ManyTakersNeverHoldMoreThanTheBudgetTogether)
{
    constexpr size_t kBudget = 1000;
    Ipc::ReplyBudget budget(kBudget);
    std::atomic<size_t> held{0};
    std::atomic<size_t> most{0};
    std::atomic<bool> overran{false};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            Ipc::ReplyLease lease(budget);
            for (int i = 0; i < 500; ++i) {
                const size_t bytes = 1 + random() % 1500; // some larger than the whole
                lease.Take(bytes);
                const size_t now = held += bytes;
                if (now > kBudget && now != bytes)
                    overran = true; // past the budget, and not alone
                size_t seen = most;
                while (now > seen && !most.compare_exchange_weak(seen, now)) {}
                held -= bytes;
                lease.Release();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(overran);
    EXPECT_GT(most.load(), 0u);
    EXPECT_EQ(budget.GetBytesInUse(), 0u);
}

} // namespace
