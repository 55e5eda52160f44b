#include "enterprise/common/dml/client/production_cycle.h"

#include "enterprise/common/async/cyclic_runner.h"
#include "enterprise/common/dml/client/async_request.h"
#include "xidl/view_manager.h"

namespace Dml::Client {
namespace {

// A pull job: one request whose reply is read into the job's own content.
class PullUpdatesJob : public RequestRunner, public Async::ActionHandler
{
public:
    virtual void Start() = 0;
};

class PullTransmissionUpdatesJob final : public PullUpdatesJob
{
public:
    PullTransmissionUpdatesJob(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Consumer& consumer,
                               Async::ActionHandler& handler, uint32_t subscriberId)
        : m_accessPoint(accessPoint), m_consumer(consumer), m_handler(handler), m_subscriberId(subscriberId)
    {
    }
    ~PullTransmissionUpdatesJob() override { ReleaseRequest(); }

    void Start() override
    {
        std::unique_ptr<Binding::Request> request = BuildRequest();
        m_request = std::make_shared<AsyncRequest>(m_accessPoint, request, static_cast<Async::ActionHandler*>(this));
        Run();
    }
    void Completed(const Common::Error& result) override { OnCompleted(result); }
    const ViewManagement::SubscriptionContent& GetContent() const { return m_content; }

private:
    std::unique_ptr<Binding::Request> BuildRequest()
    {
        return ViewManagement::MakeReadSubscriptionRequest(m_subscriberId, m_content);
    }
    void OnCompleted(const Common::Error& result)
    {
        if (!result.IsSuccess())
            m_consumer.Fail(result);
        else
            m_consumer.Consume(m_content.TopicUpdates);
        NotifyHandler(result, &m_handler);
    }

    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
    Consumer& m_consumer;
    Async::ActionHandler& m_handler;
    uint32_t m_subscriberId;
    ViewManagement::SubscriptionContent m_content;
};

class PullUpdates : public Async::Action
{
public:
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        std::shared_ptr<PullUpdatesJob> job = CreateJob(handler);
        job->Start();
        return job;
    }

protected:
    virtual std::shared_ptr<PullUpdatesJob> CreateJob(Async::ActionHandler& handler) = 0;
};

class PullTransmissionUpdates final : public PullUpdates
{
public:
    PullTransmissionUpdates(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Consumer& consumer,
                            uint32_t subscriberId)
        : m_accessPoint(accessPoint), m_consumer(consumer), m_subscriberId(subscriberId)
    {
    }

private:
    std::shared_ptr<PullUpdatesJob> CreateJob(Async::ActionHandler& handler) override
    {
        return std::make_shared<PullTransmissionUpdatesJob>(m_accessPoint, m_consumer, handler, m_subscriberId);
    }

    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
    Consumer& m_consumer;
    uint32_t m_subscriberId;
};

} // namespace

std::unique_ptr<Async::Action> MakePullTransmissionUpdates(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                                           Consumer& consumer, uint32_t subscriberId)
{
    return std::make_unique<PullTransmissionUpdates>(accessPoint, consumer, subscriberId);
}

ProductionCycle::ProductionCycle(std::unique_ptr<Async::Action> action)
    : Async::WaitingHandler(true), m_action(std::move(action))
{
}

ProductionCycle::~ProductionCycle()
{
    if (m_started) {
        m_control.Cancel();
        (void)Wait(nullptr); // the run's end; its result is the cycle's own business
    }
}

void ProductionCycle::Start()
{
    std::unique_ptr<Async::Action> action = std::move(m_action);
    std::unique_ptr<Async::Action> cyclic = Async::MakeCyclicAction(action);
    m_started = true;
    m_control.Perform(*cyclic, *this, nullptr);
}

} // namespace Dml::Client
