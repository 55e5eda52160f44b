// Error codes of the IPC stand-in (facility 0xAD) and the catalogue keys of
// their messages, with the maker of the plain message errors (UTF-16 text
// record, catalogue text held by reference).
//
// Threading: constant data; the maker may be called from any thread.
#pragma once

#include "core/common/error.h"

namespace Ipc {

inline constexpr unsigned kConnectFailed = 0xAD0101;         // host lookup, socket or connect failed
inline constexpr unsigned kAuthenticationRefused = 0xAD0102; // the service refused user or password
inline constexpr unsigned kConnectionLost = 0xAD0103;        // the peer went away or the stream broke
inline constexpr unsigned kMalformedFrame = 0xAD0104;        // bad header, cut frame, bad handshake
inline constexpr unsigned kFrameTooLarge = 0xAD0105;         // payload over the limit of the reader
inline constexpr unsigned kCallCanceled = 0xAD0106;
inline constexpr unsigned kNotSupported = 0xAD0107;     // the service has no answer for the request
inline constexpr unsigned kHostLookupFailed = 0xAD0108; // cause of kConnectFailed; text of getaddrinfo

inline constexpr unsigned kConnectFailedText = 662;         // "IPC: Failed to connect to the service host."
inline constexpr unsigned kAuthenticationRefusedText = 663; // "IPC: The service refused the user name or password."
inline constexpr unsigned kConnectionLostText = 664;        // "IPC: The connection to the service was lost."
inline constexpr unsigned kBadFrameText = 665;              // "IPC: The frame is malformed, cut short or larger ..."
inline constexpr unsigned kCallCanceledText = 666;          // "IPC: The call was canceled."
inline constexpr unsigned kNotSupportedText = 667;          // "IPC: The request is not supported by this service."

// A UTF-16 text error with the catalogue message `messageKey`, held by
// reference, and no cause.
Common::Error MakeIpcError(unsigned code, unsigned messageKey, Common::Location location) noexcept;

} // namespace Ipc
