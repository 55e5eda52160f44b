// Common::AllocateNode / Common::FreeNode: room for small objects of fixed
// size that are made and ended in large numbers (the nodes of object trees),
// without the heap's header and rounding on each of them.
//
// Sizes are rounded up to a multiple of 8 bytes, from 24 to kLargestNode; each
// rounded size is a class of its own. Larger sizes go to the heap. Nodes are
// aligned to 8 bytes.
//
// Room: nodes are cut from slabs of kNodeSlabBytes (64 KiB) mapped from the
// system at an address aligned to their size, each slab serving one class
// and counting its nodes in use. A slab's room is handed out from its start
// as it is needed, so pages never needed are never touched. A slab whose last
// node is ended is given back at once to the empty slabs (of any class),
// which serve the next nodes before anything is mapped. kEmptyNodeSlabsKept
// of them (4 MiB) stay, so that a tree of up to that size made and ended in a
// loop maps nothing; once kNodeSlabUnmapBatch more wait, those emptied first
// are unmapped (neighbours in one call), so the memory they held leaves the
// process. At rest fewer than kEmptyNodeSlabsKept + kNodeSlabUnmapBatch empty
// slabs (6 MiB) stay; besides those, what stays is what live threads keep
// (below).
//
// Threading: any thread may make and end nodes, and may end a node another
// thread made. Each thread keeps, per class, at most 2 * kNodeBatch - 1 free
// nodes (two lists) and a run of at most kNodeBatch nodes' room not yet
// handed out, and serves its nodes from them without a lock, those it ended
// last first. The rest goes under a lock per class: a thread whose lists fill
// up hands the older one over whole as a batch of kNodeBatch nodes (up to
// kNodeBatchesShared batches per class wait; beyond those, the nodes go back
// to their slabs), and a thread whose lists and run are empty takes a batch,
// or else up to kNodeBatch nodes from the slabs. So nodes that one thread
// ends and another makes pass in batches, without touching their slabs.
// Nodes in a thread's lists or run, or in a waiting batch, hold their slabs
// in use: a live thread holds a few slabs of each class it used, and the
// waiting batches a few more. When a thread that used the pool ends, its
// lists and run, and every waiting batch, go back to the slabs (and slabs
// that fall empty are given back); a node ended later on that thread (by
// another thread-exit destructor) goes straight back to its slab, and one
// made that late comes straight from a slab.
//
// Fork: handlers, installed when the pool first takes a lock, take every lock
// of the pool before fork() and release them after it in the parent and in
// the child, so a child forked while other threads make and end nodes finds
// the pool consistent and can use it; the nodes that other threads kept in
// their lists and runs stay in use in the child for its life.
//
// Address sanitizer: the pool is on in that build too, and tells it which
// room is in use: a node is addressable from AllocateNode to FreeNode, over
// the size asked for; a free node and room never handed out are poisoned, so
// reading or writing them is reported (use-after-poison). A pointer whose
// first byte is poisoned when handed to FreeNode (a node ended twice, or one
// never made) is reported and ends the process. A freed node is served again
// soon (last ended, first made), so a use long after the end may hit a new
// node and go unseen. Leak sanitizer: nodes are not heap blocks, and each slab
// is scanned as a root region, so a node never ended is not reported, nor are
// the heap blocks it holds: whatever any node points to (a free node's stale
// pointers too) counts as reachable.
//
// Common::PooledNode<Self>: a base that gives Self's objects this room through
// class operators new and delete. Self must be final, or every class derived
// from it must be deleted through a virtual destructor, so that delete hands
// over the size of the object's own class.
#pragma once

#include <cstddef>

namespace Common {

constexpr size_t kLargestNode = 128;
constexpr size_t kNodeAlignment = 8;
constexpr size_t kNodeSlabBytes = size_t{64} << 10;
constexpr size_t kNodeBatch = 128;
constexpr size_t kNodeBatchesShared = 16;
constexpr size_t kEmptyNodeSlabsKept = 64;
constexpr size_t kNodeSlabUnmapBatch = 32;

// Throws std::bad_alloc when the system has no room.
void* AllocateNode(size_t bytes);
// `bytes` is the size `node` was allocated with. A node ended with a size of
// another class stops the process with a message when it goes back to its
// slab (at once, or when its thread trades or ends its lists).
void FreeNode(void* node, size_t bytes) noexcept;

// The pool's room at one moment, for tests and measurements.
struct NodePoolStatistics
{
    size_t slabs = 0;          // mapped, of kNodeSlabBytes each
    size_t emptySlabsKept = 0; // of those, empty ones waiting for the next nodes
};
NodePoolStatistics GetNodePoolStatistics() noexcept;

template <typename Self>
class PooledNode
{
public:
    static void* operator new(size_t bytes)
    {
        static_assert(alignof(Self) <= kNodeAlignment, "pooled nodes are aligned to 8 bytes");
        return AllocateNode(bytes);
    }
    static void operator delete(void* node, size_t bytes) noexcept { FreeNode(node, bytes); }
};

} // namespace Common
