// Reads arbitrary bytes as a host argument and checks what a parse promises:
// a host that is not empty and a port in 1..65535.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ipc/host_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Ipc::HostAddress address;
    if (!Ipc::ParseHostArgument(std::string(reinterpret_cast<const char*>(data), size), address))
        return 0;
    if (address.host.empty() || address.port == 0)
        std::abort();
    return 0;
}
