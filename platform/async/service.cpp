// The async service and GetAsyncService.

#include "platform/async/service.h"

#include <atomic>

#include "platform/async/async_platform.h"
#include "platform/async/service_job.h"
#include "platform/objrep/common_error.h"

namespace AsyncPlatform {

namespace {

constexpr std::chrono::seconds kIdleLimit(10);

std::atomic<bool> g_serviceEnabled{true};

class WorkJob : public ServiceJob
{
public:
    void Cancel() override {}
};

Common::Error RunWork(Async::Work& work)
{
    try {
        return work.Run();
    } catch (const Common::Error& error) {
        return error;
    }
}

} // namespace

Service::Service(std::chrono::milliseconds idleLimit) : m_pool(idleLimit)
{
}

std::shared_ptr<Async::Job> Service::PerformWork(Async::Work& work, Async::ActionHandler& handler)
{
    auto job = std::make_shared<WorkJob>();
    // The task holds nothing but the two references: after Completed it touches neither.
    if (m_pool.Submit([&work, &handler] { handler.Completed(RunWork(work)); }))
        return job;
    handler.Completed(RunWork(work));
    return nullptr;
}

Service& GetProcessService()
{
    static Service* const service = new Service(kIdleLimit); // never destroyed: threads may run at exit
    return *service;
}

void SetServiceEnabledForTesting(bool enabled)
{
    g_serviceEnabled.store(enabled);
}

} // namespace AsyncPlatform

int GetAsyncService(Async::Service** service)
{
    if (!service)
        return -1;
    if (!AsyncPlatform::g_serviceEnabled.load()) {
        *service = nullptr;
        return 1;
    }
    *service = &AsyncPlatform::GetProcessService();
    return 0;
}
