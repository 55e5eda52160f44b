#include "enterprise/common/async/synchronization_fork.h"

#include <functional>
#include <utility>

#include "core/common/trace.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/job_control.h"

namespace Async {

namespace {

// Runs forked work on the service and keeps itself alive until the work's
// completion; it is destroyed inside that completion.
class ForkJob : public ActionHandler
{
public:
    explicit ForkJob(std::unique_ptr<Work> work) : m_work(std::move(work)) {}

    void Completed(const Common::Error& result) override
    {
        std::shared_ptr<ForkJob> self = std::move(m_self);
        if (!result.IsSuccess())
            Common::TraceError(Common::TRACE_DEBUG, result);
        // Releasing `self` may destroy this job here.
    }

    static void Start(Service& service, std::unique_ptr<Work> work)
    {
        auto job = std::make_shared<ForkJob>(std::move(work));
        job->m_self = job;
        auto perform = std::bind(&Service::PerformWork, &service, std::ref(*job->m_work), std::placeholders::_1);
        ActionRefAdaptor<decltype(perform)> action(perform);
        job->m_control.Perform(action, *job, nullptr);
    }

private:
    // Destroyed in reverse: the control, the self-pointer, then the work.
    std::unique_ptr<Work> m_work;
    std::shared_ptr<ForkJob> m_self;
    JobControl m_control;
};

Service* FindService()
{
    Service* service = nullptr;
    (void)GetAsyncService(&service);
    return service;
}

} // namespace

bool SynchronizationFork::Satisfy(void*)
{
    if (!IsReady())
        return false;
    std::unique_ptr<Work> work = TakeWork();
    if (!work)
        return false;
    if (!Fork(work)) {
        const Common::Error result = work->Run();
        if (!result.IsSuccess())
            Common::TraceError(Common::TRACE_DEBUG, result);
    }
    return false;
}

void SynchronizationFork::OnTick(const Common::Error&)
{
    (void)TrySatisfy(nullptr); // a fork never ends a walk
}

void SynchronizationFork::StartMetronome()
{
    Service* service = FindService();
    if (!service)
        return;
    (void)Start(service->GetMetronomeFactory()->CreateMetronome(60)); // a refusal is reported by Start
}

bool SynchronizationFork::Fork(std::unique_ptr<Work>& work)
{
    Service* service = FindService();
    if (!service)
        return false;
    ForkJob::Start(*service, std::move(work));
    return true;
}

} // namespace Async
