#include "enterprise/common/async/semaphore.h"

#include <utility>

#include "core/common/assertion.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/async/thread_environment.h"

namespace Async {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/async/semaphore", 0xD7761D47EDEB39A4ull - 154);
}

namespace Detail {

SemaphoreLogic::SemaphoreLogic(uint32_t capacity) : m_capacity(capacity), m_provider(GetEnvironmentProvider())
{
}

SemaphoreLogic::~SemaphoreLogic()
{
    if (m_runningCount != 0)
        Common::ReportAssertion("!RunningCount && \"Don't destroy semaphore until all jobs has finished.\"",
                                kSource.path, 194);
}

uint32_t SemaphoreLogic::GetRunningCount()
{
    Common::LockGuard guard(m_mutex);
    return m_runningCount;
}

SemaphoreLogic::SemaphoreJob::SemaphoreJob(std::shared_ptr<SemaphoreLogic> logic, std::unique_ptr<Action> action,
                                           std::shared_ptr<ThreadEnvironment> environment, ActionHandler& handler)
    : m_logic(std::move(logic)), m_action(std::move(action)), m_environment(std::move(environment)),
      m_pendingHandler(&handler)
{
}

EntityDescription SemaphoreLogic::SemaphoreJob::Describe() const
{
    return EntityDescription(Common::GetMessageText(59), kSource.At("Describe", 154));
}

std::shared_ptr<Job> SemaphoreLogic::Perform(std::unique_ptr<Action> action, ActionHandler& handler)
{
    std::shared_ptr<SemaphoreLogic> self = shared_from_this(); // std::bad_weak_ptr when gone
    auto job = std::make_shared<SemaphoreJob>(self, std::move(action), m_provider->CaptureEnvironment(), handler);
    bool admitted = false;
    {
        Common::LockGuard guard(m_mutex);
        // A free place goes to a new job only when none waits: a place given
        // back while jobs wait belongs to the oldest of them.
        if ((m_capacity == 0 || m_runningCount < m_capacity) && m_queue.empty()) {
            ++m_runningCount;
            admitted = true;
        } else {
            m_queue.push_back(job);
        }
    }
    if (admitted) {
        // Admitted at once: the job runs in this thread's own environment.
        job->m_environment.reset();
        ActionHandler* handler = job->m_pendingHandler.exchange(nullptr, std::memory_order_acq_rel);
        if (!handler)
            Common::ReportAssertion("prepareResult && \"State logic broken.\"", kSource.path, 274);
        job->m_handler = handler;
        Start(job);
    }
    StartWaiting();
    return job;
}

void SemaphoreLogic::Start(const std::shared_ptr<SemaphoreJob>& job)
{
    job->m_starter.store(Common::GetCurrentThreadId(), std::memory_order_release);
    std::unique_ptr<Action> action = std::move(job->m_action);
    {
        ThreadEnvironmentScope scope(m_provider, job->m_environment);
        job->m_control.Perform(*action, *job, job.get());
        job->m_starter.store(0, std::memory_order_release);
    }
}

bool SemaphoreLogic::StartNext()
{
    std::shared_ptr<SemaphoreJob> job;
    {
        Common::LockGuard guard(m_mutex);
        while (!m_queue.empty()) {
            if (m_capacity != 0 && m_runningCount >= m_capacity)
                break;
            std::shared_ptr<SemaphoreJob> front = std::move(m_queue.front());
            m_queue.pop_front();
            ActionHandler* handler = front->m_pendingHandler.exchange(nullptr, std::memory_order_acq_rel);
            if (handler) {
                front->m_handler = handler;
                ++m_runningCount;
                job = std::move(front);
                break;
            }
            // Cancelled while it waited: dropped without taking a place.
        }
    }
    if (!job)
        return false;
    Start(job);
    return true;
}

void SemaphoreLogic::StartWaiting()
{
    while (StartNext()) {}
}

void SemaphoreLogic::SemaphoreJob::Cancel()
{
    ActionHandler* handler = m_pendingHandler.exchange(nullptr, std::memory_order_acq_rel);
    if (!handler) {
        m_control.Cancel();
        return;
    }
    m_action.reset();
    handler->Completed(MakeCanceledError(kSource.At("Cancel", 142)));
}

void SemaphoreLogic::SemaphoreJob::Completed(const Common::Error& result)
{
    const Common::ThreadId starter = m_starter.load(std::memory_order_acquire);
    // The handler may release the last handle to this job: use locals after it.
    const std::shared_ptr<SemaphoreLogic> logic = m_logic;
    m_handler->Completed(result);
    {
        Common::LockGuard guard(logic->m_mutex);
        --logic->m_runningCount;
    }
    if (starter == Common::GetCurrentThreadId())
        return; // the start on this thread continues the dispatch
    logic->StartWaiting();
}

std::shared_ptr<Job> BoundAction::Perform(ActionHandler& handler)
{
    if (!m_action)
        return CompleteWithResult(GetInvalidResultError(), handler);
    return m_logic->Perform(std::move(m_action), handler);
}

} // namespace Detail

Semaphore::Semaphore(uint32_t capacity) : m_logic(std::make_shared<Detail::SemaphoreLogic>(capacity))
{
}

Semaphore::~Semaphore() = default;

std::unique_ptr<Action> Semaphore::Bind(std::unique_ptr<Action> action)
{
    return std::make_unique<Detail::BoundAction>(m_logic, std::move(action));
}

} // namespace Async
