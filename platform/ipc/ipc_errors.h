// Error codes of the IPC stand-in (facility 0xAD) and the catalogue keys of
// their messages, with the makers of its errors: plain message errors
// (UTF-16 text record, catalogue text held by reference), errors that name a
// host and port as the parameters "host" and "port" (among them the login a
// service did not answer, whose text names them too), the error of a frame
// too large for its limit, whose text gives both sizes, and the error of a
// login over the sessions one user may hold, whose text gives that number.
//
// Threading: constant data; the makers may be called from any thread.
#pragma once

#include <cstddef>
#include <string>

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
inline constexpr unsigned kServiceBusy = 0xAD0109;      // the service refused the connection for load
inline constexpr unsigned kListenFailed = 0xAD010A;     // the server could not listen on its address and port
inline constexpr unsigned kSessionLimit = 0xAD010B;     // the user has as many sessions open as the service allows

inline constexpr unsigned kConnectFailedText = 662;         // "IPC: Failed to connect to the service host."
inline constexpr unsigned kAuthenticationRefusedText = 663; // "IPC: The service refused the user name or password."
inline constexpr unsigned kConnectionLostText = 664;        // "IPC: The connection to the service was lost."
inline constexpr unsigned kBadFrameText = 665;              // "IPC: The frame is malformed, cut short or larger ..."
inline constexpr unsigned kCallCanceledText = 666;          // "IPC: The call was canceled."
inline constexpr unsigned kNotSupportedText = 667;          // "IPC: The request is not supported by this service."
inline constexpr unsigned kServiceBusyText = 590;           // "IPC: The service is busy; try again later."
inline constexpr unsigned kListenFailedText = 591;          // "IPC: Failed to listen for connections."
inline constexpr unsigned kRequestTooLargeText = 592;       // "IPC: The request of {0} bytes is larger than ..."
inline constexpr unsigned kReplyTooLargeText = 593;         // "IPC: The reply of {0} bytes is larger than ..."
inline constexpr unsigned kFrameOverLimitText = 594;        // "IPC: A frame of {0} bytes is larger than ..."
inline constexpr unsigned kSessionLimitText = 595;          // "IPC: The user has as many sessions open as ..."
inline constexpr unsigned kLoginUnansweredText = 596;       // "IPC: The service at {0}:{1} did not answer ..."

// A UTF-16 text error with the catalogue message `messageKey`, held by
// reference, and no cause.
Common::Error MakeIpcError(unsigned code, unsigned messageKey, Common::Location location) noexcept;

// The same, with the text parameters "host" and "port" (and "$module").
Common::Error MakeIpcAddressError(unsigned code, unsigned messageKey, const std::string& host, unsigned port,
                                  Common::Location location) noexcept;

// kConnectFailed for a service at `host` and `port` that took the connection
// but did not answer the Hello within `milliseconds`: the text names host,
// port and the seconds waited; "host" and "port" are parameters as above.
Common::Error MakeLoginUnansweredError(const std::string& host, unsigned port, int milliseconds,
                                       Common::Location location);

// kFrameTooLarge whose text (`messageKey`, one of the three "too large"
// texts) gives the frame's `size` and the `limit` it broke.
Common::Error MakeFrameTooLargeError(unsigned messageKey, size_t size, size_t limit, Common::Location location);

// kSessionLimit whose text gives the `limit` of sessions one user may hold.
Common::Error MakeSessionLimitError(size_t limit, Common::Location location);

} // namespace Ipc
