// Thread identifiers and spin steps.

#include "core/common/thread_id.h"

namespace Common {

ThreadId GetCurrentThreadId()
{
    return pthread_self();
}

void SpinPause()
{
}

} // namespace Common
