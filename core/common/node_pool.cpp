#include "core/common/node_pool.h"

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "core/common/mutex.h"

#if defined(__SANITIZE_ADDRESS__)
#define COMMON_NODE_POOL_POISONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COMMON_NODE_POOL_POISONS 1
#endif
#endif

#if defined(COMMON_NODE_POOL_POISONS)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#endif

namespace Common {
namespace {

constexpr size_t kSmallestNode = 24;
constexpr size_t kClassCount = (kLargestNode - kSmallestNode) / kNodeAlignment + 1;
// The slab's header; its nodes follow, 8-aligned.
constexpr size_t kSlabHeaderBytes = 64;
// A thread takes at most kBatch nodes from the slabs at once, and keeps at
// most 2 * kBatch - 1 free nodes per class.
constexpr uint32_t kBatch = kNodeBatch;
// A class holds at most this many batches that threads hand each other
// without putting their nodes back in the slabs.
constexpr size_t kSharedBatches = kNodeBatchesShared;
// Empty slabs beyond those kept are unmapped this many at a time.
constexpr size_t kUnmapBatch = kNodeSlabUnmapBatch;

static_assert((kNodeSlabBytes & (kNodeSlabBytes - 1)) == 0, "slabs are found by masking a node's address");

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

// A free node.
struct FreeLink
{
    FreeLink* next;
};
static_assert(sizeof(FreeLink) <= kSmallestNode);

// Under the address sanitizer, free nodes and room never handed out are
// poisoned; the pool's own link in a free node is opened for each use.
void Poison([[maybe_unused]] void* room, [[maybe_unused]] size_t bytes) noexcept
{
#if defined(COMMON_NODE_POOL_POISONS)
    ASAN_POISON_MEMORY_REGION(room, bytes);
#endif
}

void Unpoison([[maybe_unused]] void* room, [[maybe_unused]] size_t bytes) noexcept
{
#if defined(COMMON_NODE_POOL_POISONS)
    ASAN_UNPOISON_MEMORY_REGION(room, bytes);
#endif
}

FreeLink* NextOf(FreeLink* node) noexcept
{
    Unpoison(node, sizeof(FreeLink));
    FreeLink* next = node->next;
    Poison(node, sizeof(FreeLink));
    return next;
}

void SetNext(FreeLink* node, FreeLink* next) noexcept
{
    Unpoison(node, sizeof(FreeLink));
    node->next = next;
    Poison(node, sizeof(FreeLink));
}

// A node handed to FreeNode must be in use: under the address sanitizer, one
// whose first byte is poisoned is free already, or was never handed out.
void CheckInUse([[maybe_unused]] void* node, [[maybe_unused]] size_t bytes) noexcept
{
#if defined(COMMON_NODE_POOL_POISONS)
    if (__asan_address_is_poisoned(node) == 0)
        return;
    std::fprintf(stderr, "node pool: the node at %p (%zu bytes) was ended twice, or never made\n", node, bytes);
    __asan_report_error(__builtin_return_address(0), __builtin_frame_address(0), __builtin_frame_address(0), node, 1,
                        bytes);
    std::abort();
#endif
}

[[noreturn]] void WrongSize(void* node, size_t size) noexcept
{
    std::fprintf(stderr,
                 "node pool: the node at %p was ended as a node of %zu bytes, and made as one of another size\n", node,
                 size);
    std::abort();
}

// The header at the start of each slab. While the slab serves a class, the
// header is read and written under the lock of that class; while it waits
// empty, under the lock of the empty slabs.
struct Slab
{
    Slab* prev; // in the class's list of slabs with room
    Slab* next; // in the class's list of slabs with room, or of empty kept slabs
    FreeLink* free;
    char* fresh;   // the start of the room never handed out
    uint32_t used; // nodes with callers or in threads' lists and runs
    uint32_t sizeClass;
    bool listed; // in the class's list of slabs with room
};
static_assert(sizeof(Slab) <= kSlabHeaderBytes && std::is_trivially_destructible_v<Slab>);

Slab* SlabOf(const void* node) noexcept
{
    return reinterpret_cast<Slab*>(reinterpret_cast<uintptr_t>(node) & ~(uintptr_t{kNodeSlabBytes} - 1));
}

char* RoomOf(Slab* slab) noexcept
{
    return reinterpret_cast<char*>(slab) + kSlabHeaderBytes;
}

char* EndOf(Slab* slab) noexcept
{
    return reinterpret_cast<char*>(slab) + kNodeSlabBytes;
}

bool HasRoom(Slab* slab, size_t size) noexcept
{
    return slab->free != nullptr || static_cast<size_t>(EndOf(slab) - slab->fresh) >= size;
}

// The slabs of one class that have room, most recently given room first, and
// the batches of kBatch free nodes that threads hand each other whole.
struct ClassSlabs
{
    NonRecursiveMutex lock;
    Slab* withRoom COMMON_GUARDED_BY(lock) = nullptr;
    FreeLink* batches[kSharedBatches] COMMON_GUARDED_BY(lock) = {};
    size_t batchCount COMMON_GUARDED_BY(lock) = 0;
};

struct EmptySlabs
{
    NonRecursiveMutex lock;
    Slab* slabs COMMON_GUARDED_BY(lock) = nullptr;
    size_t count COMMON_GUARDED_BY(lock) = 0;
};

// Never ended: threads may end nodes after static destruction has begun.
constinit ClassSlabs g_classes[kClassCount];
constinit EmptySlabs g_empty;
constinit std::atomic<size_t> g_slabCount{0};
static_assert(std::is_trivially_destructible_v<ClassSlabs> && std::is_trivially_destructible_v<EmptySlabs>);

// Every lock of the pool. Nothing else holds two of them at once.
void LockAllBeforeFork() COMMON_NO_THREAD_SAFETY_ANALYSIS
{
    for (ClassSlabs& slabs : g_classes)
        slabs.lock.Lock();
    g_empty.lock.Lock();
}

// In the parent and in the child alike the locks are held by the thread that
// forked, and nothing else changed the pool meanwhile: releasing them leaves
// it as it was.
void UnlockAllAfterFork() COMMON_NO_THREAD_SAFETY_ANALYSIS
{
    g_empty.lock.Unlock();
    for (size_t i = kClassCount; i-- > 0;)
        g_classes[i].lock.Unlock();
}

void InstallForkHandlers() noexcept
{
    static const bool installed = [] {
        if (pthread_atfork(LockAllBeforeFork, UnlockAllAfterFork, UnlockAllAfterFork) != 0) {
            std::fprintf(stderr, "node pool: the fork handlers could not be installed\n");
            std::abort();
        }
        return true;
    }();
    static_cast<void>(installed);
}

void* MapAligned(size_t bytes, size_t alignment) noexcept
{
    void* room = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED)
        return nullptr;
    if (reinterpret_cast<uintptr_t>(room) % alignment == 0)
        return room;
    // Mappings mostly follow each other downwards, so once one is aligned the
    // next ones are too; this is the rare case.
    munmap(room, bytes);
    room = mmap(nullptr, bytes + alignment, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(room);
    const uintptr_t aligned = (start + alignment - 1) & ~(uintptr_t{alignment} - 1);
    if (aligned != start)
        munmap(room, aligned - start);
    if (const uintptr_t after = start + bytes + alignment - (aligned + bytes); after != 0)
        munmap(reinterpret_cast<void*>(aligned + bytes), after);
    return reinterpret_cast<void*>(aligned);
}

// An empty slab for `sizeClass`, all its room poisoned; null when the system
// has no room.
Slab* TakeSlab(size_t sizeClass) noexcept
{
    Slab* slab = nullptr;
    {
        LockGuard guard(g_empty.lock);
        if ((slab = g_empty.slabs) != nullptr) {
            g_empty.slabs = slab->next;
            --g_empty.count;
        }
    }
    if (slab == nullptr) {
        void* room = MapAligned(kNodeSlabBytes, kNodeSlabBytes);
        if (room == nullptr)
            return nullptr;
#if defined(COMMON_NODE_POOL_POISONS)
        Unpoison(room, kSlabHeaderBytes); // whatever was mapped here before
        __lsan_register_root_region(room, kNodeSlabBytes);
#endif
        g_slabCount.fetch_add(1, std::memory_order_relaxed);
        slab = static_cast<Slab*>(room);
    }
    new (slab) Slab{nullptr, nullptr, nullptr, RoomOf(slab), 0, static_cast<uint32_t>(sizeClass), false};
    Poison(RoomOf(slab), kNodeSlabBytes - kSlabHeaderBytes);
    return slab;
}

// Unmaps `count` empty slabs, those that follow each other in one call: the
// call, more than the pages, is what costs.
void Unmap(Slab** slabs, size_t count) noexcept
{
    std::sort(slabs, slabs + count);
    for (size_t first = 0; first < count;) {
        size_t end = first + 1;
        while (end < count && reinterpret_cast<char*>(slabs[end]) == EndOf(slabs[end - 1]))
            ++end;
#if defined(COMMON_NODE_POOL_POISONS)
        for (size_t i = first; i < end; ++i) {
            // The next mapping at this address starts addressable.
            Unpoison(slabs[i], kNodeSlabBytes);
            __lsan_unregister_root_region(slabs[i], kNodeSlabBytes);
        }
#endif
        munmap(slabs[first], (end - first) * kNodeSlabBytes);
        first = end;
    }
    g_slabCount.fetch_sub(count, std::memory_order_relaxed);
}

// Keeps an empty slab for the next nodes. Once kUnmapBatch slabs wait beyond
// kEmptyNodeSlabsKept, the batch of those emptied first is unmapped.
void GiveBack(Slab* slab) noexcept
{
    Slab* batch[kUnmapBatch];
    {
        LockGuard guard(g_empty.lock);
        slab->next = g_empty.slabs;
        g_empty.slabs = slab;
        if (++g_empty.count < kEmptyNodeSlabsKept + kUnmapBatch)
            return;
        Slab* last = g_empty.slabs;
        for (size_t i = 1; i < kEmptyNodeSlabsKept; ++i)
            last = last->next;
        Slab* beyond = last->next;
        last->next = nullptr;
        for (Slab*& unmapped : batch) {
            unmapped = beyond;
            beyond = beyond->next;
        }
        g_empty.count = kEmptyNodeSlabsKept;
    }
    Unmap(batch, kUnmapBatch);
}

void List(ClassSlabs& slabs, Slab* slab) COMMON_REQUIRES(slabs.lock)
{
    slab->prev = nullptr;
    slab->next = slabs.withRoom;
    if (slabs.withRoom != nullptr)
        slabs.withRoom->prev = slab;
    slabs.withRoom = slab;
    slab->listed = true;
}

void Unlist(ClassSlabs& slabs, Slab* slab) COMMON_REQUIRES(slabs.lock)
{
    if (slab->prev != nullptr)
        slab->prev->next = slab->next;
    else
        slabs.withRoom = slab->next;
    if (slab->next != nullptr)
        slab->next->prev = slab->prev;
    slab->listed = false;
}

// A thread's free nodes of one class, and a run of room not yet handed out.
// Nodes are made from `head`, then from `full`, then from the run; ended ones
// go to `head`. When `head` holds kBatch nodes it becomes `full`, and the
// former `full` goes back to the slabs: the nodes ended last serve first.
struct ClassCache
{
    FreeLink* head = nullptr;
    uint32_t count = 0;       // in `head`
    FreeLink* full = nullptr; // kBatch nodes, or none
    char* cursor = nullptr;
    char* end = nullptr;
};

// Puts the first `count` nodes of the list at `first` back in their slabs,
// and adds the slabs that fall empty to `emptied`.
void PutBackLocked(ClassSlabs& slabs, size_t sizeClass, FreeLink* first, uint32_t count, Slab*& emptied) noexcept
    COMMON_REQUIRES(slabs.lock)
{
    const size_t size = NodeSize(sizeClass);
    FreeLink* node = first;
    for (uint32_t i = 0; i < count; ++i) {
        FreeLink* const next = NextOf(node);
        Slab* const slab = SlabOf(node);
        if (slab->sizeClass != sizeClass) [[unlikely]]
            WrongSize(node, size);
        SetNext(node, slab->free);
        slab->free = node;
        if (--slab->used == 0) {
            if (slab->listed)
                Unlist(slabs, slab);
            slab->next = emptied;
            emptied = slab;
        } else if (!slab->listed && HasRoom(slab, size)) {
            List(slabs, slab);
        }
        node = next;
    }
}

void GiveBackAll(Slab* emptied) noexcept
{
    while (emptied != nullptr) {
        Slab* const next = emptied->next;
        GiveBack(emptied);
        emptied = next;
    }
}

// Puts the first `count` nodes of the list at `first` back in their slabs,
// and gives back the slabs that fall empty.
void PutBack(size_t sizeClass, FreeLink* first, uint32_t count) noexcept
{
    InstallForkHandlers();
    ClassSlabs& slabs = g_classes[sizeClass];
    Slab* emptied = nullptr;
    {
        LockGuard guard(slabs.lock);
        PutBackLocked(slabs, sizeClass, first, count, emptied);
    }
    GiveBackAll(emptied);
}

// Hands a batch of kBatch nodes over whole for the next thread that needs
// nodes of the class, or puts it back in its slabs when the class holds
// kSharedBatches already.
void HandOverBatch(size_t sizeClass, FreeLink* batch) noexcept
{
    InstallForkHandlers();
    ClassSlabs& slabs = g_classes[sizeClass];
    Slab* emptied = nullptr;
    {
        LockGuard guard(slabs.lock);
        if (slabs.batchCount < kSharedBatches) {
            slabs.batches[slabs.batchCount++] = batch;
            return;
        }
        PutBackLocked(slabs, sizeClass, batch, kBatch, emptied);
    }
    GiveBackAll(emptied);
}

// Puts the batches handed over in a class back in their slabs.
void PutBackBatches(size_t sizeClass) noexcept
{
    InstallForkHandlers();
    ClassSlabs& slabs = g_classes[sizeClass];
    Slab* emptied = nullptr;
    {
        LockGuard guard(slabs.lock);
        while (slabs.batchCount != 0)
            PutBackLocked(slabs, sizeClass, slabs.batches[--slabs.batchCount], kBatch, emptied);
    }
    GiveBackAll(emptied);
}

// Puts a thread's free nodes and run of one class back in their slabs.
void PutAllBack(size_t sizeClass, ClassCache& cache) noexcept
{
    const size_t size = NodeSize(sizeClass);
    if (cache.full != nullptr)
        PutBack(sizeClass, cache.full, kBatch);
    uint32_t count = cache.count;
    FreeLink* list = cache.head;
    for (char* room = cache.cursor; room != nullptr && room + size <= cache.end; room += size) {
        auto* node = reinterpret_cast<FreeLink*>(room);
        SetNext(node, list);
        list = node;
        ++count;
    }
    if (count != 0)
        PutBack(sizeClass, list, count);
    cache = ClassCache{};
}

// Gives a cache with no node nor room up to `most` nodes: a batch handed over
// whole when `most` is kBatch, or else free nodes of the slabs with room, then
// a run of the room of the last of them. False when the system has no room.
bool Refill(size_t sizeClass, ClassCache& cache, uint32_t most) noexcept
{
    InstallForkHandlers();
    ClassSlabs& slabs = g_classes[sizeClass];
    const size_t size = NodeSize(sizeClass);
    Slab* spare = nullptr;
    for (;;) {
        {
            LockGuard guard(slabs.lock);
            if (most == kBatch && slabs.batchCount != 0) {
                cache.head = slabs.batches[--slabs.batchCount];
                cache.count = kBatch;
                break;
            }
            if (slabs.withRoom == nullptr && spare != nullptr) {
                List(slabs, spare);
                spare = nullptr;
            }
            uint32_t taken = 0;
            while (taken < most && slabs.withRoom != nullptr) {
                Slab* const slab = slabs.withRoom;
                uint32_t fromSlab = 0;
                for (; taken + fromSlab < most && slab->free != nullptr; ++fromSlab) {
                    FreeLink* const node = slab->free;
                    slab->free = NextOf(node);
                    SetNext(node, cache.head);
                    cache.head = node;
                }
                cache.count += fromSlab;
                bool ran = false;
                if (slab->free == nullptr && taken + fromSlab < most) {
                    const auto run = static_cast<uint32_t>(std::min<size_t>(
                        most - taken - fromSlab, static_cast<size_t>(EndOf(slab) - slab->fresh) / size));
                    if (run != 0) {
                        cache.cursor = slab->fresh;
                        cache.end = slab->fresh + run * size;
                        slab->fresh = cache.end;
                        fromSlab += run;
                        ran = true;
                    }
                }
                slab->used += fromSlab;
                taken += fromSlab;
                if (!HasRoom(slab, size))
                    Unlist(slabs, slab);
                if (ran) // a cache holds one run
                    break;
            }
            if (taken != 0)
                break;
        }
        // No slab of the class has room: map one without holding the lock.
        if ((spare = TakeSlab(sizeClass)) == nullptr)
            return false;
    }
    if (spare != nullptr) // another thread gave the class room meanwhile
        GiveBack(spare);
    return true;
}

enum class CacheState : uint8_t
{
    Fresh, // the thread has not yet kept a node
    Live,  // the thread's end puts its lists back
    Gone,  // the lists were put back: nodes go straight to and from the slabs
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

struct ThreadCacheEnd
{
    ~ThreadCacheEnd()
    {
        // The batches handed over go back too, so that a thread's end leaves
        // no node out of its slab but those other threads keep.
        for (size_t sizeClass = 0; sizeClass < kClassCount; ++sizeClass) {
            PutAllBack(sizeClass, t_cache.classes[sizeClass]);
            PutBackBatches(sizeClass);
        }
        t_cache.state = CacheState::Gone;
    }
};

thread_local ThreadCacheEnd t_cacheEnd;

void KeepFromNowOn() noexcept
{
    static_cast<void>(&t_cacheEnd); // the thread's end puts the lists back
    t_cache.state = CacheState::Live;
}

void* HandOut(void* node, size_t bytes) noexcept
{
    Unpoison(node, bytes);
    return node;
}

void* TakeHead(ClassCache& cache, size_t bytes) noexcept
{
    FreeLink* const node = cache.head;
    cache.head = NextOf(node);
    --cache.count;
    return HandOut(node, bytes);
}

// The cache of the class has no node nor room.
void* AllocateSlow(size_t sizeClass, size_t bytes)
{
    if (t_cache.state == CacheState::Fresh)
        KeepFromNowOn();
    if (t_cache.state == CacheState::Gone) {
        ClassCache one;
        if (!Refill(sizeClass, one, 1))
            throw std::bad_alloc();
        return HandOut(one.head != nullptr ? static_cast<void*>(one.head) : one.cursor, bytes);
    }
    ClassCache& cache = t_cache.classes[sizeClass];
    if (!Refill(sizeClass, cache, kBatch))
        throw std::bad_alloc();
    if (cache.head != nullptr)
        return TakeHead(cache, bytes);
    void* const node = cache.cursor;
    cache.cursor += NodeSize(sizeClass);
    return HandOut(node, bytes);
}

} // namespace

void* AllocateNode(size_t bytes)
{
    if (bytes > kLargestNode)
        return ::operator new(bytes);
    const size_t sizeClass = ClassOf(bytes);
    ClassCache& cache = t_cache.classes[sizeClass];
    if (cache.head != nullptr) [[likely]]
        return TakeHead(cache, bytes);
    if (cache.full != nullptr) {
        cache.head = cache.full;
        cache.count = kBatch;
        cache.full = nullptr;
        return TakeHead(cache, bytes);
    }
    const size_t size = NodeSize(sizeClass);
    if (static_cast<size_t>(cache.end - cache.cursor) >= size) {
        void* const node = cache.cursor;
        cache.cursor += size;
        return HandOut(node, bytes);
    }
    return AllocateSlow(sizeClass, bytes);
}

void FreeNode(void* node, size_t bytes) noexcept
{
    if (node == nullptr)
        return;
    if (bytes > kLargestNode) {
        ::operator delete(node);
        return;
    }
    CheckInUse(node, bytes);
    const size_t sizeClass = ClassOf(bytes);
    Poison(node, NodeSize(sizeClass));
    auto* const link = static_cast<FreeLink*>(node);
    if (t_cache.state != CacheState::Live) [[unlikely]] {
        if (t_cache.state == CacheState::Gone) {
            SetNext(link, nullptr);
            PutBack(sizeClass, link, 1);
            return;
        }
        KeepFromNowOn();
    }
    ClassCache& cache = t_cache.classes[sizeClass];
    SetNext(link, cache.head);
    cache.head = link;
    if (++cache.count == kBatch) {
        if (cache.full != nullptr)
            HandOverBatch(sizeClass, cache.full);
        cache.full = cache.head;
        cache.head = nullptr;
        cache.count = 0;
    }
}

NodePoolStatistics GetNodePoolStatistics() noexcept
{
    NodePoolStatistics statistics;
    LockGuard guard(g_empty.lock);
    statistics.slabs = g_slabCount.load(std::memory_order_relaxed);
    statistics.emptySlabsKept = g_empty.count;
    return statistics;
}

} // namespace Common
