// The service's jobs: ids and description.

#include "platform/async/service_job.h"

#include <atomic>

#include "platform/objrep/common_error.h"

namespace AsyncPlatform {

namespace {

// The published place of the description: the LineTag is the file's base (the
// 64-bit FNV-1a hash of its path) plus the line.
constexpr const char* kSourcePath = "platform/async/service_job";
constexpr uint64_t kLineTagBase = 0xe78957b2f71790e5;
constexpr uint32_t kDescribeLine = 27;

constexpr const char16_t* kUnidentifiedJobText = u"ASYNC: Unidentified job.";

std::atomic<uint64_t> g_lastJobNumber{0};

} // namespace

ServiceJob::ServiceJob() : m_id(kServiceJobIdBase | (g_lastJobNumber.fetch_add(1) + 1))
{
}

Async::EntityDescription ServiceJob::Describe() const
{
    return Async::EntityDescription(
        kUnidentifiedJobText, Common::Location{kLineTagBase + kDescribeLine, kSourcePath, "Describe", kDescribeLine});
}

} // namespace AsyncPlatform
