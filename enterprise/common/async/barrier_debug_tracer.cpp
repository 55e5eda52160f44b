#include "enterprise/common/async/barrier_debug_tracer.h"

#include "core/common/trace.h"

namespace Async {

void BarrierDebugTracer::Accumulate(const Common::Error& result)
{
    if (!result.IsSuccess())
        Common::TraceError(Common::TRACE_DEBUG, result);
}

BarrierDebugTracer& BarrierDebugTracer::Instance()
{
    static BarrierDebugTracer instance;
    return instance;
}

} // namespace Async
