#include "enterprise/common/async/asynchronizer.h"

#include <functional>
#include <utility>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/async_errors.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/asynchronizer", 0x41D8D749260E2757ull - 100);

constexpr unsigned kDispatchingJobText = 630; // "ASYNC: Consume and perform action dispatching job."
constexpr unsigned kOrderingJobText = 631;    // "ASYNC: Consume and perform action ordering job."

} // namespace

std::shared_ptr<Job> AsynchronizeSequentially(std::unique_ptr<ActionReader> reader, ActionHandler& handler)
{
    std::shared_ptr<AsynchronizerImpl::SequenceAsynchronizerJob> job(
        new AsynchronizerImpl::SequenceAsynchronizerJob(std::move(reader)));
    job->Start(handler);
    return job;
}

namespace AsynchronizerImpl {

BaseAsynchronizerJob::BaseAsynchronizerJob(std::unique_ptr<ActionReader> reader) : m_reader(std::move(reader))
{
}

BaseAsynchronizerJob::~BaseAsynchronizerJob() = default;

EntityDescription BaseAsynchronizerJob::Describe() const
{
    return EntityDescription(Common::GetMessageText(kDispatchingJobText), kSource.At("Describe", 100));
}

void BaseAsynchronizerJob::Start(ActionHandler& handler)
{
    m_rollbackHandler.Set(&BaseAsynchronizerJob::OnFailure);
    InitializeSteps(handler, true);
    m_stepHandler.Set(&BaseAsynchronizerJob::OnReadCompleted);
    auto read = std::bind(&ActionReader::Read, m_reader.get(), std::ref(static_cast<ActionConsumer&>(*this)),
                          std::placeholders::_1);
    ActionRefAdaptor<decltype(read)> action(read);
    GetStepControl().PerformStep(action, &m_stepHandler);
}

Common::Error BaseAsynchronizerJob::Consume(std::unique_ptr<Action> action)
{
    if (!m_failReason.IsSuccess())
        Common::ReportAssertion("FailReason == Common::Success && \"Top-level logic broken.\"", kSource.path, 107);
    if (!m_accepting)
        return Common::MakeTraceLevelError(ASYNC_ERROR_ASYNCHRONIZER_CLOSED,
                                           Common::GetMessageText(kAsynchronizerClosedText),
                                           kSource.At("Consume", 111));
    const std::shared_ptr<Action> consumed(std::move(action));
    Common::Error result = PerformAction(Detail::MakeActionAdaptor(
        std::bind(&BaseAsynchronizerJob::PerformConsumed, this, consumed, std::placeholders::_1)));
    if (!result.IsSuccess()) {
        m_accepting = false;
        m_failReason = result;
    }
    return result;
}

std::shared_ptr<Job> BaseAsynchronizerJob::PerformConsumed(const std::shared_ptr<Action>& action,
                                                           ActionHandler& handler)
{
    std::shared_ptr<ActionJob> job(new ActionJob(action));
    job->Start(m_gateway, handler);
    return job;
}

void BaseAsynchronizerJob::OnReadCompleted()
{
    m_accepting = false;
    m_finalStepStarted = true;
    if (m_failReason.IsSuccess()) {
        const std::unique_ptr<Action> waitAll = MakeWaitAllAction();
        GetStepControl().PerformStep(*waitAll, nullptr);
        return;
    }
    m_stepHandler.Set(&BaseAsynchronizerJob::GetFailReason);
    const std::unique_ptr<Action> cancelAndWait = MakeCancelAndWaitAction();
    GetStepControl().PerformStep(*cancelAndWait, &m_stepHandler);
}

Common::Error BaseAsynchronizerJob::OnFailure(const Common::Error& result)
{
    if (m_failReason.IsSuccess())
        m_failReason = result; // the first failure wins
    if (m_finalStepStarted)
        return m_failReason;
    m_accepting = false;
    m_finalStepStarted = true;
    m_stepHandler.Set(&BaseAsynchronizerJob::GetFailReason);
    const std::unique_ptr<Action> cancelAndWait = MakeCancelAndWaitAction();
    GetStepControl().PerformStep(*cancelAndWait, &m_stepHandler);
    return Common::Error();
}

Common::Error BaseAsynchronizerJob::GetFailReason()
{
    return m_failReason;
}

Common::Error LazyBarrierAsynchronizerJob::PerformAction(std::unique_ptr<Action> action)
{
    return m_barrier.Perform(*action);
}

std::unique_ptr<Action> LazyBarrierAsynchronizerJob::MakeWaitAllAction()
{
    return Detail::MakeActionAdaptor(std::bind(std::mem_fn(&LazyBarrier::WaitAll), &m_barrier, std::placeholders::_1));
}

std::unique_ptr<Action> LazyBarrierAsynchronizerJob::MakeCancelAndWaitAction()
{
    return Detail::MakeActionAdaptor(std::bind(&LazyBarrier::CancelAndWait, &m_barrier, std::placeholders::_1));
}

Common::Error SequenceAsynchronizerJob::PerformAction(std::unique_ptr<Action> action)
{
    const std::unique_ptr<Action> bound = m_semaphore.Bind(std::move(action));
    return m_barrier.Perform(*bound);
}

ActionJob::~ActionJob() = default;

EntityDescription ActionJob::Describe() const
{
    return EntityDescription(Common::GetMessageText(kOrderingJobText), kSource.At("Describe", 58));
}

void ActionJob::Start(Gateway& gateway, ActionHandler& handler)
{
    InitializeSteps(handler, false);
    m_stepHandler.Set(&ActionJob::OnPassageGranted);
    auto acquire = std::bind(&Gateway::AcquireExclusive, &gateway, std::ref(m_flag), std::placeholders::_1);
    ActionRefAdaptor<decltype(acquire)> action(acquire);
    GetStepControl().PerformStep(action, &m_stepHandler);
}

void ActionJob::OnPassageGranted()
{
    // Given back once the action has started (also when starting it throws).
    const std::unique_ptr<Gateway::Flag> flag = std::move(m_flag);
    GetStepControl().PerformStep(*m_action, nullptr);
}

} // namespace AsynchronizerImpl

} // namespace Async
