// Stream-socket helpers of the socket road: a ByteSource over a socket, frame
// writing, connecting with a time limit, and listening.
//
// Failures of the stream itself are kConnectionLost with the POSIX cause;
// failures to reach the host are kConnectFailed with the POSIX cause (or, for
// a name that does not resolve, a kHostLookupFailed cause carrying the
// resolver's text).
//
// Threading: the functions are reentrant. Writers of one socket serialize
// their WriteFrame calls themselves; one thread reads a socket at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/common/error.h"
#include "platform/ipc/bytes.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/host_address.h"

namespace Ipc {

// How long either side waits for the other's handshake frame.
inline constexpr int kHandshakeTimeoutMilliseconds = 30000;

// Owns one descriptor; closes it (Common::SafeClose) when replaced or destroyed.
class SocketHandle
{
public:
    SocketHandle() = default;
    explicit SocketHandle(int fd) : m_fd(fd) {}
    SocketHandle(SocketHandle&& other) noexcept : m_fd(other.Release()) {}
    SocketHandle& operator=(SocketHandle&& other) noexcept;
    ~SocketHandle() { Reset(); }
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;

    int Get() const { return m_fd; }
    int Release();
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// Reads a socket through a buffer of kSocketBufferSize bytes, so that a
// small frame's header and payload usually arrive in one receive; reads of a
// buffer's size or more go straight into the caller's memory. Bytes read
// ahead belong to this source: one source per socket for its whole life.
class SocketSource : public ByteSource
{
public:
    static constexpr size_t kSocketBufferSize = 65536;

    explicit SocketSource(int fd) : m_fd(fd) {}
    Common::Error Read(void* into, size_t size, size_t& got) override;

private:
    int m_fd;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_start = 0;
    size_t m_end = 0;
};

// Limits each receive on `fd` to `milliseconds` (0: no limit); 0 or errno.
int SetReceiveTimeout(int fd, int milliseconds);

// Sends one whole frame (header and payload in one gather write, resumed
// after partial writes). A payload over kMaxFramePayload is refused with
// kFrameTooLarge before anything is sent. Never raises SIGPIPE.
Common::Error WriteFrame(int fd, FrameKind kind, uint64_t callId, ByteView payload);

// Resolves `address` and connects a TCP socket to the first address that
// answers within `timeoutMilliseconds` each. On success `socket` holds a
// blocking socket with TCP_NODELAY.
Common::Error ConnectTcp(const HostAddress& address, int timeoutMilliseconds, SocketHandle& socket);

// A listening TCP socket on the numeric `address` and `port` (0: an ephemeral
// port); `boundPort` receives the port in use.
Common::Error ListenTcp(const std::string& address, uint16_t port, SocketHandle& socket, uint16_t& boundPort);

} // namespace Ipc
