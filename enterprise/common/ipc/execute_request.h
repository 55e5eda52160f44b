// Binding::ExecuteRequest: runs one request synchronously over an access point.
//
// Threading: blocks the calling thread until the call has ended; may be called
// from a completion thread of the IPC client library.
#pragma once

#include <memory>

#include "platform/ipc/binding.h"

namespace Binding {

// Takes the request out of `request` (which is empty afterwards, whatever the
// outcome), hands it to the access point and waits for the call. A failure of
// Call is returned without waiting; otherwise the result of the call job's
// Wait. An access point that accepts a call without a job gives
// BindingErrors::kNoCallJob.
Common::Error ExecuteRequest(AccessPoint& accessPoint, std::unique_ptr<Request>& request);

} // namespace Binding
