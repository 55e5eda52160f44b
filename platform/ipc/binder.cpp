// The binder and service browsers of the IPC stand-in, and the library's
// entry points IPCClient_CreateBinder and IPCClient_GetLocalBrowser.
//
// The local browser opens access points over the local road: the PacketHandler
// that a service linked into this program registered (packet_handler.h), with
// the service code as the call context. The binder connects to a service
// process over the socket road, authenticating with the settings' user,
// password and service code; its browser opens access points over that one
// connection, which stays open while a browser or an access point holds it.

#include <atomic>
#include <cstring>

#include "core/common/mutex.h"
#include "core/common/text_conversion.h"
#include "platform/ipc/binding_errors.h"
#include "platform/ipc/binding_stand_in.h"
#include "platform/ipc/local_transport.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/socket_transport.h"
#include "platform/ipc/transport_access_point.h"

namespace {

constexpr Common::SourceFile kSource("platform/ipc/binder");

struct Observations
{
    Common::NonRecursiveMutex lock;
    Common::Error localBrowserFailure COMMON_GUARDED_BY(lock);
    Binding::AccessPointOptions lastOptions COMMON_GUARDED_BY(lock) = {};
    int openCalls COMMON_GUARDED_BY(lock) = 0;
};

Observations& GetObservations()
{
    static Observations* const observations = new Observations; // used until exit, never destroyed
    return *observations;
}

void ObserveOpen(const Binding::AccessPointOptions* options)
{
    Observations& observations = GetObservations();
    Common::LockGuard guard(observations.lock);
    ++observations.openCalls;
    if (options)
        observations.lastOptions = *options;
    else
        std::memset(&observations.lastOptions, 0xFF, sizeof observations.lastOptions);
}

class LocalBrowser final : public Binding::ServiceBrowser
{
public:
    Common::Error OpenAccessPoint(int serviceCode, int, std::unique_ptr<Binding::AccessPoint>& accessPoint,
                                  Binding::AccessPointOptions* options) override
    {
        ObserveOpen(options);
        Ipc::PacketHandler* handler = Ipc::GetLocalHandler();
        if (!handler)
            return BindingErrors::MakeBindingError(BindingErrors::kNoLocalService, BindingErrors::kNoLocalServiceText,
                                                   kSource.At("OpenAccessPoint", __LINE__));
        auto transport = std::make_shared<Ipc::LocalTransport>(*handler, Ipc::CallContext{"", serviceCode});
        accessPoint = std::make_unique<Ipc::TransportAccessPoint>(std::move(transport), Ipc::NewConnectionKey());
        return Common::Success;
    }
};

class RemoteBrowser final : public Binding::ServiceBrowser
{
public:
    explicit RemoteBrowser(std::shared_ptr<Ipc::SocketTransport> transport)
        : m_transport(std::move(transport)), m_connectionKey(Ipc::NewConnectionKey())
    {
    }

    // The connection was authenticated for the service code of the settings;
    // every access point of this browser shares it.
    Common::Error OpenAccessPoint(int, int, std::unique_ptr<Binding::AccessPoint>& accessPoint,
                                  Binding::AccessPointOptions* options) override
    {
        ObserveOpen(options);
        accessPoint = std::make_unique<Ipc::TransportAccessPoint>(m_transport, m_connectionKey);
        return Common::Success;
    }

private:
    std::shared_ptr<Ipc::SocketTransport> m_transport;
    int m_connectionKey;
};

class SocketBinder final : public Binding::Binder
{
public:
    Common::Error Connect(const Binding::ConnectionSettings& settings,
                          std::unique_ptr<Binding::ServiceBrowser>& browser) override
    {
        Ipc::HelloRecord hello;
        hello.user = Common::ToUtf8(settings.user.c_str());
        hello.password = Common::ToUtf8(settings.password.c_str());
        hello.serviceCode = settings.serviceCode;
        std::unique_ptr<Ipc::SocketTransport> transport;
        const Common::Error result = Ipc::SocketTransport::Connect(settings.host, hello, transport);
        if (!result.IsSuccess())
            return result;
        browser = std::make_unique<RemoteBrowser>(std::move(transport));
        return Common::Success;
    }
};

} // namespace

int IPCClient_CreateBinder(Binding::Binder** binder)
{
    *binder = new SocketBinder;
    return 0;
}

void IPCClient_GetLocalBrowser(Binding::ServiceBrowser** browser, Common::Error* error)
{
    {
        Observations& observations = GetObservations();
        Common::LockGuard guard(observations.lock);
        if (!observations.localBrowserFailure.IsSuccess()) {
            *error = observations.localBrowserFailure;
            return;
        }
    }
    *browser = new LocalBrowser;
}

namespace IpcStandIn {

void SetLocalBrowserFailureForTesting(const Common::Error& failure)
{
    Observations& observations = GetObservations();
    Common::LockGuard guard(observations.lock);
    observations.localBrowserFailure = failure;
}

Binding::AccessPointOptions GetLastOpenOptionsForTesting()
{
    Observations& observations = GetObservations();
    Common::LockGuard guard(observations.lock);
    return observations.lastOptions;
}

int GetOpenAccessPointCallsForTesting()
{
    Observations& observations = GetObservations();
    Common::LockGuard guard(observations.lock);
    return observations.openCalls;
}

} // namespace IpcStandIn
