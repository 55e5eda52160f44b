#include "core/common/node_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
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

TEST(NodePool, NodesAreAlignedAndDoNotOverlapAndEndedOnesServeAgain)
{
    // Sizes at and between the class bounds, and beyond the largest class.
    for (const size_t bytes : {size_t{1}, size_t{23}, size_t{25}, size_t{48}, size_t{127}, size_t{129}, size_t{600}}) {
        SCOPED_TRACE(bytes);
        const std::vector<void*> first = Allocate(kMany, bytes);
        for (void* node : first)
            EXPECT_EQ(reinterpret_cast<uintptr_t>(node) % Common::kNodeAlignment, 0u);
        EXPECT_TRUE(Intact(first, bytes)); // a node written over its neighbour shows here
        Free(first, bytes);

        const std::vector<void*> second = Allocate(kMany, bytes);
        EXPECT_TRUE(Intact(second, bytes));
        if (Common::kNodePoolActive && bytes <= Common::kLargestNode) {
            const std::set<void*> before(first.begin(), first.end());
            EXPECT_TRUE(std::all_of(second.begin(), second.end(), [&](void* node) { return before.count(node) != 0; }))
                << "the ended nodes were not used again";
        }
        Free(second, bytes);
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
    struct Throwing final : Common::PooledNode<Throwing>
    {
        Throwing() { throw 7; }
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
    if (Common::kNodePoolActive) {
        EXPECT_EQ(before.count(again), 1u);
    }
    delete again;
    // A constructor that throws gives its room back (the sanitizer build sees a leak otherwise).
    EXPECT_THROW(static_cast<void>(new Throwing), int);
}

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

    std::mutex lock;
    std::condition_variable changed;
    std::deque<Handed> handed;
    uint64_t makersLeft = kMakers;
    std::set<void*> used;
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
            std::vector<void*> mine;
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
                mine.push_back(next.node);
                Common::FreeNode(next.node, kBytes);
            }
            std::lock_guard guard(lock);
            used.insert(mine.begin(), mine.end());
            serialsIntact = serialsIntact && intact;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(serialsIntact);

    // Every thread's list went to the shared lists when it ended: as many
    // nodes as were ever made come from them again.
    std::vector<void*> again;
    std::thread([&] { again = Allocate(used.size(), kBytes); }).join();
    EXPECT_TRUE(Intact(again, kBytes));
    if (Common::kNodePoolActive) {
        EXPECT_TRUE(std::all_of(again.begin(), again.end(), [&](void* node) { return used.count(node) != 0; }));
    }
    Free(again, kBytes);
}

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

TEST(NodePoolThreads, NodesEndedAtTheThreadsEndServeAgain)
{
    std::vector<void*> nodes;
    std::thread([&] {
        t_endsNodesLate.nodes = &nodes;
        nodes = Allocate(kMany, 88);
    }).join();

    std::vector<void*> again;
    std::thread([&] { again = Allocate(kMany, 88); }).join();
    EXPECT_TRUE(Intact(again, 88));
    if (Common::kNodePoolActive) {
        const std::set<void*> before(nodes.begin(), nodes.end());
        EXPECT_TRUE(std::all_of(again.begin(), again.end(), [&](void* node) { return before.count(node) != 0; }));
    }
    Free(again, 88);
}

} // namespace
