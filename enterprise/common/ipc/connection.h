// Connections to a service: creating the binder, the records of a remote
// connection, and the two roads to an access point.
//
// Local road: the local service browser of the IPC client library serves one
// ConnectLocal call and is deleted after it. Remote road: the binder connects
// to the host (the browser lives as long as the RemoteConnection), and that
// browser opens the access point. Either way the options record passed to
// OpenAccessPoint is all zero, and the access point ends in a shared pointer
// that deletes it through its virtual destructor.
//
// Threading: called on the tool's main thread before any request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ipc/binding.h"

namespace Binding {

// Stores a new binder of the IPC client library in `binder` (null when the
// library made none).
void CreateBinder(std::unique_ptr<Binder>& binder);

// Stores the local service browser in `browser`; the library's error.
Common::Error GetLocalBrowser(std::unique_ptr<ServiceBrowser>& browser);

// The remote connection the tool keeps for its whole run.
struct RemoteConnection
{
    std::unique_ptr<Binder> binder;
    ConnectionSettings settings;
    std::unique_ptr<ServiceBrowser> browser; // set by Connect

    RemoteConnection() = default;
    RemoteConnection(const RemoteConnection&) = delete;
    RemoteConnection& operator=(const RemoteConnection&) = delete;
    // Deletes the browser, then the settings, then the binder.
    ~RemoteConnection();
};

// Settings for `host` with UTF-8 `user` and `password` (converted to UTF-16)
// and `serviceCode`; every other field empty or zero.
ConnectionSettings MakeConnectionSettings(const std::string& host, const std::string& user, const std::string& password,
                                          int32_t serviceCode);

// The remote road on `connection`: connects its binder with its settings,
// then opens the access point of `serviceCode` on the host's browser. A
// connection without a binder gives BindingErrors::kNoBinder; failures of the
// library come back unchanged.
Common::Error ConnectRemote(RemoteConnection& connection, int32_t serviceCode,
                            std::shared_ptr<AccessPoint>& accessPoint);

// The local road: ConnectLocal with a zeroed options record, the access point
// moved into `accessPoint`.
Common::Error OpenLocalAccessPoint(int32_t serviceCode, std::shared_ptr<AccessPoint>& accessPoint);

} // namespace Binding

// Opens the access point of `serviceCode` through the local service browser.
// A browser that cannot be obtained gives 0xAD001F (catalogue 166) with the
// library's error as its cause, and the browser is never asked.
Common::Error ConnectLocalImpl(int32_t serviceCode, int32_t reserved,
                               std::unique_ptr<Binding::AccessPoint>& accessPoint,
                               Binding::AccessPointOptions* options);
Common::Error ConnectLocal(int32_t serviceCode, int32_t reserved, std::unique_ptr<Binding::AccessPoint>& accessPoint,
                           Binding::AccessPointOptions* options);
