// Async::BarrierDebugTracer: a result accumulator that traces failures at
// level 1 (debug) and ignores successes. One process-wide instance.
//
// Threading: Accumulate from any thread; no state.
#pragma once

#include "enterprise/common/async/job.h"

namespace Async {

class BarrierDebugTracer : public ResultAccumulator
{
public:
    void Accumulate(const Common::Error& result) override;

    // The process-wide instance, built on first use.
    static BarrierDebugTracer& Instance();
};

} // namespace Async
