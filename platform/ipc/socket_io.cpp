#include "platform/ipc/socket_io.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "core/common/safe_close.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/socket_io");

Common::Error LostWithCause(int errnoValue, const char* function, uint32_t line)
{
    Common::Error error = MakeIpcError(kConnectionLost, kConnectionLostText, kSource.At(function, line));
    error.AddPosixError(errnoValue);
    return error;
}

Common::Error ConnectFailed(int errnoValue, const char* function, uint32_t line)
{
    Common::Error error = MakeIpcError(kConnectFailed, kConnectFailedText, kSource.At(function, line));
    error.AddPosixError(errnoValue);
    return error;
}

// Connects `fd` (non-blocking during the attempt) within the time limit; 0 or errno.
int ConnectWithin(int fd, const sockaddr* address, socklen_t size, int timeoutMilliseconds)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    if (connect(fd, address, size) < 0) {
        if (errno != EINPROGRESS)
            return errno;
        pollfd wait{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&wait, 1, timeoutMilliseconds);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        int failure = 0;
        socklen_t failureSize = sizeof failure;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &failureSize) < 0)
            return errno;
        if (failure != 0)
            return failure;
    }
    if (fcntl(fd, F_SETFL, flags) < 0)
        return errno;
    const int on = 1;
    (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // latency only; the stream works without it
    return 0;
}

} // namespace

SocketHandle& SocketHandle::operator=(SocketHandle&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int SocketHandle::Release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void SocketHandle::Reset(int fd)
{
    if (m_fd >= 0)
        (void)Common::SafeClose(m_fd);
    m_fd = fd;
}

Common::Error SocketSource::Read(void* into, size_t size, size_t& got)
{
    if (m_start == m_end && size < kSocketBufferSize) {
        if (!m_buffer)
            m_buffer.reset(new uint8_t[kSocketBufferSize]);
        m_start = m_end = 0;
        for (;;) {
            const ssize_t now = recv(m_fd, m_buffer.get(), kSocketBufferSize, 0);
            if (now >= 0) {
                m_end = static_cast<size_t>(now);
                break;
            }
            if (errno != EINTR)
                return LostWithCause(errno, "Read", __LINE__);
        }
    }
    if (m_start < m_end) {
        got = std::min(size, m_end - m_start);
        std::memcpy(into, m_buffer.get() + m_start, got);
        m_start += got;
        return Common::Success;
    }
    if (size < kSocketBufferSize) { // the stream ended
        got = 0;
        return Common::Success;
    }
    for (;;) {
        const ssize_t now = recv(m_fd, into, size, 0);
        if (now >= 0) {
            got = static_cast<size_t>(now);
            return Common::Success;
        }
        if (errno != EINTR)
            return LostWithCause(errno, "Read", __LINE__);
    }
}

int SetReceiveTimeout(int fd, int milliseconds)
{
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 ? 0 : errno;
}

Common::Error WriteFrame(int fd, FrameKind kind, uint64_t callId, ByteView payload)
{
    if (payload.size() > kMaxFramePayload)
        return MakeIpcError(kFrameTooLarge, kBadFrameText, kSource.At("WriteFrame", __LINE__));
    uint8_t header[kFrameHeaderSize];
    EncodeFrameHeader(FrameHeader{kind, callId, static_cast<uint32_t>(payload.size())}, header);
    iovec parts[2] = {{header, sizeof header}, {const_cast<uint8_t*>(payload.data()), payload.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = payload.empty() ? 1 : 2;
    while (message.msg_iovlen > 0) {
        const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return LostWithCause(errno, "WriteFrame", __LINE__);
        }
        size_t left = static_cast<size_t>(sent);
        while (message.msg_iovlen > 0 && left >= message.msg_iov->iov_len) {
            left -= message.msg_iov->iov_len;
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<uint8_t*>(message.msg_iov->iov_base) + left;
            message.msg_iov->iov_len -= left;
        }
    }
    return Common::Success;
}

Common::Error ConnectTcp(const HostAddress& address, int timeoutMilliseconds, SocketHandle& socket)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    const int lookup = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found);
    const int lookupErrno = errno;
    if (lookup != 0) {
        Common::Error error = MakeIpcError(kConnectFailed, kConnectFailedText, kSource.At("ConnectTcp", __LINE__));
        const char* text = lookup == EAI_SYSTEM ? std::strerror(lookupErrno) : gai_strerror(lookup);
        error.AddCause(Common::Error(kHostLookupFailed, text, kSource.At("ConnectTcp", __LINE__)));
        return error;
    }
    int lastFailure = EHOSTUNREACH;
    for (addrinfo* candidate = found; candidate; candidate = candidate->ai_next) {
        SocketHandle attempt(::socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC, 0));
        if (attempt.Get() < 0) {
            lastFailure = errno;
            continue;
        }
        lastFailure = ConnectWithin(attempt.Get(), candidate->ai_addr, candidate->ai_addrlen, timeoutMilliseconds);
        if (lastFailure == 0) {
            freeaddrinfo(found);
            socket = std::move(attempt);
            return Common::Success;
        }
    }
    freeaddrinfo(found);
    return ConnectFailed(lastFailure, "ConnectTcp", __LINE__);
}

Common::Error ListenTcp(const std::string& address, uint16_t port, SocketHandle& socket, uint16_t& boundPort)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string portText = std::to_string(port);
    if (getaddrinfo(address.c_str(), portText.c_str(), &hints, &found) != 0)
        return ConnectFailed(EINVAL, "ListenTcp", __LINE__);
    SocketHandle listener(::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0));
    int failure = 0;
    const int on = 1;
    if (listener.Get() < 0 || setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
        bind(listener.Get(), found->ai_addr, found->ai_addrlen) < 0 || listen(listener.Get(), 64) < 0)
        failure = errno;
    freeaddrinfo(found);
    if (failure != 0)
        return ConnectFailed(failure, "ListenTcp", __LINE__);
    sockaddr_storage bound{};
    socklen_t boundSize = sizeof bound;
    if (getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&bound), &boundSize) < 0)
        return ConnectFailed(errno, "ListenTcp", __LINE__);
    boundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    socket = std::move(listener);
    return Common::Success;
}

} // namespace Ipc
