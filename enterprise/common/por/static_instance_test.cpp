// The lazily created process-wide instance.

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "enterprise/common/por/static_instance.h"

namespace {

struct Counted
{
    static inline std::atomic<int> live{0};
    static inline std::atomic<int> made{0};
    Counted() { ++live, ++made; }
    virtual ~Counted() { --live; }
};

void MakeCounted(std::unique_ptr<Counted>& out)
{
    out = std::make_unique<Counted>();
}

void MakeNothing(std::unique_ptr<Counted>&)
{
}

TEST(StaticInstance, CreatesOnFirstGetAndDeletesWithItself)
{
    Counted::live = 0;
    {
        Por::Util::StaticInstance<Counted> instance(&MakeCounted);
        EXPECT_EQ(Counted::live, 0) << "nothing is made before the first Get";
        Counted* first = instance.Get();
        EXPECT_EQ(instance.Get(), first);
        EXPECT_EQ(Counted::live, 1);
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(StaticInstance, ACreatorThatMakesNothingGivesNull)
{
    Por::Util::StaticInstance<Counted> instance(&MakeNothing);
    EXPECT_EQ(instance.Get(), nullptr);
}

TEST(StaticInstanceThreads, RacingFirstCallersShareOneInstance)
{
    constexpr int kThreads = 8;
    for (int round = 0; round < 20; ++round) {
        Counted::live = 0;
        Counted::made = 0;
        Por::Util::StaticInstance<Counted> instance(&MakeCounted);
        std::vector<Counted*> seen(kThreads);
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                seen[i] = instance.Get();
            });
        }
        for (auto& thread : threads)
            thread.join();
        for (Counted* pointer : seen)
            EXPECT_EQ(pointer, seen[0]);
        EXPECT_NE(seen[0], nullptr);
        EXPECT_EQ(Counted::live, 1) << "every loser deleted its own; made " << Counted::made;
    }
}

} // namespace
