#include "core/common/node_pool.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

// More nodes than a slab holds and than a thread keeps, so that every path of
// the pool is taken.
constexpr size_t kMany = 5000;

// Each test uses sizes of its own: the pool is shared by the whole process.
std::vector<void*> Allocate(size_t count, size_t bytes)
{
    std::vector<void*> nodes(count);
    for (size_t i = 0; i < count; ++i) {
        nodes[i] = Common::AllocateNode(bytes);
        std::memset(nodes[i], static_cast<int>(i % 251), bytes);
    }
    return nodes;
}

bool Intact(const std::vector<void*>& nodes, size_t bytes)
{
    for (size_t i = 0; i < nodes.size(); ++i) {
        const auto* node = static_cast<const unsigned char*>(nodes[i]);
        if (std::count(node, node + bytes, static_cast<unsigned char>(i % 251)) != static_cast<ptrdiff_t>(bytes))
            return false;
    }
    return true;
}

void Free(const std::vector<void*>& nodes, size_t bytes)
{
    for (void* node : nodes)
        Common::FreeNode(node, bytes);
}

// The most empty slabs that stay mapped at rest.
constexpr size_t kMostEmptySlabsKept = Common::kEmptyNodeSlabsKept + Common::kNodeSlabUnmapBatch - 1;

// Slabs that hold nodes in use (with callers, in threads' lists, or in the
// batches threads hand each other).
size_t SlabsInUse()
{
    const Common::NodePoolStatistics statistics = Common::GetNodePoolStatistics();
    return statistics.slabs - statistics.emptySlabsKept;
}

// The same, once the batches that threads hand each other are back in their
// slabs (the end of a thread that used the pool puts them back).
size_t SettledSlabsInUse()
{
    std::thread([] { Common::FreeNode(Common::AllocateNode(24), 24); }).join();
    return SlabsInUse();
}

TEST(NodePool, NodesAreAlignedAndDoNotOverlapAndEndedOnesServeAgain)
{
    // Sizes at and between the class bounds, and beyond the largest class.
    for (const size_t bytes : {size_t{1}, size_t{23}, size_t{25}, size_t{48}, size_t{127}, size_t{129}, size_t{600}}) {
        SCOPED_TRACE(bytes);
        const std::vector<void*> first = Allocate(kMany, bytes);
        for (void* node : first)
            EXPECT_EQ(reinterpret_cast<uintptr_t>(node) % Common::kNodeAlignment, 0u);
        EXPECT_TRUE(Intact(first, bytes)); // a node written over its neighbour shows here
        const size_t slabsHeld = Common::GetNodePoolStatistics().slabs;
        Free(first, bytes);

        // The room of the ended nodes serves the next ones: no more slabs than
        // the first nodes took.
        const std::vector<void*> second = Allocate(kMany, bytes);
        EXPECT_TRUE(Intact(second, bytes));
        EXPECT_LE(Common::GetNodePoolStatistics().slabs, slabsHeld);
        Free(second, bytes);

        // The nodes a thread ended last are the next it makes.
        if (bytes <= Common::kLargestNode) {
            const std::vector<void*> few(second.end() - 100, second.end());
            const std::vector<void*> again = Allocate(few.size(), bytes);
            EXPECT_EQ(std::set<void*>(again.begin(), again.end()), std::set<void*>(few.begin(), few.end()));
            Free(again, bytes);
        }
    }
}

TEST(NodePool, ObjectsOfAPooledClassAreMadeAndEndedThroughThePool)
{
    struct Node final : Common::PooledNode<Node>
    {
        explicit Node(int value) : value(value) {}
        int value;
        char payload[60] = {};
    };
    static void* thrownFrom = nullptr;
    struct Throwing final : Common::PooledNode<Throwing>
    {
        Throwing()
        {
            thrownFrom = this;
            throw 7;
        }
        char payload[60] = {};
    };
    std::vector<Node*> nodes;
    for (int i = 0; i < 1000; ++i)
        nodes.push_back(new Node(i));
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(nodes[i]->value, i);
    const std::set<Node*> before(nodes.begin(), nodes.end());
    for (Node* node : nodes)
        delete node;
    Node* again = new Node(5);
    EXPECT_EQ(before.count(again), 1u);
    delete again;
    // A constructor that throws gives its room back: the next node of the
    // size takes it.
    EXPECT_THROW(static_cast<void>(new Throwing), int);
    Node* const next = new Node(6);
    EXPECT_EQ(static_cast<void*>(next), thrownFrom);
    delete next;
}

// A node ended with a size of another class than the one it was made with
// would go to a list of that class: the pool stops there.
TEST(NodePoolDeathTest, ANodeEndedWithTheSizeOfAnotherClassIsReported)
{
    EXPECT_DEATH(std::thread([] { Common::FreeNode(Common::AllocateNode(48), 100); }).join(),
                 "the node at 0x[0-9a-f]+ was ended as a node of 104 bytes, and made as one of another size");
}

#if defined(__SANITIZE_ADDRESS__)
// The pool tells the address sanitizer which room is in use.
TEST(NodePoolDeathTest, MisuseOfANodeIsReported)
{
    struct Case
    {
        const char* label;
        std::function<void()> misuse;
        const char* report;
    };
    const auto read = [](const void* room) { return *static_cast<const volatile char*>(room); };
    const Case cases[] = {
        {"use after the end",
         [&] {
             void* node = Common::AllocateNode(72);
             Common::FreeNode(node, 72);
             read(node);
         },
         "use-after-poison"},
        {"ended twice",
         [] {
             void* node = Common::AllocateNode(72);
             Common::FreeNode(node, 72);
             Common::FreeNode(node, 72);
         },
         "node pool: the node at 0x[0-9a-f]+ \\(72 bytes\\) was ended twice"},
        {"ended but never made",
         [] {
             // The room after a new thread's first node was never handed out.
             char* node = nullptr;
             std::thread([&] { node = static_cast<char*>(Common::AllocateNode(72)); }).join();
             Common::FreeNode(node + 72, 72);
         },
         "was ended twice, or never made"},
        {"room never handed out",
         [&] {
             char* node = nullptr;
             std::thread([&] { node = static_cast<char*>(Common::AllocateNode(72)); }).join();
             read(node + 72);
         },
         "use-after-poison"},
        {"past the size asked for",
         [&] {
             void* node = Common::AllocateNode(65); // a node of the 72-byte class
             read(static_cast<char*>(node) + 65);
         },
         "use-after-poison"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_DEATH(c.misuse(), c.report);
    }
    // What a node may use is not reported.
    void* node = Common::AllocateNode(65);
    std::memset(node, 1, 65);
    Common::FreeNode(node, 65);
}
#endif

// Made before the thread's first node, so ended after the thread's lists
// were handed over.
struct EndsNodesLate
{
    std::vector<void*>* nodes = nullptr;
    ~EndsNodesLate()
    {
        if (nodes == nullptr)
            return;
        Free(*nodes, 88);
        // A node made and ended this late is not lost either.
        Common::FreeNode(Common::AllocateNode(88), 88);
    }
};

thread_local EndsNodesLate t_endsNodesLate;

// Nodes made on some threads and ended on others, while those threads run and
// after they have ended, all serve again.
TEST(NodePoolThreads, NodesEndedOnOtherThreadsServeAgain)
{
    constexpr size_t kBytes = 56;
    constexpr uint64_t kMakers = 4;
    constexpr uint64_t kPerMaker = 3000;
    struct Handed
    {
        void* node;
        uint64_t serial; // written all over the node by its maker
    };

    const size_t slabsInUse = SettledSlabsInUse();
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Handed> handed;
    uint64_t makersLeft = kMakers;
    size_t ended = 0;
    bool serialsIntact = true;

    std::vector<std::thread> threads;
    for (uint64_t m = 0; m < kMakers; ++m) {
        threads.emplace_back([&, m] {
            for (uint64_t i = 0; i < kPerMaker; ++i) {
                const uint64_t serial = m * kPerMaker + i;
                auto* words = static_cast<uint64_t*>(Common::AllocateNode(kBytes));
                std::fill(words, words + kBytes / sizeof(uint64_t), serial);
                std::lock_guard guard(lock);
                handed.push_back({words, serial});
                changed.notify_one();
            }
            std::lock_guard guard(lock);
            --makersLeft;
            changed.notify_all();
        });
    }
    for (int e = 0; e < 2; ++e) {
        threads.emplace_back([&] {
            size_t mine = 0;
            bool intact = true;
            for (;;) {
                std::unique_lock guard(lock);
                changed.wait(guard, [&] { return !handed.empty() || makersLeft == 0; });
                if (handed.empty())
                    break;
                const Handed next = handed.front();
                handed.pop_front();
                guard.unlock();
                // Two live nodes sharing room would show a stranger's serial.
                const auto* words = static_cast<const uint64_t*>(next.node);
                intact = intact && std::all_of(words, words + kBytes / sizeof(uint64_t), [&](uint64_t word) {
                             return word == next.serial;
                         });
                Common::FreeNode(next.node, kBytes);
                ++mine;
            }
            std::lock_guard guard(lock);
            ended += mine;
            serialsIntact = serialsIntact && intact;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(serialsIntact);
    EXPECT_EQ(ended, kMakers * kPerMaker);

    // Every node went back to its slab, those in the threads' lists when the
    // threads ended too: no slab is held for them.
    EXPECT_EQ(SlabsInUse(), slabsInUse);
    std::vector<void*> again;
    std::thread([&] {
        again = Allocate(kMakers * kPerMaker, kBytes);
        EXPECT_TRUE(Intact(again, kBytes));
        Free(again, kBytes);
    }).join();
    EXPECT_EQ(SlabsInUse(), slabsInUse);
}

TEST(NodePoolThreads, NodesEndedAtTheThreadsEndServeAgain)
{
    const size_t slabsInUse = SettledSlabsInUse();
    std::vector<void*> nodes;
    std::thread([&] {
        t_endsNodesLate.nodes = &nodes;
        nodes = Allocate(kMany, 88);
    }).join();
    EXPECT_EQ(SlabsInUse(), slabsInUse);

    std::vector<void*> again;
    std::thread([&] {
        again = Allocate(kMany, 88);
        EXPECT_TRUE(Intact(again, 88));
        Free(again, 88);
    }).join();
    EXPECT_EQ(SlabsInUse(), slabsInUse);
}

// Slabs whose nodes have all ended are given back, beyond a few kept for the
// next nodes, whichever thread ends the nodes and whether their maker still
// runs or not.
TEST(NodePoolThreads, SlabsThatFallEmptyAreGivenBack)
{
    constexpr size_t kBytes = 104;
    constexpr size_t kSlabs = 2 * Common::kEmptyNodeSlabsKept;
    static_assert(kSlabs > kMostEmptySlabsKept + 10);
    constexpr size_t kCount = kSlabs * Common::kNodeSlabBytes / kBytes;
    // A thread's lists of free nodes and its run hold a few slabs in use, and
    // the batches that wait for the next thread a few more.
    constexpr size_t kHeldByAThread = 3;
    constexpr size_t kHeldByBatches = Common::kNodeBatchesShared * Common::kNodeBatch * kBytes /
            Common::kNodeSlabBytes +
        2;
    enum class Ender
    {
        Maker,
        OtherWhileMakerRuns,
        OtherAfterMakerEnded,
    };
    for (const Ender ender : {Ender::Maker, Ender::OtherWhileMakerRuns, Ender::OtherAfterMakerEnded}) {
        SCOPED_TRACE(static_cast<int>(ender));
        const size_t slabsInUse = SettledSlabsInUse();
        // What may stay mapped once the nodes are ended, with `held` slabs
        // still held by threads.
        const auto expectGivenBack = [&](size_t held) {
            EXPECT_LE(SlabsInUse(), slabsInUse + held);
            EXPECT_LE(Common::GetNodePoolStatistics().slabs, slabsInUse + held + kMostEmptySlabsKept);
        };
        std::vector<void*> nodes;
        std::mutex lock;
        std::condition_variable changed;
        bool made = false;
        bool ended = false;
        std::thread maker([&] {
            nodes = Allocate(kCount, kBytes);
            EXPECT_GE(SlabsInUse(), slabsInUse + kSlabs);
            if (ender == Ender::Maker) {
                Free(nodes, kBytes);
                expectGivenBack(kHeldByAThread + kHeldByBatches);
                return;
            }
            if (ender == Ender::OtherAfterMakerEnded)
                return;
            std::unique_lock guard(lock);
            made = true;
            changed.notify_all();
            changed.wait(guard, [&] { return ended; }); // the maker runs until its nodes are ended
        });
        if (ender == Ender::OtherAfterMakerEnded)
            maker.join();
        if (ender != Ender::Maker) {
            std::thread([&] {
                if (ender == Ender::OtherWhileMakerRuns) {
                    std::unique_lock guard(lock);
                    changed.wait(guard, [&] { return made; });
                }
                Free(nodes, kBytes);
                // The ender's lists and batches, and the maker's run if it
                // still runs.
                expectGivenBack((ender == Ender::OtherWhileMakerRuns ? 2 * kHeldByAThread : kHeldByAThread) +
                                kHeldByBatches);
            }).join();
        }
        {
            std::lock_guard guard(lock);
            ended = true;
            changed.notify_all();
        }
        if (maker.joinable())
            maker.join();
        EXPECT_EQ(SlabsInUse(), slabsInUse);
        expectGivenBack(0);
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Resident memory of the process, from /proc/self/statm.
size_t ResidentBytes()
{
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr)
        return 0;
    unsigned long size = 0;
    unsigned long resident = 0;
    const int read = std::fscanf(file, "%lu %lu", &size, &resident);
    std::fclose(file);
    return read == 2 ? resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

// What the pool gives back leaves the process (the sanitizers' own room
// blurs the figure in their builds).
TEST(NodePoolThreads, MemoryOfEndedNodesLeavesTheProcess)
{
    constexpr size_t kBytes = 112;
    constexpr size_t kRoom = size_t{32} << 20;
    const size_t before = ResidentBytes();
    ASSERT_NE(before, 0u);
    size_t made = 0;
    size_t ended = 0;
    std::thread([&] {
        const std::vector<void*> nodes = Allocate(kRoom / kBytes, kBytes);
        made = ResidentBytes();
        Free(nodes, kBytes);
    }).join();
    ended = ResidentBytes();
    EXPECT_GE(made, before + kRoom / 2); // the empty slabs kept may serve some
    EXPECT_LE(ended, before + kMostEmptySlabsKept * Common::kNodeSlabBytes + kRoom / 8);
}
#endif

// Children forked while other threads make and end nodes find no lock of the
// pool held by a thread they do not have, and use the pool.
TEST(NodePoolThreads, ChildrenForkedWhileThreadsUseThePoolUseItToo)
{
    constexpr size_t kBytes = 120;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kChildren = 30; // forks are slow there; without the handlers most children hang
#else
    constexpr int kChildren = 100;
#endif
    constexpr unsigned kChildSeconds = 5;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            // More than a thread keeps, so that nodes go to and from the
            // slabs all the time.
            while (!stop.load(std::memory_order_relaxed))
                Free(Allocate(1000, kBytes), kBytes);
        });
    }
    int hung = 0;
    int failed = 0;
    for (int i = 0; i < kChildren; ++i) {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            alarm(kChildSeconds); // a child that hangs ends by the alarm, and counts as hung
            const std::vector<void*> nodes = Allocate(2000, kBytes);
            const bool intact = Intact(nodes, kBytes);
            Free(nodes, kBytes);
            _exit(intact ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
            ++hung;
            break; // no need to wait for more
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++failed;
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

} // namespace
