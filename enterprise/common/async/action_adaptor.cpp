#include "enterprise/common/async/action_adaptor.h"

namespace Async::Detail {

namespace {
thread_local int t_failuresToInject = 0;
}

void SetHandleAllocationFailuresForTesting(int count) noexcept
{
    t_failuresToInject = count;
}

void* AllocateHandleBlock(std::size_t size)
{
    if (t_failuresToInject > 0) {
        --t_failuresToInject;
        throw std::bad_alloc();
    }
    return ::operator new(size);
}

void FreeHandleBlock(void* block) noexcept
{
    ::operator delete(block);
}

} // namespace Async::Detail
