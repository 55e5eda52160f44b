// Client-side subscriptions of dynamic views.
//
// StandaloneRemoteSubscription is the subscription of one dynamic view that
// only it reads: each Read polls the server once with "AcquireUpdates"(viewID)
// and delivers the updates to the reader (by type; reader errors are traced
// and skipped), then completes the handler with the call's result. A failed
// or cancelled Read first closes the view with a synchronous "CloseView"
// (result ignored); the object stays usable. The destructor always sends
// "CloseView" and waits for its reply.
//
// CloseView and RemoveInterest send their request synchronously over the
// access point if it still exists, and ignore the result.
//
// Threading: no lock. A Read's delivery and its failure path run on the
// library's completion thread, or on the reading thread when the call fails
// at once; the synchronous requests block that thread.
#pragma once

#include <cstdint>
#include <memory>

#include "enterprise/common/dml/service_interfaces.h"
#include "platform/ipc/binding.h"
#include "xidl/view_management.h"

namespace Dml::Client {

void CloseView(uint32_t viewId, const std::weak_ptr<Binding::AccessPoint>& accessPoint);
void RemoveInterest(const ViewManagement::TopicID& topic, const std::weak_ptr<Binding::AccessPoint>& accessPoint);

class RemoteSubscriptionBase : public Subscription
{
protected:
    explicit RemoteSubscriptionBase(const std::shared_ptr<Binding::AccessPoint>& accessPoint)
        : m_accessPoint(accessPoint)
    {
    }

    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
};

class StandaloneRemoteSubscription final : public RemoteSubscriptionBase
{
public:
    StandaloneRemoteSubscription(const std::shared_ptr<Binding::AccessPoint>& accessPoint, uint32_t viewId);
    ~StandaloneRemoteSubscription() override;

    std::shared_ptr<Async::Job> Read(UpdateReader& reader, Async::ActionHandler& handler) override;

private:
    uint32_t m_viewId;
};

} // namespace Dml::Client
