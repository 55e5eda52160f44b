#include "core/common/node_pool.h"

#include <cstdint>
#include <new>
#include <type_traits>

#include "core/common/mutex.h"

namespace Common {
namespace {

constexpr size_t kSmallestNode = 24;
constexpr size_t kClassCount = (kLargestNode - kSmallestNode) / kNodeAlignment + 1;
constexpr size_t kSlabBytes = size_t{64} << 10;
// A thread hands kBatch nodes of a class to the shared list once it holds
// kMostKept, and takes a whole batch back when its own list is empty.
constexpr uint32_t kBatch = 128;
constexpr uint32_t kMostKept = 2 * kBatch;

// A free node. The first node of a batch on the shared list also carries the
// next batch and its own batch's count.
struct FreeNodeLink
{
    FreeNodeLink* next;
    FreeNodeLink* nextBatch;
    size_t count;
};
static_assert(sizeof(FreeNodeLink) == kSmallestNode);

constexpr size_t ClassOf(size_t bytes)
{
    return bytes <= kSmallestNode ? 0 : (bytes - kSmallestNode + kNodeAlignment - 1) / kNodeAlignment;
}

constexpr size_t NodeSize(size_t sizeClass)
{
    return kSmallestNode + sizeClass * kNodeAlignment;
}

static_assert(ClassOf(kLargestNode) == kClassCount - 1 && NodeSize(kClassCount - 1) == kLargestNode);
static_assert(ClassOf(40) == ClassOf(33) && NodeSize(ClassOf(40)) == 40);

// The free batches of one class, shared by all threads.
struct SharedList
{
    NonRecursiveMutex lock;
    FreeNodeLink* batches COMMON_GUARDED_BY(lock) = nullptr;
};

// Slabs are listed so that they stay reachable for the life of the process.
struct Slab
{
    Slab* next;
};

struct SlabList
{
    NonRecursiveMutex lock;
    Slab* slabs COMMON_GUARDED_BY(lock) = nullptr;
};

// Never ended: threads may end nodes after static destruction has begun.
constinit SharedList g_shared[kClassCount];
constinit SlabList g_slabs;
static_assert(std::is_trivially_destructible_v<SharedList> && std::is_trivially_destructible_v<SlabList>);

// A thread's free nodes of one class, and the rest of the slab it cuts new
// nodes from.
struct ClassCache
{
    FreeNodeLink* head = nullptr;
    uint32_t count = 0;
    char* cursor = nullptr;
    char* end = nullptr;
};

enum class CacheState : uint8_t
{
    Fresh, // the thread has not yet kept a node
    Live,  // the thread's end hands its lists over
    Gone,  // the lists were handed over: nodes go straight to the shared lists
};

// Trivially destructible, so that reaching it costs no check; its end is the
// work of ThreadCacheEnd, made when the thread first keeps a node.
struct ThreadCache
{
    ClassCache classes[kClassCount];
    CacheState state = CacheState::Fresh;
};
static_assert(std::is_trivially_destructible_v<ThreadCache>);

thread_local ThreadCache t_cache;

// Puts a batch, its nodes linked through `next` up to a null, on the shared
// list.
void PutBatch(size_t sizeClass, FreeNodeLink* batch, size_t count) noexcept
{
    batch->count = count;
    SharedList& shared = g_shared[sizeClass];
    LockGuard guard(shared.lock);
    batch->nextBatch = shared.batches;
    shared.batches = batch;
}

// Hands `count` nodes from the head of the cache's list to the shared list as
// one batch.
void HandOver(size_t sizeClass, ClassCache& cache, uint32_t count) noexcept
{
    FreeNodeLink* batch = cache.head;
    FreeNodeLink* last = batch;
    for (uint32_t i = 1; i < count; ++i)
        last = last->next;
    cache.head = last->next;
    cache.count -= count;
    last->next = nullptr;
    PutBatch(sizeClass, batch, count);
}

struct ThreadCacheEnd
{
    ~ThreadCacheEnd()
    {
        for (size_t sizeClass = 0; sizeClass < kClassCount; ++sizeClass) {
            ClassCache& cache = t_cache.classes[sizeClass];
            if (cache.count != 0)
                HandOver(sizeClass, cache, cache.count);
        }
        t_cache.state = CacheState::Gone;
    }
};

thread_local ThreadCacheEnd t_cacheEnd;

void KeepFromNowOn() noexcept
{
    static_cast<void>(&t_cacheEnd); // the thread's end hands the lists over
    t_cache.state = CacheState::Live;
}

// A whole batch of the shared list, or null.
FreeNodeLink* TakeBatch(size_t sizeClass) noexcept
{
    SharedList& shared = g_shared[sizeClass];
    LockGuard guard(shared.lock);
    FreeNodeLink* batch = shared.batches;
    if (batch != nullptr)
        shared.batches = batch->nextBatch;
    return batch;
}

void* CutFromSlab(size_t sizeClass, ClassCache& cache)
{
    const size_t size = NodeSize(sizeClass);
    if (static_cast<size_t>(cache.end - cache.cursor) < size) {
        auto* slab = static_cast<Slab*>(::operator new(kSlabBytes));
        {
            LockGuard guard(g_slabs.lock);
            slab->next = g_slabs.slabs;
            g_slabs.slabs = slab;
        }
        // The slab's link takes its first 8 bytes; the nodes follow, 8-aligned.
        cache.cursor = reinterpret_cast<char*>(slab) + kNodeAlignment;
        cache.end = reinterpret_cast<char*>(slab) + kSlabBytes;
    }
    void* node = cache.cursor;
    cache.cursor += size;
    return node;
}

void* AllocateSlow(size_t sizeClass)
{
    ClassCache& cache = t_cache.classes[sizeClass];
    if (t_cache.state == CacheState::Fresh)
        KeepFromNowOn();
    if (FreeNodeLink* batch = TakeBatch(sizeClass)) {
        if (t_cache.state == CacheState::Gone) {
            // Keep nothing: the rest of the batch goes back.
            if (FreeNodeLink* rest = batch->next)
                PutBatch(sizeClass, rest, batch->count - 1);
            return batch;
        }
        cache.head = batch->next;
        cache.count = static_cast<uint32_t>(batch->count - 1);
        return batch;
    }
    return CutFromSlab(sizeClass, cache);
}

} // namespace

void* AllocateNode(size_t bytes)
{
    if constexpr (!kNodePoolActive)
        return ::operator new(bytes);
    if (bytes > kLargestNode)
        return ::operator new(bytes);
    const size_t sizeClass = ClassOf(bytes);
    ClassCache& cache = t_cache.classes[sizeClass];
    if (FreeNodeLink* node = cache.head) [[likely]] {
        cache.head = node->next;
        --cache.count;
        return node;
    }
    return AllocateSlow(sizeClass);
}

void FreeNode(void* node, size_t bytes) noexcept
{
    if (node == nullptr)
        return;
    if (!kNodePoolActive || bytes > kLargestNode) {
        ::operator delete(node);
        return;
    }
    const size_t sizeClass = ClassOf(bytes);
    auto* link = static_cast<FreeNodeLink*>(node);
    if (t_cache.state != CacheState::Live) [[unlikely]] {
        if (t_cache.state == CacheState::Gone) {
            link->next = nullptr;
            PutBatch(sizeClass, link, 1);
            return;
        }
        KeepFromNowOn();
    }
    ClassCache& cache = t_cache.classes[sizeClass];
    link->next = cache.head;
    cache.head = link;
    if (++cache.count == kMostKept)
        HandOver(sizeClass, cache, kBatch);
}

} // namespace Common
