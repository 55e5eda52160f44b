// Test support shared by the transport tests: a scripted handler, a recorder
// of completions, raw connections that speak the frames by hand, and a flood
// of logins.
//
// Threading: both are used from the test thread and library threads at once.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/common/event.h"
#include "platform/ipc/call.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/reply_budget.h"
#include "platform/ipc/socket_io.h"

namespace IpcTesting {

// Answers by the request's text:
//   "stall..."  signals `entered`, then blocks until `release` (at most 2 s),
//               signals `left` and echoes;
//   "fail..."   returns kNotSupported with the text "refused here";
//   "throw..."  throws kNotSupported;
//   "huge..."   answers one byte more than a frame may carry;
//   "large..."  answers 32 MiB, more than the sockets between two peers hold;
//   anything else: echoes.
// "share" before any of them first takes a share of the reply budget as large
// as the request (CallContext::replyLease, when there is one).
// Remembers the context of the last request, and counts the requests handed
// over (HandleOwned). With `takeRequests` it takes such a request over and
// leaves the caller's buffer empty with no memory, as a handler that lets a
// request go early does; otherwise it answers it as a lent one.
class ScriptedHandler : public Ipc::PacketHandler
{
public:
    Common::Event entered{true, false};
    Common::Event release{true, false};
    Common::Event left{true, false};
    std::atomic<bool> takeRequests{false};
    std::atomic<int> handedOver{0};

    Common::Error HandleOwned(const Ipc::CallContext& context, Ipc::Bytes& request, Ipc::Bytes& reply) override
    {
        ++handedOver;
        if (!takeRequests)
            return Handle(context, request, reply);
        const Ipc::Bytes taken = std::move(request);
        Ipc::Bytes().swap(request);
        return Handle(context, taken, reply);
    }

    Common::Error Handle(const Ipc::CallContext& context, Ipc::ByteView request, Ipc::Bytes& reply) override
    {
        std::string text(request.begin(), request.end());
        if (text.starts_with("share")) {
            if (context.replyLease)
                context.replyLease->Take(text.size());
            text.erase(0, 5);
        }
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_last = context;
        }
        if (text.starts_with("stall")) {
            entered.Set();
            (void)release.TimedWait(2000); // a peer that stalls 2 s at most
            left.Set();
        } else if (text.starts_with("fail")) {
            return Common::Error(Ipc::kNotSupported, "refused here", Common::NoLocation);
        } else if (text.starts_with("throw")) {
            throw Common::Error(Ipc::kNotSupported, "thrown here", Common::NoLocation);
        } else if (text.starts_with("huge")) {
            reply.assign(Ipc::kMaxFramePayload + size_t{1}, 'h');
            return Common::Success;
        } else if (text.starts_with("large")) {
            reply.assign(size_t{32} << 20, 'l');
            return Common::Success;
        }
        reply.assign(request.begin(), request.end());
        return Common::Success;
    }

    Ipc::CallContext LastContext()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_last;
    }

private:
    std::mutex m_lock;
    Ipc::CallContext m_last;
};

struct CompletionRecord
{
    int id;
    Common::Error result;
    std::string reply;
    std::thread::id thread;
};

class Completions
{
public:
    // A completion that records itself under `id`.
    Ipc::Completion For(int id)
    {
        return [this, id](const Common::Error& result, Ipc::Bytes&& reply) {
            Add(CompletionRecord{id, result, std::string(reply.begin(), reply.end()), std::this_thread::get_id()});
        };
    }

    void Add(CompletionRecord record)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.push_back(std::move(record));
        m_changed.notify_all();
    }

    // True when at least `count` completions arrived within `limit`.
    bool WaitFor(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, limit, [&] { return m_records.size() >= count; });
    }

    std::vector<CompletionRecord> Records()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<CompletionRecord> m_records;
};

inline Ipc::Bytes ToBytes(const std::string& text)
{
    return Ipc::Bytes(text.begin(), text.end());
}

// A raw connection to the loopback `port` (closed on failure).
inline Ipc::SocketHandle ConnectRaw(uint16_t port)
{
    Ipc::SocketHandle socket;
    if (!Ipc::ConnectTcp(Ipc::HostAddress{"127.0.0.1", port}, 5000, socket).IsSuccess())
        return Ipc::SocketHandle();
    return socket;
}

// A raw connection to `port` that sent `hello` and read the header of the
// answer, whose kind goes to `answer` (Hello when none came within 10 s).
inline Ipc::SocketHandle HandshakeRaw(uint16_t port, const Ipc::HelloRecord& hello, Ipc::FrameKind& answer)
{
    answer = Ipc::FrameKind::Hello;
    Ipc::SocketHandle socket = ConnectRaw(port);
    Ipc::Bytes payload;
    if (socket.Get() < 0 || !Ipc::EncodeHello(hello, payload).IsSuccess() ||
        !Ipc::WriteFrame(socket.Get(), Ipc::FrameKind::Hello, 0, payload).IsSuccess())
        return socket;
    Ipc::SocketSource source(socket.Get());
    source.SetDeadline(Ipc::Clock::now() + std::chrono::seconds(10));
    Ipc::FrameHeader header{};
    if (Ipc::ReadFrameHeader(source, 0, header).IsSuccess())
        answer = header.kind;
    return socket;
}

// A raw connection to `port` that sent `hello`, its answer not read yet;
// none (-1) when it could not.
inline Ipc::SocketHandle TrySendHello(uint16_t port, const Ipc::HelloRecord& hello)
{
    Ipc::SocketHandle socket = ConnectRaw(port);
    Ipc::Bytes payload;
    if (socket.Get() < 0 || !Ipc::EncodeHello(hello, payload).IsSuccess() ||
        !Ipc::WriteFrame(socket.Get(), Ipc::FrameKind::Hello, 0, payload).IsSuccess())
        return Ipc::SocketHandle();
    return socket;
}

// `connections` connections that each send a Hello made by `make` (from the
// connection's number and a running count), and once answered or closed
// connect again and send the next, as fast as the server answers; all from
// one thread, until Stop or 60 s.
class Flood
{
public:
    using MakeHello = std::function<Ipc::HelloRecord(size_t connection, uint64_t count)>;

    Flood(uint16_t port, size_t connections, MakeHello make)
        : m_port(port), m_connections(connections), m_make(std::move(make))
    {
        m_thread = std::thread([this] { Run(); });
    }

    ~Flood() { Stop(); }

    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    uint64_t Answers() const { return m_answers.load(); }

private:
    void Run()
    {
        std::vector<Ipc::SocketHandle> sockets(m_connections);
        std::vector<pollfd> waits(m_connections);
        uint64_t count = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!m_stop && std::chrono::steady_clock::now() < end) {
            for (size_t i = 0; i < m_connections && !m_stop; ++i) {
                if (sockets[i].Get() < 0) // at the start, and when a connection could not be made
                    sockets[i] = TrySendHello(m_port, m_make(i, count++));
                waits[i] = pollfd{sockets[i].Get(), POLLIN, 0};
            }
            if (poll(waits.data(), waits.size(), 20) <= 0)
                continue;
            for (size_t i = 0; i < m_connections && !m_stop; ++i) {
                if (waits[i].revents == 0)
                    continue;
                ++m_answers;
                sockets[i] = TrySendHello(m_port, m_make(i, count++));
            }
        }
    }

    const uint16_t m_port;
    const size_t m_connections;
    const MakeHello m_make;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_answers{0};
    std::thread m_thread;
};

// True when the server ended the connection within `milliseconds` (whatever it sent first).
inline bool EndsWithin(int fd, int milliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char scratch[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        if (left.count() < 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            return false;
        const ssize_t got = recv(fd, scratch, sizeof scratch, 0);
        if (got <= 0)
            return true;
    }
}

} // namespace IpcTesting
