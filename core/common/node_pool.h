// Common::AllocateNode / Common::FreeNode: room for small objects of fixed
// size that are made and ended in large numbers (the nodes of object trees),
// without the heap's header and rounding on each of them.
//
// Sizes are rounded up to a multiple of 8 bytes, from 24 to kLargestNode; each
// rounded size is a class of its own. Nodes are cut from slabs of 64 KiB taken
// from the heap; an ended node goes to a free list of its class and serves the
// next node of that class, on any thread. Slabs are never given back: the room
// of a class stays at the most it has held at once, ready for the next tree.
// Larger sizes go to the heap. Nodes are aligned to 8 bytes.
//
// Under the address sanitizer every node comes from the heap, so that the
// sanitizer still sees each one (kNodePoolActive is then false).
//
// Common::PooledNode<Self>: a base that gives Self's objects this room through
// class operators new and delete. Self must be final, or every class derived
// from it must be deleted through a virtual destructor, so that delete hands
// over the size of the object's own class.
//
// Threading: any thread may make and end nodes, and may end a node another
// thread made. Each thread keeps a short list of free nodes per class and
// trades batches of them with a shared list under a lock; a thread's list goes
// to the shared one when the thread ends.
#pragma once

#include <cstddef>

namespace Common {

constexpr size_t kLargestNode = 128;
constexpr size_t kNodeAlignment = 8;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kNodePoolActive = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kNodePoolActive = false;
#else
constexpr bool kNodePoolActive = true;
#endif
#else
constexpr bool kNodePoolActive = true;
#endif

// Throws std::bad_alloc when the heap has no room.
void* AllocateNode(size_t bytes);
// `bytes` is the size `node` was allocated with.
void FreeNode(void* node, size_t bytes) noexcept;

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
