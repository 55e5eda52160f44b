#include "platform/ipc/socket_transport.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <unordered_map>
#include <vector>

#include "core/common/error_blob.h"
#include "core/common/mutex.h"
#include "core/common/random_bytes.h"
#include "platform/ipc/host_address.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/socket_io.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/socket_transport");

// Hello, then the one answer, both within the handshake's time. A service
// that stays silent that long is named in the error.
Common::Error Handshake(int fd, SocketSource& source, const HostAddress& address, const HelloRecord& credentials,
                        int milliseconds, FrameKind& answer)
{
    answer = FrameKind::Hello;
    Bytes payload;
    Common::Error error = EncodeHello(credentials, payload);
    if (!error.IsSuccess())
        return error;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    source.SetDeadline(deadline);
    error = WriteFrame(fd, FrameKind::Hello, 0, payload, deadline);
    WipeBytes(payload.data(), payload.size());
    if (error.IsSuccess())
        error = ReadHandshakeAnswer(source, answer);
    source.SetDeadline(kNoDeadline); // the calls wait for their replies as long as they take
    if (error.GetCode() == kConnectionLost && Clock::now() >= deadline) {
        Common::Error silent = MakeLoginUnansweredError(address.host, address.port, milliseconds,
                                                        kSource.At("Connect", __LINE__));
        silent.AddCause(error);
        return silent;
    }
    return error;
}

// The wait before the next attempt: between half of `delay` and all of it.
std::chrono::microseconds JitteredDelay(int delayMilliseconds)
{
    const int64_t full = int64_t{delayMilliseconds} * 1000;
    uint64_t random = 0;
    (void)Common::GetRandomBytes(&random, sizeof random, false); // a normal request always fills the buffer
    return std::chrono::microseconds(full - full / 2 + static_cast<int64_t>(random % (uint64_t(full / 2) + 1)));
}

} // namespace

// What the transport, its reader thread and its call handles share.
struct SocketTransport::Link
{
    SocketHandle socket;
    std::unique_ptr<SocketSource> source; // read by the handshake, then by the reader thread only
    Common::NonRecursiveMutex writeLock;  // one whole frame at a time
    Common::NonRecursiveMutex lock;
    std::unordered_map<uint64_t, std::shared_ptr<CallOutcome>> calls COMMON_GUARDED_BY(lock);
    uint64_t nextCallId COMMON_GUARDED_BY(lock) = 1;
    Common::Error broken COMMON_GUARDED_BY(lock); // set once, when the reader ended

    // Registers `outcome` and sends the request; a call that cannot be sent
    // is finished with the reason.
    void Send(const std::shared_ptr<CallOutcome>& outcome, ByteView request, uint64_t& callId)
        COMMON_EXCLUDES(lock, writeLock);
    std::shared_ptr<CallOutcome> Take(uint64_t callId) COMMON_EXCLUDES(lock);
    void ReadReplies() COMMON_EXCLUDES(lock);
};

namespace {

class SocketCall : public CallHandle
{
public:
    SocketCall(std::weak_ptr<SocketTransport::Link> link, std::shared_ptr<CallOutcome> outcome, uint64_t callId)
        : m_link(std::move(link)), m_outcome(std::move(outcome)), m_callId(callId)
    {
    }

    void Cancel() override
    {
        if (std::shared_ptr<SocketTransport::Link> link = m_link.lock())
            (void)link->Take(m_callId); // its reply, when it comes, finds no call and is skipped
        (void)m_outcome->Finish(MakeCanceledError(), {});
    }

private:
    std::weak_ptr<SocketTransport::Link> m_link;
    std::shared_ptr<CallOutcome> m_outcome;
    uint64_t m_callId;
};

} // namespace

void SocketTransport::Link::Send(const std::shared_ptr<CallOutcome>& outcome, ByteView request, uint64_t& callId)
{
    {
        Common::LockGuard guard(lock);
        callId = nextCallId++;
        if (!broken.IsSuccess()) {
            Common::Error reason = broken;
            (void)outcome->Finish(std::move(reason), {});
            return;
        }
        calls.emplace(callId, outcome);
    }
    Common::Error error;
    {
        Common::LockGuard guard(writeLock);
        error = WriteFrame(socket.Get(), FrameKind::Request, callId, request);
    }
    if (!error.IsSuccess() && Take(callId))
        (void)outcome->Finish(std::move(error), {});
}

std::shared_ptr<CallOutcome> SocketTransport::Link::Take(uint64_t callId)
{
    Common::LockGuard guard(lock);
    auto found = calls.find(callId);
    if (found == calls.end())
        return nullptr;
    std::shared_ptr<CallOutcome> outcome = std::move(found->second);
    calls.erase(found);
    return outcome;
}

void SocketTransport::Link::ReadReplies()
{
    SocketSource& source = *this->source;
    Common::Error failure;
    std::shared_ptr<CallOutcome> cut; // the call whose reply broke off
    for (;;) {
        FrameHeader header{};
        failure = ReadFrameHeader(source, kMaxFramePayload, header);
        if (!failure.IsSuccess())
            break;
        if (header.kind != FrameKind::Reply && header.kind != FrameKind::Failure) {
            failure = MakeIpcError(kMalformedFrame, kBadFrameText, kSource.At("ReadReplies", __LINE__));
            break;
        }
        std::shared_ptr<CallOutcome> outcome = Take(header.callId);
        if (!outcome || outcome->IsFinished()) {
            failure = SkipFramePayload(source, header.payloadSize);
            if (!failure.IsSuccess())
                break;
            continue;
        }
        Bytes payload;
        failure = ReadFramePayload(source, header.payloadSize, payload);
        if (!failure.IsSuccess()) {
            cut = std::move(outcome);
            break;
        }
        if (header.kind == FrameKind::Reply) {
            (void)outcome->Finish(Common::Success, std::move(payload));
            continue;
        }
        Common::Error reason = Common::DeserializeError(payload.data(), static_cast<uint32_t>(payload.size()));
        if (reason.IsSuccess()) // a failure that reads as success must not pass for one
            reason = MakeIpcError(kMalformedFrame, kBadFrameText, kSource.At("ReadReplies", __LINE__));
        (void)outcome->Finish(std::move(reason), {});
    }

    Common::Error lost = failure;
    if (failure.GetCode() != kConnectionLost) {
        lost = MakeIpcError(kConnectionLost, kConnectionLostText, kSource.At("ReadReplies", __LINE__));
        lost.AddCause(failure);
    }
    std::unordered_map<uint64_t, std::shared_ptr<CallOutcome>> pending;
    {
        Common::LockGuard guard(lock);
        broken = lost;
        pending.swap(calls);
    }
    if (cut)
        pending.emplace(0, std::move(cut));
    // Unblock writers stuck on a full socket and tell the peer we are gone.
    (void)shutdown(socket.Get(), SHUT_RDWR); // the socket may already be shut; nothing to report then
    for (auto& entry : pending)
        (void)entry.second->Finish(lost, {});
}

SocketTransport::SocketTransport(std::shared_ptr<Link> link) : m_link(std::move(link))
{
    m_reader = std::thread([link = m_link] { link->ReadReplies(); });
}

SocketTransport::~SocketTransport()
{
    (void)shutdown(m_link->socket.Get(), SHUT_RDWR); // wakes the reader; failure means it is shut already
    m_reader.join();
}

// One connection and its handshake; `link` is set on success. `answer`: as of ReadHandshakeAnswer.
Common::Error SocketTransport::Attempt(const HostAddress& address, const HelloRecord& credentials,
                                       const ConnectOptions& options, std::shared_ptr<Link>& link, FrameKind& answer)
{
    answer = FrameKind::Hello;
    auto attempt = std::make_shared<Link>();
    Common::Error error = ConnectTcp(address, options.connectMilliseconds, attempt->socket);
    if (!error.IsSuccess())
        return error;
    if (const int failure = EnableKeepalive(attempt->socket.Get(), kClientKeepalive); failure != 0) {
        error = MakeIpcAddressError(kConnectFailed, kConnectFailedText, address.host, address.port,
                                    kSource.At("Connect", __LINE__));
        error.AddPosixError(failure);
        return error;
    }
    attempt->source = std::make_unique<SocketSource>(attempt->socket.Get());
    error = Handshake(attempt->socket.Get(), *attempt->source, address, credentials, options.handshakeMilliseconds,
                      answer);
    if (error.IsSuccess())
        link = std::move(attempt);
    return error;
}

Common::Error SocketTransport::Connect(const std::string& hostArgument, const HelloRecord& credentials,
                                       std::unique_ptr<SocketTransport>& transport)
{
    return Connect(hostArgument, credentials, ConnectOptions{}, transport);
}

Common::Error SocketTransport::Connect(const std::string& hostArgument, const HelloRecord& credentials,
                                       const ConnectOptions& options, std::unique_ptr<SocketTransport>& transport)
{
    HostAddress address;
    if (!ParseHostArgument(hostArgument, address)) {
        Common::Error error = MakeIpcError(kConnectFailed, kConnectFailedText, kSource.At("Connect", __LINE__));
        error.AddPosixError(EINVAL);
        return error;
    }
    const Clock::time_point retryEnd = Clock::now() + std::chrono::milliseconds(options.busyRetryMilliseconds);
    int delay = std::max(options.firstRetryDelayMilliseconds, 1);
    for (;;) {
        std::shared_ptr<Link> link;
        FrameKind answer{};
        Common::Error error = Attempt(address, credentials, options, link, answer);
        if (error.IsSuccess()) {
            transport.reset(new SocketTransport(std::move(link)));
            return Common::Success;
        }
        const Clock::time_point now = Clock::now();
        // A busy service, and a user at the limit of its sessions, may take this login a moment later.
        const bool mayPass = answer == FrameKind::Busy ||
            (answer == FrameKind::Failure && error.GetCode() == kSessionLimit);
        if (!mayPass || now >= retryEnd)
            return error;
        // A real wait between two attempts, cut to end with the time for retries.
        std::this_thread::sleep_for(std::min<Clock::duration>(JitteredDelay(delay), retryEnd - now));
        delay = delay > options.maxRetryDelayMilliseconds / 2 ? std::max(options.maxRetryDelayMilliseconds, 1)
                                                              : delay * 2;
    }
}

Common::Error SocketTransport::Exchange(ByteView request, Bytes& reply)
{
    auto outcome = std::make_shared<CallOutcome>();
    uint64_t callId = 0;
    m_link->Send(outcome, request, callId);
    return outcome->Wait(reply);
}

std::shared_ptr<CallHandle> SocketTransport::Start(Bytes request, Completion completion)
{
    auto outcome = std::make_shared<CallOutcome>(std::move(completion));
    uint64_t callId = 0;
    m_link->Send(outcome, request, callId);
    return std::make_shared<SocketCall>(m_link, std::move(outcome), callId);
}

} // namespace Ipc
