#include "enterprise/common/ipc/connection.h"

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/text_conversion.h"
#include "platform/ipc/binding_errors.h"

namespace {

constexpr Common::SourceFile kClientSource("enterprise/common/ipc/client/lib/client", 0x71a433fed4308882ull - 38);
constexpr Common::SourceFile kSource("enterprise/common/ipc/connection");

constexpr unsigned kLocalBrowserFailed = 0xAD001F;
constexpr unsigned kLocalBrowserFailedText =
    166; // "Failed to obtain the local service browser during local connection."

// Moves an opened access point into its shared owner; one returned with a
// failure is deleted.
Common::Error ShareAccessPoint(Common::Error result, std::unique_ptr<Binding::AccessPoint>& opened,
                               std::shared_ptr<Binding::AccessPoint>& accessPoint)
{
    if (result.GetCode() != Common::Success.GetCode()) {
        opened.reset();
        return result;
    }
    accessPoint = std::move(opened);
    return result;
}

} // namespace

namespace Binding {

void CreateBinder(std::unique_ptr<Binder>& binder)
{
    binder.reset();
    Binder* created = nullptr;
    try {
        (void)IPCClient_CreateBinder(&created); // the pointer alone tells
    } catch (...) {
        delete created;
        throw;
    }
    binder.reset(created);
}

Common::Error GetLocalBrowser(std::unique_ptr<ServiceBrowser>& browser)
{
    Common::Error error = Common::Success;
    ServiceBrowser* obtained = nullptr;
    IPCClient_GetLocalBrowser(&obtained, &error);
    browser.reset(obtained);
    return error;
}

RemoteConnection::~RemoteConnection()
{
    browser.reset();
    settings = ConnectionSettings();
    binder.reset();
}

ConnectionSettings MakeConnectionSettings(const std::string& host, const std::string& user, const std::string& password,
                                          int32_t serviceCode)
{
    ConnectionSettings settings;
    settings.serviceCode = serviceCode;
    settings.host = host;
    settings.user = Common::FromUtf8(user.c_str());
    settings.password = Common::FromUtf8(password.c_str());
    return settings;
}

Common::Error ConnectRemote(RemoteConnection& connection, int32_t serviceCode,
                            std::shared_ptr<AccessPoint>& accessPoint)
{
    if (!connection.binder)
        return BindingErrors::MakeBindingError(BindingErrors::kNoBinder, BindingErrors::kNoBinderText,
                                               kSource.At("ConnectRemote", __LINE__));
    Common::Error result = connection.binder->Connect(connection.settings, connection.browser);
    if (result.GetCode() != Common::Success.GetCode())
        return result;
    if (!connection.browser)
        return BindingErrors::MakeBindingError(BindingErrors::kNoBinder, BindingErrors::kNoBinderText,
                                               kSource.At("ConnectRemote", __LINE__));
    std::unique_ptr<AccessPoint> opened;
    AccessPointOptions options{};
    result = connection.browser->OpenAccessPoint(serviceCode, 0, opened, &options);
    return ShareAccessPoint(result, opened, accessPoint);
}

Common::Error OpenLocalAccessPoint(int32_t serviceCode, std::shared_ptr<AccessPoint>& accessPoint)
{
    std::unique_ptr<AccessPoint> opened;
    AccessPointOptions options{};
    const Common::Error result = ConnectLocal(serviceCode, 0, opened, &options);
    return ShareAccessPoint(result, opened, accessPoint);
}

} // namespace Binding

Common::Error ConnectLocalImpl(int32_t serviceCode, int32_t reserved,
                               std::unique_ptr<Binding::AccessPoint>& accessPoint, Binding::AccessPointOptions* options)
{
    std::unique_ptr<Binding::ServiceBrowser> browser; // serves this one call
    const Common::Error obtained = Binding::GetLocalBrowser(browser);
    if (obtained.GetCode() != 0) {
        Common::Error error(kLocalBrowserFailed, Common::GetMessageText(kLocalBrowserFailedText),
                            kClientSource.At("ConnectLocalImpl", 38));
        error.AddCause(obtained);
        return error;
    }
    if (!browser)
        return BindingErrors::MakeBindingError(BindingErrors::kNoLocalService, BindingErrors::kNoLocalServiceText,
                                               kClientSource.At("ConnectLocalImpl", 38));
    return browser->OpenAccessPoint(serviceCode, reserved, accessPoint, options);
}

Common::Error ConnectLocal(int32_t serviceCode, int32_t reserved, std::unique_ptr<Binding::AccessPoint>& accessPoint,
                           Binding::AccessPointOptions* options)
{
    return ConnectLocalImpl(serviceCode, reserved, accessPoint, options);
}
