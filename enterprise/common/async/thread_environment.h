// Carrying a thread environment across threads.
//
// ThreadEnvironmentScope applies an environment to the current thread for its
// lifetime and then puts the thread's own back. EnvironmentPreservingHandler
// captures the environment of the thread that creates it and delivers its
// completion inside that environment, on whatever thread completes it.
//
// What an environment holds is the async service's business. Without a service
// GetEnvironmentProvider gives a provider whose environments hold nothing, so
// both work (and change nothing) there as well.
//
// Threading: a scope lives on one thread's stack. A preserving handler is
// created on one thread and completed once on any thread.
#pragma once

#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/async/async_service.h"
#include "enterprise/common/async/job.h"

namespace Async {

// The service's environment provider, or without a service the process-wide
// provider of empty environments. Never null.
EnvironmentProvider* GetEnvironmentProvider();

class ThreadEnvironmentScope : public Common::NonCopyable
{
public:
    // With a non-empty environment: captures the thread's current one from
    // `provider`, then applies `environment`. With an empty one: nothing.
    ThreadEnvironmentScope(EnvironmentProvider* provider, const std::shared_ptr<ThreadEnvironment>& environment);
    // With a non-empty environment: leaves it, then restores the captured one.
    ~ThreadEnvironmentScope();

private:
    EnvironmentProvider* m_provider;
    std::shared_ptr<ThreadEnvironment> m_environment;
    std::shared_ptr<ThreadEnvironment> m_previous;
};

class EnvironmentPreservingHandler : public ActionHandler
{
public:
    // Captures the calling thread's environment; `handler` must outlive the
    // completion.
    explicit EnvironmentPreservingHandler(ActionHandler& handler);

    // Calls the wrapped handler inside a scope over the captured environment;
    // the scope ends after the call, also when the call throws. The wrapped
    // handler may destroy this handler inside the call.
    void Completed(const Common::Error& result) override;

private:
    ActionHandler* m_handler;
    EnvironmentProvider* m_provider;
    std::shared_ptr<ThreadEnvironment> m_environment;
};

} // namespace Async
