// Stream-socket helpers of the socket road: a ByteSource over a socket, frame
// writing, connecting with a time limit, keepalive, and listening.
//
// Failures of the stream itself are kConnectionLost with the POSIX cause (a
// deadline that passed: ETIMEDOUT); failures to reach the host are
// kConnectFailed, naming the host and port in the parameters "host" and
// "port", with the POSIX cause (or, for a name that does not resolve, a
// kHostLookupFailed cause carrying the resolver's text); failures to listen
// are kListenFailed, naming address and port the same way.
//
// Threading: the functions are reentrant. Writers of one socket serialize
// their WriteFrame calls themselves; one thread reads a socket at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/common/error.h"
#include "platform/ipc/bytes.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/host_address.h"

namespace Ipc {

// How long a client waits for the answer to its Hello.
inline constexpr int kHandshakeTimeoutMilliseconds = 30000;

using Clock = std::chrono::steady_clock;
// The deadline that never comes.
inline constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

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
// With a deadline set, a receive that would wait past it fails with
// kConnectionLost (cause ETIMEDOUT); bytes already buffered are still given.
class SocketSource : public ByteSource
{
public:
    static constexpr size_t kSocketBufferSize = 65536;

    explicit SocketSource(int fd) : m_fd(fd) {}
    Common::Error Read(void* into, size_t size, size_t& got) override;
    // Waits until at least one byte is buffered; `available` 0: the stream ended.
    Common::Error Fill(size_t& available);
    // kNoDeadline (the start): receives wait as long as the socket lets them.
    void SetDeadline(Clock::time_point deadline) { m_deadline = deadline; }

private:
    // One receive into `into`, within the deadline.
    Common::Error Receive(void* into, size_t size, size_t& got);

    int m_fd;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_start = 0;
    size_t m_end = 0;
    Clock::time_point m_deadline = kNoDeadline;
};

// Limits each receive on `fd` to `milliseconds` (0: no limit); 0 or errno.
int SetReceiveTimeout(int fd, int milliseconds);

// Sends one whole frame (header and payload in one gather write, resumed
// after partial writes). A payload over kMaxFramePayload is refused with
// kFrameTooLarge (its text gives the size and the limit) before anything is
// sent. A frame not taken by the peer by `deadline` fails with
// kConnectionLost (cause ETIMEDOUT), possibly sent in part. Never raises SIGPIPE.
Common::Error WriteFrame(int fd, FrameKind kind, uint64_t callId, ByteView payload,
                         Clock::time_point deadline = kNoDeadline);

// Resolves `address` and connects a TCP socket to the first address that
// answers within `timeoutMilliseconds` each. On success `socket` holds a
// blocking socket with TCP_NODELAY.
Common::Error ConnectTcp(const HostAddress& address, int timeoutMilliseconds, SocketHandle& socket);

// How a socket notices a peer that vanished without a word (its host went
// down or off the network): keepalive probes after `idleSeconds` without
// traffic, every `intervalSeconds`, `count` of them unanswered end the
// connection; data unacknowledged for `unacknowledgedMilliseconds` ends it too
// (TCP_USER_TIMEOUT). A peer whose host still answers is never ended by them.
struct KeepaliveSettings
{
    int idleSeconds;
    int intervalSeconds;
    int count;
    unsigned unacknowledgedMilliseconds;
};

// Applies `settings` to the TCP socket `fd`; 0 or errno.
int EnableKeepalive(int fd, const KeepaliveSettings& settings);

// A listening TCP socket on the numeric `address` and `port` (0: an ephemeral
// port); `boundPort` receives the port in use.
Common::Error ListenTcp(const std::string& address, uint16_t port, SocketHandle& socket, uint16_t& boundPort);

// True when the numeric `address` reaches only this machine: 127.0.0.0/8,
// ::1, or an IPv4-mapped 127.x.y.z. Anything else, names and the wildcard
// addresses included, is false.
bool IsLoopbackAddress(const std::string& address);

} // namespace Ipc
