// Bare round trips of a 2 KB and an 800 KB payload through both roads of the
// IPC stand-in, each beside its peer doing the same work:
//   - the socket road (frames, call ids, the reader thread) beside a plain
//     loopback TCP echo with blocking send/recv and no framing;
//   - the local road (the handler called in-process) beside a plain copy of
//     the bytes into a reply buffer.

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/ipc/echo_road.h"
#include "platform/ipc/socket_io.h"

namespace {

Ipc::Bytes Payload(size_t size)
{
    Ipc::Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31);
    return bytes;
}

void RunRoad(benchmark::State& state, bool socket)
{
    Ipc::EchoRoad road;
    const Common::Error error = socket ? Ipc::OpenSocketEchoRoad(road) : Ipc::OpenLocalEchoRoad(road);
    if (!error.IsSuccess()) {
        state.SkipWithError("cannot open the road");
        return;
    }
    const Ipc::Bytes request = Payload(static_cast<size_t>(state.range(0)));
    Ipc::Bytes reply;
    for (auto _ : state) {
        if (!road.transport->Exchange(request, reply).IsSuccess() || reply.size() != request.size()) {
            state.SkipWithError("round trip failed");
            return;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
}

void BM_SocketRoadRoundTrip(benchmark::State& state)
{
    RunRoad(state, true);
}

void BM_LocalRoadRoundTrip(benchmark::State& state)
{
    RunRoad(state, false);
}

bool SendAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t got = recv(fd, data, size, 0);
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// Peer of the socket road: a loopback TCP echo of fixed-size messages.
void BM_PlainTcpEchoRoundTrip(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    Ipc::SocketHandle listener;
    uint16_t port = 0;
    if (!Ipc::ListenTcp("127.0.0.1", 0, listener, port).IsSuccess()) {
        state.SkipWithError("cannot listen");
        return;
    }
    std::thread echo([&] {
        Ipc::SocketHandle peer(accept(listener.Get(), nullptr, nullptr));
        const int on = 1;
        setsockopt(peer.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Ipc::Bytes buffer(size);
        while (ReceiveAll(peer.Get(), buffer.data(), size) && SendAll(peer.Get(), buffer.data(), size)) {}
    });
    Ipc::SocketHandle client;
    if (!Ipc::ConnectTcp(Ipc::HostAddress{"127.0.0.1", port}, 5000, client).IsSuccess()) {
        state.SkipWithError("cannot connect");
        listener.Reset();
        echo.detach();
        return;
    }
    const Ipc::Bytes request = Payload(size);
    Ipc::Bytes reply(size);
    for (auto _ : state) {
        if (!SendAll(client.Get(), request.data(), size) || !ReceiveAll(client.Get(), reply.data(), size)) {
            state.SkipWithError("echo failed");
            break;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    shutdown(client.Get(), SHUT_RDWR);
    echo.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
}

// Peer of the local road: the request copied into a reply buffer.
void BM_PlainCopyRoundTrip(benchmark::State& state)
{
    const Ipc::Bytes request = Payload(static_cast<size_t>(state.range(0)));
    Ipc::Bytes reply;
    for (auto _ : state) {
        reply.clear();
        reply.assign(request.begin(), request.end());
        benchmark::DoNotOptimize(reply.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
}

} // namespace

BENCHMARK(BM_SocketRoadRoundTrip)->Arg(2000)->Arg(800000)->UseRealTime();
BENCHMARK(BM_PlainTcpEchoRoundTrip)->Arg(2000)->Arg(800000)->UseRealTime();
BENCHMARK(BM_LocalRoadRoundTrip)->Arg(2000)->Arg(800000);
BENCHMARK(BM_PlainCopyRoundTrip)->Arg(2000)->Arg(800000);

BENCHMARK_MAIN();
