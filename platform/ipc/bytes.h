// The byte types of the IPC stand-in: payloads are opaque bytes, owned as
// Ipc::Bytes and lent as Ipc::ByteView.
//
// Threading: plain value types.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace Ipc {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

} // namespace Ipc
