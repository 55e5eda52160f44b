#include "xidl/view_manager.h"

#include "core/common/location.h"
#include "enterprise/common/ipc/execute_request.h"
#include "enterprise/common/ipc/method_table_info.h"
#include "enterprise/common/ipc/request_impl.h"

namespace {

using Binding::Detail::BuildRequest;
using Binding::Detail::kMethodInfoWord;

constexpr Common::SourceFile kSource("enterprise/management_server/test/connectivity/xidl/dml_view_common",
                                     0x276149E63703E805ull - 220);

constexpr int kComponentId = 271;
constexpr uint64_t kInterfaceVersion = 2;
constexpr uint64_t kMethodTable[] = {kMethodInfoWord, kMethodInfoWord, kMethodInfoWord,
                                     kMethodInfoWord, kMethodInfoWord, kMethodInfoWord,
                                     kMethodInfoWord, kMethodInfoWord, kMethodInfoWord};

Binding::MethodIdentity Identity(int32_t index, const char* method, uint64_t since)
{
    return Binding::MethodIdentity(kComponentId, index, "ViewManager", method, kInterfaceVersion, since);
}

template <int ComponentId>
class ComponentInfoImpl;

template <>
class ComponentInfoImpl<271> final : public Binding::Detail::MethodTableInfo
{
public:
    ComponentInfoImpl()
        : MethodTableInfo(kComponentId, static_cast<int>(kInterfaceVersion), kMethodTable, std::size(kMethodTable),
                          kSource.At("GetMethodInfo", 220))
    {
    }
};

[[maybe_unused]] const bool g_registered = (Core::RegisterComponentInfo(GetViewManagerComponentInfo()), true);

} // namespace

namespace Dml::ViewManagement {

std::unique_ptr<Binding::Request> MakeOpenDynamicViewRequest(const ViewSpec& specification, unsigned int& viewID,
                                                             UnitVector& snapshot)
{
    return BuildRequest<void(const ViewSpec&, unsigned int&, UnitVector&)>(
        Identity(1, "OpenDynamicView", 1), {"specification", "viewID", "snapshot"}, specification, viewID, snapshot);
}

std::unique_ptr<Binding::Request> MakeOpenStaticViewRequest(const ViewSpec& specification, UnitVector& snapshot)
{
    return BuildRequest<void(const ViewSpec&, UnitVector&)>(Identity(2, "OpenStaticView", 1),
                                                            {"specification", "snapshot"}, specification, snapshot);
}

std::unique_ptr<Binding::Request> MakeAcquireUpdatesRequest(unsigned int viewID, std::vector<ViewUpdate>& updates)
{
    return BuildRequest<void(unsigned int, std::vector<ViewUpdate>&)>(Identity(3, "AcquireUpdates", 1),
                                                                      {"viewID", "updates"}, viewID, updates);
}

std::unique_ptr<Binding::Request> MakeCloseViewRequest(unsigned int viewID)
{
    return BuildRequest<void(unsigned int)>(Identity(4, "CloseView", 1), {"viewID"}, viewID);
}

std::unique_ptr<Binding::Request> MakeSubscribeRequest(const SubscriptionSpec& spec, Subscription& subscription)
{
    return BuildRequest<void(const SubscriptionSpec&, Subscription&)>(Identity(5, "Subscribe", 2),
                                                                      {"spec", "subscription"}, spec, subscription);
}

std::unique_ptr<Binding::Request> MakeAddInterestRequest(const TopicSpec& spec, Topic& topic)
{
    return BuildRequest<void(const TopicSpec&, Topic&)>(Identity(6, "AddInterest", 2), {"spec", "topic"}, spec, topic);
}

std::unique_ptr<Binding::Request> MakeReadSubscriptionRequest(unsigned int subscriber, SubscriptionContent& updates)
{
    return BuildRequest<void(unsigned int, SubscriptionContent&)>(Identity(7, "ReadSubscription", 2),
                                                                  {"subscriber", "updates"}, subscriber, updates);
}

std::unique_ptr<Binding::Request> MakeRemoveInterestRequest(const TopicID& topic)
{
    return BuildRequest<void(const TopicID&)>(Identity(8, "RemoveInterest", 2), {"topic"}, topic);
}

std::unique_ptr<Binding::Request> MakeUnsubscribeRequest(unsigned int subscriber)
{
    return BuildRequest<void(unsigned int)>(Identity(9, "Unsubscribe", 2), {"subscriber"}, subscriber);
}

ViewManager_Proxy::ViewManager_Proxy(const std::shared_ptr<Binding::AccessPoint>& accessPoint)
    : m_accessPoint(accessPoint)
{
}

Common::Error ViewManager_Proxy::Execute(std::unique_ptr<Binding::Request> request)
{
    return Binding::ExecuteRequest(*m_accessPoint, request);
}

Common::Error ViewManager_Proxy::OpenDynamicView(const ViewSpec& specification, unsigned int& viewID,
                                                 UnitVector& snapshot)
{
    return Execute(MakeOpenDynamicViewRequest(specification, viewID, snapshot));
}

Common::Error ViewManager_Proxy::OpenStaticView(const ViewSpec& specification, UnitVector& snapshot)
{
    return Execute(MakeOpenStaticViewRequest(specification, snapshot));
}

Common::Error ViewManager_Proxy::AcquireUpdates(unsigned int viewID, std::vector<ViewUpdate>& updates)
{
    return Execute(MakeAcquireUpdatesRequest(viewID, updates));
}

Common::Error ViewManager_Proxy::CloseView(unsigned int viewID)
{
    return Execute(MakeCloseViewRequest(viewID));
}

Common::Error ViewManager_Proxy::Subscribe(const SubscriptionSpec& spec, Subscription& subscription)
{
    return Execute(MakeSubscribeRequest(spec, subscription));
}

Common::Error ViewManager_Proxy::AddInterest(const TopicSpec& spec, Topic& topic)
{
    return Execute(MakeAddInterestRequest(spec, topic));
}

Common::Error ViewManager_Proxy::ReadSubscription(unsigned int subscriber, SubscriptionContent& updates)
{
    return Execute(MakeReadSubscriptionRequest(subscriber, updates));
}

Common::Error ViewManager_Proxy::RemoveInterest(const TopicID& topic)
{
    return Execute(MakeRemoveInterestRequest(topic));
}

Common::Error ViewManager_Proxy::Unsubscribe(unsigned int subscriber)
{
    return Execute(MakeUnsubscribeRequest(subscriber));
}

} // namespace Dml::ViewManagement

Core::ComponentInfo& GetViewManagerComponentInfo()
{
    static ComponentInfoImpl<271> info;
    return info;
}
