#include "xidl/view_manager.h"

#include "core/common/location.h"
#include "enterprise/common/ipc/execute_request.h"
#include "enterprise/common/ipc/method_table_info.h"
#include "xidl/method_request.h"

namespace {

namespace Table = Dml::Methods::ViewManager;

constexpr Common::SourceFile kSource("enterprise/management_server/test/connectivity/xidl/dml_view_common",
                                     0x276149E63703E805ull - 220);

constexpr auto kMethodTable = Dml::Methods::MethodInfoWords<std::size(Table::kMethods)>();

template <int ComponentId>
class ComponentInfoImpl;

template <>
class ComponentInfoImpl<Table::kInterface.componentId> final : public Binding::Detail::MethodTableInfo
{
public:
    ComponentInfoImpl()
        : MethodTableInfo(Table::kInterface.componentId, static_cast<int>(Table::kInterface.version),
                          kMethodTable.data(), kMethodTable.size(), kSource.At("GetMethodInfo", 220))
    {
    }
};

using ViewManagerInfo = ComponentInfoImpl<Table::kInterface.componentId>;

[[maybe_unused]] const bool g_registered = (Core::RegisterComponentInfo(GetViewManagerComponentInfo()), true);

template <const Dml::Methods::Row& Method, typename Signature, typename... Values>
std::unique_ptr<Binding::Request> Build(Values&&... values)
{
    return Dml::Methods::BuildRequest<Method, Signature>(Table::kInterface, std::forward<Values>(values)...);
}

} // namespace

namespace Dml::ViewManagement {

std::unique_ptr<Binding::Request> MakeOpenDynamicViewRequest(const ViewSpec& specification, unsigned int& viewID,
                                                             UnitVector& snapshot)
{
    return Build<Table::kOpenDynamicView, void(const ViewSpec&, unsigned int&, UnitVector&)>(specification, viewID,
                                                                                             snapshot);
}

std::unique_ptr<Binding::Request> MakeOpenStaticViewRequest(const ViewSpec& specification, UnitVector& snapshot)
{
    return Build<Table::kOpenStaticView, void(const ViewSpec&, UnitVector&)>(specification, snapshot);
}

std::unique_ptr<Binding::Request> MakeAcquireUpdatesRequest(unsigned int viewID, std::vector<ViewUpdate>& updates)
{
    return Build<Table::kAcquireUpdates, void(unsigned int, std::vector<ViewUpdate>&)>(viewID, updates);
}

std::unique_ptr<Binding::Request> MakeCloseViewRequest(unsigned int viewID)
{
    return Build<Table::kCloseView, void(unsigned int)>(viewID);
}

std::unique_ptr<Binding::Request> MakeSubscribeRequest(const SubscriptionSpec& spec, Subscription& subscription)
{
    return Build<Table::kSubscribe, void(const SubscriptionSpec&, Subscription&)>(spec, subscription);
}

std::unique_ptr<Binding::Request> MakeAddInterestRequest(const TopicSpec& spec, Topic& topic)
{
    return Build<Table::kAddInterest, void(const TopicSpec&, Topic&)>(spec, topic);
}

std::unique_ptr<Binding::Request> MakeReadSubscriptionRequest(unsigned int subscriber, SubscriptionContent& updates)
{
    return Build<Table::kReadSubscription, void(unsigned int, SubscriptionContent&)>(subscriber, updates);
}

std::unique_ptr<Binding::Request> MakeRemoveInterestRequest(const TopicID& topic)
{
    return Build<Table::kRemoveInterest, void(const TopicID&)>(topic);
}

std::unique_ptr<Binding::Request> MakeUnsubscribeRequest(unsigned int subscriber)
{
    return Build<Table::kUnsubscribe, void(unsigned int)>(subscriber);
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
    static ViewManagerInfo info;
    return info;
}
