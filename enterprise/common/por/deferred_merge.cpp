#include "enterprise/common/por/deferred_merge.h"

#include <new>

namespace Por {

Common::Mutex& DeferredMerge::MergeLock() noexcept
{
    // Built in place and never destroyed: units in statics may still be read
    // during exit, and the first use must not fail on memory.
    alignas(Common::Mutex) static unsigned char storage[sizeof(Common::Mutex)];
    static Common::Mutex* const lock = new (storage) Common::Mutex;
    return *lock;
}

} // namespace Por
