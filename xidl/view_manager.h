// The client side of the remote interface "ViewManager" (component 271,
// interface version 2): one request builder per method, the synchronous proxy
// over an access point, and the interface's component-information record,
// registered at start-up. The methods, their indexes, versions and parameter
// names are the rows of Dml::Methods::ViewManager (method_tables.h); the
// parameters passed by non-const reference are in-out.
//
// Every parameter carries transfer flag 0. An in-out parameter is written
// with the value its variable holds when the request is built, and read back
// into that variable from a successful reply; the caller keeps the variable
// alive until the request has been read or destroyed. A builder returns none
// when building failed with a Common::Error (traced at level 1).
//
// Binary contract (ViewManager): declaration order is the binary order; never insert or reorder.
//
// Threading: builders from any thread. A proxy method blocks its thread until
// the call has ended (it may run on a completion thread of the IPC client
// library); one proxy serves one call at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/common/component_info.h"
#include "platform/ipc/binding.h"
#include "xidl/view_management.h"

namespace Dml::ViewManagement {

using UnitVector = std::vector<std::shared_ptr<const Por::View::Unit>>;

std::unique_ptr<Binding::Request> MakeOpenDynamicViewRequest(const ViewSpec& specification, unsigned int& viewID,
                                                             UnitVector& snapshot);
std::unique_ptr<Binding::Request> MakeOpenStaticViewRequest(const ViewSpec& specification, UnitVector& snapshot);
std::unique_ptr<Binding::Request> MakeAcquireUpdatesRequest(unsigned int viewID, std::vector<ViewUpdate>& updates);
std::unique_ptr<Binding::Request> MakeCloseViewRequest(unsigned int viewID);
std::unique_ptr<Binding::Request> MakeSubscribeRequest(const SubscriptionSpec& spec, Subscription& subscription);
std::unique_ptr<Binding::Request> MakeAddInterestRequest(const TopicSpec& spec, Topic& topic);
std::unique_ptr<Binding::Request> MakeReadSubscriptionRequest(unsigned int subscriber, SubscriptionContent& updates);
std::unique_ptr<Binding::Request> MakeRemoveInterestRequest(const TopicID& topic);
std::unique_ptr<Binding::Request> MakeUnsubscribeRequest(unsigned int subscriber);

class ViewManager
{
public:
    virtual ~ViewManager() = default;
    virtual Common::Error OpenDynamicView(const ViewSpec& specification, unsigned int& viewID,
                                          UnitVector& snapshot) = 0;
    virtual Common::Error OpenStaticView(const ViewSpec& specification, UnitVector& snapshot) = 0;
    virtual Common::Error AcquireUpdates(unsigned int viewID, std::vector<ViewUpdate>& updates) = 0;
    virtual Common::Error CloseView(unsigned int viewID) = 0;
    virtual Common::Error Subscribe(const SubscriptionSpec& spec, Subscription& subscription) = 0;
    virtual Common::Error AddInterest(const TopicSpec& spec, Topic& topic) = 0;
    virtual Common::Error ReadSubscription(unsigned int subscriber, SubscriptionContent& updates) = 0;
    virtual Common::Error RemoveInterest(const TopicID& topic) = 0;
    virtual Common::Error Unsubscribe(unsigned int subscriber) = 0;
};

// Runs each method as one synchronous call (Binding::ExecuteRequest) and
// returns its Common::Error unchanged; on success the reply has filled the
// in-out arguments before the method returns.
class ViewManager_Proxy final : public ViewManager
{
public:
    explicit ViewManager_Proxy(const std::shared_ptr<Binding::AccessPoint>& accessPoint);

    Common::Error OpenDynamicView(const ViewSpec& specification, unsigned int& viewID, UnitVector& snapshot) override;
    Common::Error OpenStaticView(const ViewSpec& specification, UnitVector& snapshot) override;
    Common::Error AcquireUpdates(unsigned int viewID, std::vector<ViewUpdate>& updates) override;
    Common::Error CloseView(unsigned int viewID) override;
    Common::Error Subscribe(const SubscriptionSpec& spec, Subscription& subscription) override;
    Common::Error AddInterest(const TopicSpec& spec, Topic& topic) override;
    Common::Error ReadSubscription(unsigned int subscriber, SubscriptionContent& updates) override;
    Common::Error RemoveInterest(const TopicID& topic) override;
    Common::Error Unsubscribe(unsigned int subscriber) override;

private:
    Common::Error Execute(std::unique_ptr<Binding::Request> request);

    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
};

} // namespace Dml::ViewManagement

// The one record of "ViewManager".
Core::ComponentInfo& GetViewManagerComponentInfo();
