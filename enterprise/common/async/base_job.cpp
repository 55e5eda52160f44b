#include "enterprise/common/async/base_job.h"

#include <atomic>

#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/async/async_errors.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/base_job", 0xD9612B4AAEBB8E3Full - 40);

// Constant-initialized: usable by jobs built before main.
constinit std::atomic<uint64_t> g_jobCounter{0};

} // namespace

namespace Detail {

uint64_t NextJobId() noexcept
{
    return g_jobCounter.fetch_add(1, std::memory_order_relaxed) + 1;
}

} // namespace Detail

BaseJob::BaseJob() noexcept : m_id(Detail::NextJobId())
{
}

EntityDescription BaseJob::Describe() const
{
    return EntityDescription(Common::GetMessageText(kUnidentifiedJobText), kSource.At("Describe", 40));
}

} // namespace Async
