// The node pool beside the heap (plain new and delete) over trees of nodes of
// the object model's sizes (40, 64 and 72 bytes, about 1,000 nodes and 48 KB
// a tree), in the same run:
//
//   BM_CrossThreadTrees/{Pool,Heap}: 4 threads make 3,000 trees that 4 other
//     threads end (wall time);
//   BM_TreesEnded/{Pool,Heap}/OthersEnd:{0,1}: 3,000 trees made on one thread,
//     then ended by it (0) or by 4 other threads (1); the counters give the
//     resident memory the trees took (made_MB), what stays of it after they
//     are ended, their threads have ended and malloc_trim(0) has run
//     (left_MB), and the pool's slabs still mapped then (slabs_left, pool
//     rows only). Memory one row keeps shows in the next rows' starting
//     figure: for the figures, run each row in a process of its own
//     (--benchmark_filter='^BM_TreesEnded/Pool/OthersEnd:0');
//   BM_MakeAndEnd/{Pool,Heap}/{1,100}: one thread makes 1 or 100 trees and
//     ends them, over and over (the pattern of a parse whose tree is ended).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "core/common/node_pool.h"

namespace {

struct Plain
{
};

template <bool Pooled>
struct TreeNode
{
    TreeNode() = default;
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;
    virtual ~TreeNode()
    {
        while (TreeNode* child = first) {
            first = child->next;
            delete child;
        }
    }
    void Add(TreeNode* child)
    {
        child->next = first;
        first = child;
    }
    TreeNode* first = nullptr;
    TreeNode* next = nullptr;
};

template <bool Pooled, size_t Bytes>
struct SizedNode final : TreeNode<Pooled>,
                         std::conditional_t<Pooled, Common::PooledNode<SizedNode<Pooled, Bytes>>, Plain>
{
    char payload[Bytes - sizeof(TreeNode<Pooled>)] = {};
};

constexpr int kRecords = 80;
constexpr int kTrees = 3000;
constexpr int kThreads = 4;

// A composite of kRecords records, each a composite of four properties: two
// scalars, a string and a composite of two scalar properties (13 nodes).
template <bool Pooled>
TreeNode<Pooled>* MakeTree()
{
    using Composite = SizedNode<Pooled, 72>;
    using Property = SizedNode<Pooled, 40>;
    using Scalar = SizedNode<Pooled, 40>;
    using String = SizedNode<Pooled, 64>;
    auto* root = new Composite;
    for (int r = 0; r < kRecords; ++r) {
        auto* record = new Composite;
        for (int p = 0; p < 4; ++p) {
            auto* property = new Property;
            if (p == 3) {
                auto* inner = new Composite;
                for (int q = 0; q < 2; ++q) {
                    auto* innerProperty = new Property;
                    innerProperty->Add(new Scalar);
                    inner->Add(innerProperty);
                }
                property->Add(inner);
            } else if (p == 1) {
                property->Add(new String);
            } else {
                property->Add(new Scalar);
            }
            record->Add(property);
        }
        root->Add(record);
    }
    return root;
}

// Trees handed from the threads that make them to the threads that end them.
template <bool Pooled>
class Handover
{
public:
    void Put(TreeNode<Pooled>* tree)
    {
        std::lock_guard guard(m_lock);
        m_trees.push_back(tree);
        m_changed.notify_one();
    }
    void MakerDone()
    {
        std::lock_guard guard(m_lock);
        --m_makers;
        m_changed.notify_all();
    }
    // Null once every maker is done and every tree taken.
    TreeNode<Pooled>* Take()
    {
        std::unique_lock guard(m_lock);
        m_changed.wait(guard, [&] { return !m_trees.empty() || m_makers == 0; });
        if (m_trees.empty())
            return nullptr;
        TreeNode<Pooled>* tree = m_trees.front();
        m_trees.pop_front();
        return tree;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<TreeNode<Pooled>*> m_trees;
    int m_makers = kThreads;
};

template <bool Pooled>
void EndTreesOnOtherThreads(const std::vector<TreeNode<Pooled>*>& made, Handover<Pooled>* handover)
{
    std::vector<std::thread> enders;
    for (int t = 0; t < kThreads; ++t) {
        enders.emplace_back([&, t] {
            if (handover != nullptr) {
                while (TreeNode<Pooled>* tree = handover->Take())
                    delete tree;
                return;
            }
            for (size_t i = static_cast<size_t>(t); i < made.size(); i += kThreads)
                delete made[i];
        });
    }
    for (std::thread& ender : enders)
        ender.join();
}

template <bool Pooled>
void BM_CrossThreadTrees(benchmark::State& state)
{
    for (auto _ : state) {
        Handover<Pooled> handover;
        std::vector<std::thread> makers;
        for (int t = 0; t < kThreads; ++t) {
            makers.emplace_back([&] {
                for (int i = 0; i < kTrees / kThreads; ++i)
                    handover.Put(MakeTree<Pooled>());
                handover.MakerDone();
            });
        }
        EndTreesOnOtherThreads<Pooled>({}, &handover);
        for (std::thread& maker : makers)
            maker.join();
    }
    state.SetItemsProcessed(state.iterations() * kTrees);
}
BENCHMARK_TEMPLATE(BM_CrossThreadTrees, true)
    ->Name("BM_CrossThreadTrees/Pool")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_CrossThreadTrees, false)
    ->Name("BM_CrossThreadTrees/Heap")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

double ResidentMegabytes()
{
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr)
        return 0;
    unsigned long size = 0;
    unsigned long resident = 0;
    const int read = std::fscanf(file, "%lu %lu", &size, &resident);
    std::fclose(file);
    return read == 2 ? static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6 : 0;
}

template <bool Pooled>
void BM_TreesEnded(benchmark::State& state)
{
    const bool makerEnds = state.range(0) == 0;
    for (auto _ : state) {
        malloc_trim(0);
        const double before = ResidentMegabytes();
        std::vector<TreeNode<Pooled>*> made(kTrees);
        double peak = 0;
        std::thread([&] {
            for (TreeNode<Pooled>*& tree : made)
                tree = MakeTree<Pooled>();
            peak = ResidentMegabytes();
            if (makerEnds) {
                for (TreeNode<Pooled>* tree : made)
                    delete tree;
            }
        }).join();
        if (!makerEnds)
            EndTreesOnOtherThreads<Pooled>(made, nullptr);
        malloc_trim(0);
        state.counters["made_MB"] = peak - before;
        state.counters["left_MB"] = ResidentMegabytes() - before;
        if constexpr (Pooled)
            state.counters["slabs_left"] = static_cast<double>(Common::GetNodePoolStatistics().slabs);
    }
}
BENCHMARK_TEMPLATE(BM_TreesEnded, true)
    ->Name("BM_TreesEnded/Pool")
    ->ArgName("OthersEnd")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_TreesEnded, false)
    ->Name("BM_TreesEnded/Heap")
    ->ArgName("OthersEnd")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

template <bool Pooled>
void BM_MakeAndEnd(benchmark::State& state)
{
    std::vector<TreeNode<Pooled>*> trees(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (TreeNode<Pooled>*& tree : trees)
            tree = MakeTree<Pooled>();
        for (TreeNode<Pooled>* tree : trees)
            delete tree;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK_TEMPLATE(BM_MakeAndEnd, true)->Name("BM_MakeAndEnd/Pool")->Arg(1)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_MakeAndEnd, false)->Name("BM_MakeAndEnd/Heap")->Arg(1)->Arg(100)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
