// The host argument of the remote road: "host", "host:port", "[v6-address]"
// or "[v6-address]:port". A bare IPv6 address ("::1") has more than one colon
// and is taken whole, with the default port.
//
// Threading: pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace Ipc {

// The port of a service process when the host argument names none.
inline constexpr uint16_t kDefaultServicePort = 47806;

struct HostAddress
{
    std::string host;
    uint16_t port = kDefaultServicePort;
};

// Splits `argument`; false for an empty host, an unclosed bracket, text after
// the bracket other than ":port", or a port that is not a decimal number in
// 1..65535.
bool ParseHostArgument(const std::string& argument, HostAddress& address);

} // namespace Ipc
