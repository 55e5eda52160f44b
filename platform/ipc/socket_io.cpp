#include "platform/ipc/socket_io.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

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

Common::Error ConnectFailed(const HostAddress& address, int errnoValue, const char* function, uint32_t line)
{
    Common::Error error = MakeIpcAddressError(kConnectFailed, kConnectFailedText, address.host, address.port,
                                              kSource.At(function, line));
    error.AddPosixError(errnoValue);
    return error;
}

Common::Error ListenFailed(const std::string& address, uint16_t port, int errnoValue, const char* function,
                           uint32_t line)
{
    Common::Error error = MakeIpcAddressError(kListenFailed, kListenFailedText, address, port,
                                              kSource.At(function, line));
    error.AddPosixError(errnoValue);
    return error;
}

// The milliseconds left until `deadline`, rounded up and held to what poll takes; 0 once it passed.
int MillisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

// Waits until `fd` is ready for `events` or the deadline passes; 0 or errno (ETIMEDOUT).
int WaitUntil(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const int left = MillisecondsUntil(deadline);
        if (left == 0)
            return ETIMEDOUT;
        pollfd wait{fd, events, 0};
        const int ready = poll(&wait, 1, left);
        if (ready > 0)
            return 0;
        if (ready < 0 && errno != EINTR)
            return errno;
    }
}

unsigned TooLargeText(FrameKind kind)
{
    switch (kind) {
    case FrameKind::Request:
        return kRequestTooLargeText;
    case FrameKind::Reply:
        return kReplyTooLargeText;
    default:
        return kFrameOverLimitText;
    }
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

Common::Error SocketSource::Receive(void* into, size_t size, size_t& got)
{
    const bool limited = m_deadline != kNoDeadline;
    for (;;) {
        // With a deadline, try first without waiting: the usual request is there already.
        const ssize_t now = recv(m_fd, into, size, limited ? MSG_DONTWAIT : 0);
        if (now >= 0) {
            got = static_cast<size_t>(now);
            return Common::Success;
        }
        if (errno == EINTR)
            continue;
        if (!limited || (errno != EAGAIN && errno != EWOULDBLOCK))
            return LostWithCause(errno, "Read", __LINE__);
        const int waited = WaitUntil(m_fd, POLLIN, m_deadline);
        if (waited != 0)
            return LostWithCause(waited, "Read", __LINE__);
    }
}

Common::Error SocketSource::Fill(size_t& available)
{
    if (m_start == m_end) {
        if (!m_buffer)
            m_buffer.reset(new uint8_t[kSocketBufferSize]);
        m_start = m_end = 0;
        Common::Error error = Receive(m_buffer.get(), kSocketBufferSize, m_end);
        if (!error.IsSuccess())
            return error;
    }
    available = m_end - m_start;
    return Common::Success;
}

Common::Error SocketSource::Read(void* into, size_t size, size_t& got)
{
    if (m_start == m_end && size < kSocketBufferSize) {
        size_t available = 0;
        Common::Error error = Fill(available);
        if (!error.IsSuccess())
            return error;
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
    return Receive(into, size, got);
}

int SetReceiveTimeout(int fd, int milliseconds)
{
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 ? 0 : errno;
}

Common::Error WriteFrame(int fd, FrameKind kind, uint64_t callId, ByteView payload, Clock::time_point deadline)
{
    if (payload.size() > kMaxFramePayload)
        return MakeFrameTooLargeError(TooLargeText(kind), payload.size(), kMaxFramePayload,
                                      kSource.At("WriteFrame", __LINE__));
    const bool limited = deadline != kNoDeadline;
    uint8_t header[kFrameHeaderSize];
    EncodeFrameHeader(FrameHeader{kind, callId, static_cast<uint32_t>(payload.size())}, header);
    iovec parts[2] = {{header, sizeof header}, {const_cast<uint8_t*>(payload.data()), payload.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = payload.empty() ? 1 : 2;
    while (message.msg_iovlen > 0) {
        const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | (limited ? MSG_DONTWAIT : 0));
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (!limited || (errno != EAGAIN && errno != EWOULDBLOCK))
                return LostWithCause(errno, "WriteFrame", __LINE__);
            const int waited = WaitUntil(fd, POLLOUT, deadline);
            if (waited != 0)
                return LostWithCause(waited, "WriteFrame", __LINE__);
            continue;
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
        Common::Error error = MakeIpcAddressError(kConnectFailed, kConnectFailedText, address.host, address.port,
                                                  kSource.At("ConnectTcp", __LINE__));
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
    return ConnectFailed(address, lastFailure, "ConnectTcp", __LINE__);
}

int EnableKeepalive(int fd, const KeepaliveSettings& settings)
{
    const int on = 1;
    const unsigned unacknowledged = settings.unacknowledgedMilliseconds;
    if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) < 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &settings.idleSeconds, sizeof settings.idleSeconds) < 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &settings.intervalSeconds, sizeof settings.intervalSeconds) < 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &settings.count, sizeof settings.count) < 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged) < 0)
        return errno;
    return 0;
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
        return ListenFailed(address, port, EINVAL, "ListenTcp", __LINE__);
    SocketHandle listener(::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0));
    int failure = 0;
    const int on = 1;
    if (listener.Get() < 0 || setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
        bind(listener.Get(), found->ai_addr, found->ai_addrlen) < 0 || listen(listener.Get(), SOMAXCONN) < 0)
        failure = errno;
    freeaddrinfo(found);
    if (failure != 0)
        return ListenFailed(address, port, failure, "ListenTcp", __LINE__);
    sockaddr_storage bound{};
    socklen_t boundSize = sizeof bound;
    if (getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&bound), &boundSize) < 0)
        return ListenFailed(address, port, errno, "ListenTcp", __LINE__);
    boundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    socket = std::move(listener);
    return Common::Success;
}

bool IsLoopbackAddress(const std::string& address)
{
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1)
        return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6))
        return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

} // namespace Ipc
