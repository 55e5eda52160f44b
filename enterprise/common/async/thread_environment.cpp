// Thread environment scopes and environment-preserving handlers.

#include "enterprise/common/async/thread_environment.h"

namespace Async {

namespace {

// The environment where there is no service: it holds nothing.
class EmptyEnvironment : public ThreadEnvironment
{
public:
    void Apply() override {}
    void Leave() override {}
    void Restore() override {}
};

class EmptyEnvironmentProvider : public EnvironmentProvider
{
public:
    std::shared_ptr<ThreadEnvironment> CaptureEnvironment() override
    {
        static const std::shared_ptr<ThreadEnvironment> empty = std::make_shared<EmptyEnvironment>();
        return empty;
    }
};

} // namespace

EnvironmentProvider* GetEnvironmentProvider()
{
    Service* service = nullptr;
    (void)GetAsyncService(&service); // null when there is none
    if (service)
        return service->GetEnvironmentProvider();
    static EmptyEnvironmentProvider empty;
    return &empty;
}

ThreadEnvironmentScope::ThreadEnvironmentScope(EnvironmentProvider* provider,
                                               const std::shared_ptr<ThreadEnvironment>& environment)
    : m_provider(provider), m_environment(environment)
{
    if (!m_environment)
        return;
    m_previous = m_provider->CaptureEnvironment();
    m_environment->Apply();
}

ThreadEnvironmentScope::~ThreadEnvironmentScope()
{
    if (!m_environment)
        return;
    m_environment->Leave();
    if (m_previous) // providers never answer null; a broken one leaves the thread without
        m_previous->Restore();
}

EnvironmentPreservingHandler::EnvironmentPreservingHandler(ActionHandler& handler)
    : m_handler(&handler), m_provider(GetEnvironmentProvider()), m_environment(m_provider->CaptureEnvironment())
{
}

void EnvironmentPreservingHandler::Completed(const Common::Error& result)
{
    // The scope holds its own reference: the handler may destroy this one.
    ThreadEnvironmentScope scope(m_provider, m_environment);
    m_handler->Completed(result);
}

} // namespace Async
