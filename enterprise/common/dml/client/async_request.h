// Asynchronous requests of the DML client and the command jobs built on them.
//
// AsyncRequest hands one Binding::Request to an access point and completes
// one Async::ActionHandler exactly once: with the call's result, or with the
// shared canceled error (0xF90002) when Cancel comes first. Whichever of the
// completion and Cancel comes first takes the handler by an atomic exchange
// with null. A manual-reset event, set from construction until Run starts the
// call job, orders the end: Cancel and the destructor return only after the
// library's OnCompleted has set it, and OnCompleted sets it before it calls
// the handler, so a handler may drop the last share of its command (and so
// destroy the request) inside its completion.
//
// A request destroyed on another thread while its handler is being completed
// also waits for that completion to return, so the handler (a command whose
// destructor is releasing the request) keeps its fields until then.
//
// RequestRunner owns the current request of a job and forwards Run and Cancel
// to it. SmartRequestRunner is the base of every command of the client: Start
// builds the command's request and runs it; on success DeliverResults hands
// the reply's results to the command's reader, then the outer handler gets the
// call's result unchanged. A command whose reply is read into its own fields
// calls ReleaseRequest first in its destructor, so a reply still in flight is
// never read into freed members.
//
// NotifyHandler completes a handler (none: nothing happens); a Common::Error
// it throws is traced through Dml::HandleCallbackException.
//
// Threading: completions arrive on the library's threads; Cancel may come from
// any thread. A command is created by new and held by std::shared_ptr.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "core/common/event.h"
#include "enterprise/common/async/base_job.h"
#include "platform/ipc/binding.h"

namespace Dml {

void NotifyHandler(const Common::Error& result, Async::ActionHandler* handler) noexcept;

class AsyncRequest final : public Async::BaseJob, public JobManagement::JobHandler
{
public:
    // Hands `request` (always emptied) to the access point; a refused call is
    // kept as the result and reaches the handler through Run.
    AsyncRequest(const std::shared_ptr<Binding::AccessPoint>& accessPoint, std::unique_ptr<Binding::Request>& request,
                 Async::ActionHandler* handler);
    ~AsyncRequest() override;

    // Called once, right after construction.
    void Run();

    // Async::Job and JobManagement::JobHandler.
    void Cancel() override;
    void OnSuccess() override;
    void OnError(const Common::Error& error) override;
    void OnCompleted() override;

private:
    // Whoever completes the handler resets `done` first and sets it once the
    // handler has returned; `ended` is reset while a started call runs and set
    // once OnCompleted no longer touches the request. The shared block
    // outlives a request destroyed by its own handler.
    struct Notification
    {
        Common::Event done{true, true};
        Common::Event ended{true, true};
        std::atomic<std::thread::id> notifier{};
    };

    // Takes the handler; when there was one, marks a completion in progress.
    Async::ActionHandler* TakeHandler();
    static void Complete(const std::shared_ptr<Notification>& notification, const Common::Error& result,
                         Async::ActionHandler* handler);

    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
    std::unique_ptr<JobManagement::Job> m_job;
    std::atomic<Async::ActionHandler*> m_handler;
    Common::Event m_event{true, true};
    Common::Error m_result;
    std::shared_ptr<Notification> m_notification = std::make_shared<Notification>();
};

class RequestRunner : public Async::BaseJob
{
public:
    RequestRunner() = default;
    ~RequestRunner() override = default;

    void Cancel() override;
    virtual void Run();

protected:
    // Releases the current request; returns once its call has ended.
    void ReleaseRequest() noexcept { m_request.reset(); }

    std::shared_ptr<AsyncRequest> m_request;
};

class SmartRequestRunner : public RequestRunner, public Async::ActionHandler
{
public:
    SmartRequestRunner(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Async::ActionHandler* outerHandler);
    ~SmartRequestRunner() override;

    // Builds the request and runs it; exceptions of BuildRequest and of
    // allocation reach the caller, and no handler is completed then.
    void Start();
    void Run() override { Start(); }
    virtual void DeliverResults() {}
    virtual std::unique_ptr<Binding::Request> BuildRequest() = 0;
    void Completed(const Common::Error& result) override { OnCompleted(result); }

protected:
    void OnCompleted(const Common::Error& result);

private:
    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
    Async::ActionHandler* m_outerHandler;
};

} // namespace Dml
