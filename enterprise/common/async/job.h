// The vocabulary of the async job framework. Jobs, actions, handlers and job
// descriptions are the async service library's own interfaces
// (platform/async/job.h), which the framework shares with the service; the
// framework adds the result accumulator.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: the interfaces carry no state; see each implementation.
#pragma once

#include "core/common/non_copyable.h"
#include "platform/async/job.h"
#include "platform/objrep/common_error.h"

namespace Async {

class ResultAccumulator : public Common::NonCopyable
{
public:
    virtual ~ResultAccumulator() = default;
    virtual void Accumulate(const Common::Error& result) = 0;
};

} // namespace Async
