#include <functional>

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/dml/client/async_request.h"
#include "enterprise/common/dml/client/custom_action_failure_handler.h"
#include "enterprise/common/dml/client/remote_subscription.h"
#include "enterprise/common/dml/safe_invoke.h"
#include "xidl/view_manager.h"

namespace Dml::Client {
namespace {

class PullViewUpdatesJob final : public SmartRequestRunner
{
public:
    PullViewUpdatesJob(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Async::ActionHandler& handler,
                       uint32_t viewId, UpdateReader& reader)
        : SmartRequestRunner(accessPoint, &handler), m_viewId(viewId), m_reader(reader)
    {
    }
    ~PullViewUpdatesJob() override { ReleaseRequest(); }

    std::unique_ptr<Binding::Request> BuildRequest() override
    {
        return ViewManagement::MakeAcquireUpdatesRequest(m_viewId, m_updates);
    }
    void DeliverResults() override { DeliverUpdates(m_updates, m_reader); }

private:
    uint32_t m_viewId;
    UpdateReader& m_reader;
    std::vector<ViewManagement::ViewUpdate> m_updates;
};

} // namespace

void CloseView(uint32_t viewId, const std::weak_ptr<Binding::AccessPoint>& accessPoint)
{
    if (const std::shared_ptr<Binding::AccessPoint> locked = accessPoint.lock())
        (void)ViewManagement::ViewManager_Proxy(locked).CloseView(viewId); // closing is best effort
}

void RemoveInterest(const ViewManagement::TopicID& topic, const std::weak_ptr<Binding::AccessPoint>& accessPoint)
{
    if (const std::shared_ptr<Binding::AccessPoint> locked = accessPoint.lock())
        (void)ViewManagement::ViewManager_Proxy(locked).RemoveInterest(topic); // removing is best effort
}

StandaloneRemoteSubscription::StandaloneRemoteSubscription(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                                           uint32_t viewId)
    : RemoteSubscriptionBase(accessPoint), m_viewId(viewId)
{
}

StandaloneRemoteSubscription::~StandaloneRemoteSubscription()
{
    CloseView(m_viewId, m_accessPoint);
}

std::shared_ptr<Async::Job> StandaloneRemoteSubscription::Read(UpdateReader& reader, Async::ActionHandler& handler)
{
    const uint32_t viewId = m_viewId;
    const std::weak_ptr<Binding::AccessPoint> accessPoint = m_accessPoint;
    auto closeOnFailure = std::make_shared<Async::Detail::CustomActionFailureHandler<std::function<void()>>>(
        handler, [viewId, accessPoint] { CloseView(viewId, accessPoint); });
    auto job = std::make_shared<PullViewUpdatesJob>(m_accessPoint, *closeOnFailure, viewId, reader);
    job->Start();
    return Async::Detail::AttachLifeCycleData(std::shared_ptr<Async::Job>(job), closeOnFailure);
}

} // namespace Dml::Client
