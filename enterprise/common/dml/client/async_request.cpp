#include "enterprise/common/dml/client/async_request.h"

#include <cstdlib>

#include "core/common/assertion.h"
#include "core/common/location.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/dml/safe_invoke.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/client/async_request");

} // namespace

void NotifyHandler(const Common::Error& result, Async::ActionHandler* handler) noexcept
{
    if (!handler)
        return;
    try {
        handler->Completed(Common::Error(result));
    } catch (const Common::Error& escaped) {
        HandleCallbackException(escaped);
    } catch (...) {
        // A completion admits no other exception.
        std::abort();
    }
}

AsyncRequest::AsyncRequest(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                           std::unique_ptr<Binding::Request>& request, Async::ActionHandler* handler)
    : m_accessPoint(accessPoint), m_handler(handler)
{
    std::unique_ptr<Binding::Request> local = std::move(request);
    const Common::Error called = m_accessPoint->Call(local, m_job);
    local.reset();
    if (!called.IsSuccess())
        m_result = called;
}

AsyncRequest::~AsyncRequest()
{
    // `ended` is set after the event, once OnCompleted no longer touches this
    // request (a thread inside the event's Set still uses the event).
    m_notification->ended.Wait();
    if (m_notification->notifier.load() != std::this_thread::get_id())
        m_notification->done.Wait();
}

Async::ActionHandler* AsyncRequest::TakeHandler()
{
    Async::ActionHandler* handler = m_handler.exchange(nullptr);
    if (handler) {
        m_notification->done.Reset();
        m_notification->notifier.store(std::this_thread::get_id());
    }
    return handler;
}

void AsyncRequest::Complete(const std::shared_ptr<Notification>& notification, const Common::Error& result,
                            Async::ActionHandler* handler)
{
    if (!handler)
        return;
    // The handler may destroy the request: only the shared block is touched.
    NotifyHandler(result, handler);
    notification->notifier.store(std::thread::id());
    notification->done.Set();
}

void AsyncRequest::Run()
{
    if (!m_result.IsSuccess()) {
        OnCompleted();
        return;
    }
    if (!m_job) {
        // A call taken without a job would never complete: it fails instead.
        Common::ReportAssertion("Job.get()", kSource.path, 58);
        m_result = Async::GetInvalidResultError();
        OnCompleted();
        return;
    }
    m_event.Reset();
    m_notification->ended.Reset();
    const Common::Error started = m_job->Start(*this);
    if (!started.IsSuccess()) {
        OnError(started);
        OnCompleted();
    }
}

void AsyncRequest::Cancel()
{
    if (!m_job)
        Common::ReportAssertion("Job.get()", kSource.path, 108);
    Async::ActionHandler* handler = TakeHandler();
    if (handler && m_job)
        (void)m_job->Cancel(); // the outcome comes through OnCompleted all the same
    m_event.Wait();
    const std::shared_ptr<Notification> notification = m_notification;
    Complete(notification, Async::GetCanceledError(), handler);
}

void AsyncRequest::OnSuccess()
{
    m_result = Common::Success;
}

void AsyncRequest::OnError(const Common::Error& error)
{
    m_result = error;
}

void AsyncRequest::OnCompleted()
{
    const std::shared_ptr<Notification> notification = m_notification;
    const Common::Error result = m_result;
    Async::ActionHandler* handler = TakeHandler();
    m_event.Set();
    notification->ended.Set(); // from here on the request may be gone
    Complete(notification, result, handler);
}

void RequestRunner::Cancel()
{
    // The request may lose its last other owner inside its Cancel.
    const std::shared_ptr<AsyncRequest> request = m_request;
    if (request)
        request->Cancel();
}

void RequestRunner::Run()
{
    const std::shared_ptr<AsyncRequest> request = m_request;
    if (request)
        request->Run();
}

SmartRequestRunner::SmartRequestRunner(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                       Async::ActionHandler* outerHandler)
    : m_accessPoint(accessPoint), m_outerHandler(outerHandler)
{
}

SmartRequestRunner::~SmartRequestRunner()
{
    ReleaseRequest();
}

void SmartRequestRunner::Start()
{
    std::unique_ptr<Binding::Request> request = BuildRequest();
    m_request = std::make_shared<AsyncRequest>(m_accessPoint, request, static_cast<Async::ActionHandler*>(this));
    RequestRunner::Run();
}

void SmartRequestRunner::OnCompleted(const Common::Error& result)
{
    if (result.GetCode() == Common::Success.GetCode()) {
        try {
            DeliverResults();
        } catch (const Common::Error& escaped) {
            HandleCallbackException(escaped);
        }
    }
    NotifyHandler(result, m_outerHandler);
}

} // namespace Dml
