// The packets of one call: the request element written as an XML packet, and
// the reply packet read back into the request.
//
// A request packet holds one element, "request_<Interface>_<Method>"; its
// answer is the element "reply_<Interface>_<Method>" of the reply packet,
// whose first child "result" is the call's outcome. The reply is parsed twice:
// once for "result", and, when that is success, afresh for the request's Read
// (a strict reader cannot enter the reply element a second time).
//
// Threading: reentrant; a request is used by one thread at a time.
#pragma once

#include <string>

#include "core/common/error.h"
#include "platform/ipc/bytes.h"
#include "platform/ipc/request.h"

namespace Ipc {

// Writes `request` into a packet (format 2, target version -1) and names the
// reply element that answers it. A Common::Error of the writing is returned.
Common::Error WriteRequestPacket(Binding::Request& request, Bytes& packet, std::string& replyElement);

// The call's outcome from the reply packet: its "result", or the error of a
// reply that cannot be read. On success the request has read its results.
Common::Error ReadReplyPacket(Binding::Request& request, ByteView reply, const std::string& replyElement);

} // namespace Ipc
