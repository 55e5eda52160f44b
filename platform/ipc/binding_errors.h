// Error codes of the IPC client interfaces (facility 0xAD) that callers meet
// around access points and call jobs, with the catalogue keys of their
// messages.
//
// Threading: constant data; the maker may be called from any thread.
#pragma once

#include "core/common/error.h"
#include "core/common/message_catalogue.h"

namespace BindingErrors {

// A call was asked to carry no request (an empty request pointer).
inline constexpr unsigned kEmptyRequest = 0xAD0110;
// The library created no binder, or its binder gave no service browser, so no
// remote connection can be opened.
inline constexpr unsigned kNoBinder = 0xAD0111;
// An access point accepted a call but handed out no call job.
inline constexpr unsigned kNoCallJob = 0xAD0112;
// No service of this machine answers the local road.
inline constexpr unsigned kNoLocalService = 0xAD0113;

inline constexpr unsigned kEmptyRequestText = 672;   // "IPC: The call carries no request."
inline constexpr unsigned kNoBinderText = 673;       // "IPC: No binder or service browser is available for ..."
inline constexpr unsigned kNoCallJobText = 674;      // "IPC: The access point accepted the call but gave no call job."
inline constexpr unsigned kNoLocalServiceText = 675; // "IPC: No local service is available on this machine."

// A UTF-16 text error with the catalogue message `messageKey`, held by
// reference, and no cause.
inline Common::Error MakeBindingError(unsigned code, unsigned messageKey, Common::Location location) noexcept
{
    return Common::Error(code, Common::GetMessageText(messageKey), location);
}

} // namespace BindingErrors
