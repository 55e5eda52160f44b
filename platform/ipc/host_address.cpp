#include "platform/ipc/host_address.h"

namespace Ipc {

namespace {

bool ParsePort(const std::string& text, uint16_t& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

} // namespace

bool ParseHostArgument(const std::string& argument, HostAddress& address)
{
    HostAddress parsed;
    std::string portText;
    bool hasPort = false;
    if (!argument.empty() && argument[0] == '[') {
        const size_t close = argument.find(']');
        if (close == std::string::npos)
            return false;
        parsed.host = argument.substr(1, close - 1);
        const std::string rest = argument.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return false;
            portText = rest.substr(1);
            hasPort = true;
        }
    } else {
        const size_t colon = argument.find(':');
        if (colon != std::string::npos && argument.find(':', colon + 1) == std::string::npos) {
            parsed.host = argument.substr(0, colon);
            portText = argument.substr(colon + 1);
            hasPort = true;
        } else {
            parsed.host = argument;
        }
    }
    if (parsed.host.empty() || (hasPort && !ParsePort(portText, parsed.port)))
        return false;
    address = std::move(parsed);
    return true;
}

} // namespace Ipc
