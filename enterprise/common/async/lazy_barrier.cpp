// The lazy barrier and its barrier job.

#include "enterprise/common/async/lazy_barrier.h"

#include <boost/bind/bind.hpp>

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/async/waiting_handler.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/lazy_barrier", 0x9174396A01B27BF2);
constexpr unsigned kLazyBarrierJobText = 629; // "ASYNC: Lazy barrier action job."

// Passes Perform on to an action and notes whether it threw something other
// than a Common::Error (which the job control turns into a failure itself).
class WatchedAction final : public Action
{
public:
    explicit WatchedAction(Action& action) noexcept : m_action(action) {}

    std::shared_ptr<Job> Perform(ActionHandler& handler) override
    {
        try {
            return m_action.Perform(handler);
        } catch (const Common::Error&) {
            throw;
        } catch (...) {
            m_threwForeign = true;
            throw;
        }
    }

    bool ThrewForeign() const noexcept { return m_threwForeign; }

private:
    Action& m_action;
    bool m_threwForeign = false;
};

} // namespace

EntityDescription LazyBarrier::BarrierJob::Describe() const
{
    return EntityDescription(Common::GetMessageText(kLazyBarrierJobText), kSource.At("Describe", 242));
}

Common::Error LazyBarrier::BarrierJob::PerformAction(Action& action)
{
    OneActionHandler* handler = nullptr;
    {
        Common::LockGuard guard(m_mutex);
        if (!m_barrierResult.IsSuccess())
            return m_handlers.empty() ? m_barrierResult : Common::Success;
        m_handlers.emplace_back(*this);
        handler = &m_handlers.back();
        handler->m_element = std::prev(m_handlers.end());
        handler->m_keepAlive = shared_from_this();
        ++m_pending;
    }
    // The handler may be gone when this returns: its completion unhooks it.
    WatchedAction watched(action);
    try {
        handler->m_control.Perform(watched, *handler, this);
    } catch (...) {
        if (!watched.ThrewForeign())
            throw; // not from the action's Perform: its run goes on, or has ended through the handler
        // The exception passes on, but the action counts as completed with its
        // description: the control has ended the run without a handler call,
        // and the waiters and the destructor would otherwise wait for ever.
        JobControl::PerformExceptionDescription description;
        OnCompleted(*handler, DescribeAnyCurrentException(description));
        throw;
    }
    Common::LockGuard guard(m_mutex);
    return m_barrierResult;
}

void LazyBarrier::BarrierJob::OneActionHandler::Completed(const Common::Error& result)
{
    m_job.OnCompleted(*this, result);
}

void LazyBarrier::BarrierJob::OnCompleted(OneActionHandler& handler, const Common::Error& result)
{
    // Held to the end: the last completion may drop the last other reference.
    const std::shared_ptr<BarrierJob> self = std::move(handler.m_keepAlive);
    m_mutex.Lock();
    // An empty list means a cancel moved the handler out: it stays there.
    if (!m_handlers.empty())
        m_handlers.erase(handler.m_element); // destroys the handler: not touched below
    --m_pending;
    if (!result.IsSuccess() && m_barrierResult.IsSuccess()) {
        m_barrierResult = result;
        if (m_pending != 0) {
            m_mutex.Unlock();
            Cancel();
            return;
        }
    }
    if (m_pending != 0) {
        m_mutex.Unlock();
        return;
    }
    if (ActionHandler* cancelWaiter = std::exchange(m_cancelWaiter, nullptr)) {
        m_mutex.Unlock();
        cancelWaiter->Completed(Common::Success);
        return;
    }
    ActionHandler* waiter = std::exchange(m_waiter, nullptr);
    const Common::Error barrierResult = m_barrierResult;
    m_mutex.Unlock();
    if (waiter)
        waiter->Completed(barrierResult);
}

void LazyBarrier::BarrierJob::Cancel()
{
    std::shared_ptr<std::list<OneActionHandler>> moved;
    std::list<OneActionHandler>::iterator first;
    {
        Common::LockGuard guard(m_mutex);
        if (m_handlers.empty())
            return;
        // Handlers moved out by an earlier cancel stay owned with the new ones:
        // their actions may not have completed yet.
        moved = std::make_shared<std::list<OneActionHandler>>();
        if (m_cancelledHandlers)
            moved->splice(moved->end(), *m_cancelledHandlers);
        first = m_handlers.begin();
        moved->splice(moved->end(), m_handlers);
        m_cancelledHandlers = moved;
        if (m_barrierResult.IsSuccess())
            m_barrierResult = MakeCanceledError(kSource.At("Cancel", 231));
    }
    for (auto handler = first; handler != moved->end(); ++handler)
        handler->Cancel();
}

void LazyBarrier::BarrierJob::RegisterWaiter(ActionHandler& handler, bool cancelled)
{
    Common::Error barrierResult;
    {
        Common::LockGuard guard(m_mutex);
        if (m_pending != 0) {
            (cancelled ? m_cancelWaiter : m_waiter) = &handler;
            return;
        }
        barrierResult = m_barrierResult;
    }
    handler.Completed(barrierResult);
}

LazyBarrier::LazyBarrier() = default;

LazyBarrier::~LazyBarrier()
{
    if (!m_job)
        return;
    const std::unique_ptr<Action> cancelAndWait = Detail::MakeActionAdaptor(
        boost::bind(&LazyBarrier::CancelAndWait, this, boost::placeholders::_1));
    JobControl control;
    WaitingHandler waiting(true);
    control.Perform(*cancelAndWait, waiting, nullptr);
    (void)waiting.Wait(nullptr); // the result is of no use to a destructor
    m_job.reset();
}

Common::Error LazyBarrier::Perform(Action& action)
{
    if (!m_job)
        m_job = std::make_shared<BarrierJob>();
    return m_job->PerformAction(action);
}

std::shared_ptr<Job> LazyBarrier::WaitAll(ActionHandler& handler)
{
    std::shared_ptr<BarrierJob> job = std::move(m_job);
    if (!job)
        return CompleteWithSuccess(handler);
    job->RegisterWaiter(handler, false);
    return job;
}

std::shared_ptr<Job> LazyBarrier::CancelAndWait(ActionHandler& handler)
{
    std::shared_ptr<BarrierJob> job = std::move(m_job);
    if (!job)
        return CompleteWithSuccess(handler);
    job->Cancel();
    job->RegisterWaiter(handler, true);
    return job;
}

} // namespace Async
