// Test switches of the IPC stand-in's client side (binder, service browsers,
// access points).
//
// Threading: set them while no call of the library runs.
#pragma once

#include <cstdint>

#include "platform/ipc/binding.h"

namespace IpcStandIn {

// The version of "ViewManager" (271) that access points report: 2 by default,
// 1 for tests of the polling view provider.
void SetViewManagerVersionForTesting(uint32_t version);

// A failure that IPCClient_GetLocalBrowser reports instead of a browser;
// success restores the browser.
void SetLocalBrowserFailureForTesting(const Common::Error& failure);

// The options record of the last OpenAccessPoint call of any browser, and how
// many calls there were.
Binding::AccessPointOptions GetLastOpenOptionsForTesting();
int GetOpenAccessPointCallsForTesting();

} // namespace IpcStandIn
