// The base of the jobs that the async service hands out (work items and
// metronome ticks). Their ids come from a counter of the service's own, in the
// upper half of the id range, so they never meet the ids of the framework's jobs.
//
// Threading: GetId and Describe from any thread.
#pragma once

#include <cstdint>

#include "platform/async/job.h"

namespace AsyncPlatform {

inline constexpr uint64_t kServiceJobIdBase = uint64_t(1) << 63;

class ServiceJob : public Async::Job
{
public:
    ServiceJob();

    Async::EntityDescription Describe() const override;
    uint64_t GetId() const override { return m_id; }

private:
    const uint64_t m_id;
};

} // namespace AsyncPlatform
