// The packets of one call, on both sides of it: the request element written
// as an XML packet, the reply packet written by the peer, and the reply read
// back into the request.
//
// A packet (format 2, target version -1) holds one element. A request is
// "request_<Interface>_<Method>"; its answer is the element
// "reply_<Interface>_<Method>" of the reply packet, whose first child "result"
// is the call's outcome, followed, on success, by the method's read-back
// parameters. A request element is split into its names at the first '_'
// after "request_"; both names must be non-empty. The reply is parsed twice:
// once for "result", and, when that is success, afresh for the request's Read
// (a strict reader cannot enter the reply element a second time).
//
// Threading: reentrant; a request is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/common/error.h"
#include "enterprise/serialize/serializer.h"
#include "platform/ipc/bytes.h"
#include "platform/ipc/request.h"

namespace Ipc {

inline constexpr int32_t kPacketFormatVersion = 2;
inline constexpr int32_t kPacketTargetVersion = -1; // no particular peer version
inline constexpr const char* kResultElement = "result";
inline constexpr std::string_view kRequestPrefix = "request_";

// The two names of a request element; false for any other name.
bool SplitRequestElement(std::string_view element, std::string& interfaceName, std::string& methodName);
// The element that answers a request of that interface and method.
std::string ReplyElement(std::string_view interfaceName, std::string_view methodName);

// Writes `request` into a packet and names the reply element that answers it.
// A Common::Error of the writing is returned; a request whose element is no
// request element fails with kMalformedFrame.
Common::Error WriteRequestPacket(Binding::Request& request, Bytes& packet, std::string& replyElement);

// The call's outcome from the reply packet: its "result", or the error of a
// reply that cannot be read. On success the request has read its results.
Common::Error ReadReplyPacket(Binding::Request& request, ByteView reply, const std::string& replyElement);

// Writes the reply packet `replyElement` holding `result` and then what
// `writeResults` (when given) writes. A Common::Error of the writing is
// returned, and `reply` is then left as it was. `sizeHint`, when not 0, is
// the packet's size as the caller expects it: its room is taken at once, so
// that a large packet is never held twice while it grows.
Common::Error WriteReplyPacket(const std::string& replyElement, const Common::Error& result,
                               const std::function<void(Serialization::Serializer&)>& writeResults, Bytes& reply,
                               size_t sizeHint = 0);

} // namespace Ipc
