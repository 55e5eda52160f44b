// The cancel-disabling action and its job.

#include "enterprise/common/async/cancel_disabling_action.h"

#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/job_control.h"

namespace Async {

namespace {

class CancelDisablingJob : public BaseJob, public ActionHandler
{
public:
    // Runs `inner` for `handler`; the job holds itself until the completion,
    // since its control runs the inner action.
    static std::shared_ptr<Job> Start(Action& inner, ActionHandler& handler)
    {
        auto job = std::make_shared<CancelDisablingJob>(handler);
        job->m_self = job;
        job->m_control.Perform(inner, *job, job.get());
        return job;
    }

    explicit CancelDisablingJob(ActionHandler& handler) : m_handler(handler) {}

    void Cancel() override {}

    void Completed(const Common::Error& result) override
    {
        const std::shared_ptr<CancelDisablingJob> self = std::move(m_self);
        m_handler.Completed(result);
        // Releasing `self` may destroy the job here, its control included.
    }

private:
    ActionHandler& m_handler;
    std::shared_ptr<CancelDisablingJob> m_self;
    JobControl m_control;
};

} // namespace

std::unique_ptr<Action> CancelDisablingAction::Create(std::unique_ptr<Action> inner)
{
    return std::unique_ptr<Action>(new CancelDisablingAction(std::move(inner)));
}

std::shared_ptr<Job> CancelDisablingAction::Perform(ActionHandler& handler)
{
    return CancelDisablingJob::Start(*m_inner, handler);
}

} // namespace Async
