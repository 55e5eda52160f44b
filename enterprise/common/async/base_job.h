// Async::BaseJob: the base of every job class. Each job takes its id from one
// process-wide counter at construction (the first job gets 1; ids never
// repeat). The default description is catalogue text 61, "ASYNC: Unidentified
// job."; job classes with a text of their own override Describe.
//
// Threading: construction from any thread (the counter is atomic); the id is
// constant afterwards.
#pragma once

#include <cstdint>

#include "enterprise/common/async/job.h"

namespace Async {

class BaseJob : public Job
{
public:
    BaseJob() noexcept;

    EntityDescription Describe() const override;
    uint64_t GetId() const override { return m_id; }

private:
    uint64_t m_id;
};

namespace Detail {
// The next value of the process-wide job counter.
uint64_t NextJobId() noexcept;
} // namespace Detail

} // namespace Async
