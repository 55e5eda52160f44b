// The service's jobs: ids and description.

#include "platform/async/service_job.h"

#include <atomic>

#include "core/common/location.h"
#include "core/common/message_catalogue.h"

namespace AsyncPlatform {

namespace {

constexpr Common::SourceFile kSource("platform/async/service_job");
constexpr unsigned kUnidentifiedJobText = 61; // "ASYNC: Unidentified job."

std::atomic<uint64_t> g_lastJobNumber{0};

} // namespace

ServiceJob::ServiceJob() : m_id(kServiceJobIdBase | (g_lastJobNumber.fetch_add(1) + 1))
{
}

Async::EntityDescription ServiceJob::Describe() const
{
    return Async::EntityDescription(Common::GetMessageText(kUnidentifiedJobText), kSource.At("Describe", __LINE__));
}

} // namespace AsyncPlatform
