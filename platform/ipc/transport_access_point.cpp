#include "platform/ipc/transport_access_point.h"

#include <atomic>

#include "platform/ipc/binding_errors.h"
#include "platform/ipc/binding_stand_in.h"
#include "platform/ipc/call_job.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/transport_access_point");

constexpr int kObjectManagerComponent = 274;
constexpr int kViewManagerComponent = 271;

std::atomic<uint32_t> g_viewManagerVersion{2};
std::atomic<int> g_nextConnectionKey{1};

} // namespace

int NewConnectionKey()
{
    return g_nextConnectionKey.fetch_add(1);
}

TransportAccessPoint::TransportAccessPoint(std::shared_ptr<Transport> transport, int connectionKey)
    : m_transport(std::move(transport)), m_connectionKey(connectionKey)
{
}

Common::Error TransportAccessPoint::Call(std::unique_ptr<Binding::Request>& request,
                                         std::unique_ptr<JobManagement::Job>& job)
{
    if (!request)
        return BindingErrors::MakeBindingError(BindingErrors::kEmptyRequest, BindingErrors::kEmptyRequestText,
                                               kSource.At("Call", __LINE__));
    job = std::make_unique<CallJob>(m_transport, std::move(request));
    return Common::Success;
}

int TransportAccessPoint::GetConnectionKey()
{
    return m_connectionKey;
}

Common::Error TransportAccessPoint::GetInterfaceVersion(int componentId, uint32_t* version, uint32_t* reserved)
{
    if (reserved)
        *reserved = 0;
    switch (componentId) {
    case kObjectManagerComponent:
        *version = 1;
        return Common::Success;
    case kViewManagerComponent:
        *version = g_viewManagerVersion.load();
        return Common::Success;
    default:
        return MakeIpcError(kNotSupported, kNotSupportedText, kSource.At("GetInterfaceVersion", __LINE__));
    }
}

} // namespace Ipc

namespace IpcStandIn {

void SetViewManagerVersionForTesting(uint32_t version)
{
    Ipc::g_viewManagerVersion.store(version);
}

} // namespace IpcStandIn
