// The stand-in service as its store grows and as clients come together, each
// figure beside its floor:
//   - the tool's "delete" by "Pattern" (its count, then batches of 100
//     delete-by-pattern records) of every object of a store of 10,000 and
//     100,000 objects, and of the last tenth of 50,000: the time should grow
//     with the objects, not with their square;
//   - the tool's "update" by "Pattern" selecting 10 objects of 1,000, 10,000
//     and 100,000 (one view over all of them, then 10 updates), and selecting
//     all of 2,000 (per object);
//   - 1 and 8 clients on the socket road, each sending 2,000 "UpdateObject"
//     requests over its own connection: requests per second and the 99th
//     percentile of a request's time, beside the bare round trip of the same
//     packet (an echo handler on the same road) and one fdatasync of a 4 KB
//     write in the store's folder, the floor of a durable request.
// The tool runs in this process on the local road, whose peer is a service
// core over a store of its own; the socket road's server runs in this process
// too. Stores live in a temporary folder ($TMPDIR or /tmp), which must be on
// a real disk for the sync figures to mean anything (on tmpfs a sync costs
// nothing).
//
// Run with repetitions for medians, e.g.
//   build/opt/bench/service_scale_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/tools/objpatcher/tool.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_diff.h"
#include "enterprise/common/por/unit_serialization.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/echo_road.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/server.h"
#include "platform/ipc/socket_transport.h"
#include "service/object_key.h"
#include "service/service_core.h"
#include "service/store.h"

namespace {

constexpr int32_t kDml = 46;
constexpr int kRequestsPerClient = 2000;

using UnitPtr = std::shared_ptr<const Por::View::Unit>;

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

std::string TemporaryRoot()
{
    const char* root = std::getenv("TMPDIR");
    return root && root[0] ? root : "/tmp";
}

// The object the tool makes of
//   .Composite() .Property("ID").String("o<n>") .Trait("PrimaryKey").Nil().End() .End()
//     .Property("Kind").String(kind).End() .Property("Round").DWord(round).End() .End()
UnitPtr MakeObject(int number, const std::u16string& kind, uint32_t round = 0)
{
    std::unique_ptr<Por::Construction::Unit> object = Factory().CreateComposite();
    const std::string id = "o" + std::to_string(number);
    std::unique_ptr<Por::Construction::Unit> key = Factory().CreateString(std::u16string(id.begin(), id.end()));
    Por::Util::AddNilTrait(*key, Por::Name("PrimaryKey"), Factory());
    Por::Util::AddProperty(*object, Por::Name("ID"), std::move(key), Factory());
    Por::Util::AddProperty(*object, Por::Name("Kind"), Factory().CreateString(kind), Factory());
    Por::Util::AddProperty(*object, Por::Name("Round"), Factory().CreateDWord(round), Factory());
    return object;
}

// A service core over a new store in a temporary folder, holding `count`
// objects of the kinds `kindOf` gives, and the local road's peer while it lives.
class BenchStore
{
public:
    BenchStore(int count, const std::function<std::u16string(int)>& kindOf)
    {
        char pattern[256];
        std::snprintf(pattern, sizeof pattern, "%s/service_scale_bench.XXXXXX", TemporaryRoot().c_str());
        if (!mkdtemp(pattern))
            return;
        m_folder = pattern;
        std::unique_ptr<Service::Store> store;
        if (!Service::Store::Open(m_folder + "/objects.db", store).IsSuccess())
            return;
        const Common::Error filled = store->Run(Service::Store::Mode::Write, [&](Service::Transaction& objects) {
            Common::Error error;
            for (int i = 0; error.IsSuccess() && i < count; ++i) {
                const UnitPtr object = MakeObject(i, kindOf(i));
                Ipc::Bytes body;
                Por::Util::WriteBinaryUnit(*object, body);
                error = objects.Insert(kDml, Service::MakeKeyBytes(Dml::GetObjectKey(*object)), body);
            }
            return error;
        });
        if (!filled.IsSuccess())
            return;
        m_store = store.get();
        m_core = std::make_unique<Service::ServiceCore>(std::move(store));
        Ipc::RegisterLocalHandler(m_core.get());
    }
    ~BenchStore()
    {
        Ipc::RegisterLocalHandler(&Service::GetServiceHandler());
        m_core.reset();
        if (!m_folder.empty())
            (void)std::system(("rm -rf '" + m_folder + "'").c_str()); // best effort
    }
    BenchStore(const BenchStore&) = delete;
    BenchStore& operator=(const BenchStore&) = delete;

    bool Ready() const { return m_core != nullptr; }
    Service::ServiceCore& Core() { return *m_core; }
    const std::string& Folder() const { return m_folder; }

    uint64_t Count()
    {
        uint64_t count = 0;
        (void)m_store->Run(Service::Store::Mode::Read,
                           [&](Service::Transaction& objects) { return objects.Count(kDml, {}, count); });
        return count;
    }

private:
    std::string m_folder;
    Service::Store* m_store = nullptr;
    std::unique_ptr<Service::ServiceCore> m_core;
};

// Sends standard output (the tool's "Interpret trace") to /dev/null while it lives.
class QuietStandardOutput
{
public:
    QuietStandardOutput()
    {
        std::cout.flush();
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    ~QuietStandardOutput()
    {
        std::cout.flush();
        std::fflush(stdout);
        if (m_saved >= 0) {
            dup2(m_saved, STDOUT_FILENO);
            close(m_saved);
        }
    }
    QuietStandardOutput(const QuietStandardOutput&) = delete;
    QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

private:
    int m_saved = -1;
};

// objpatcher localhost - - DML <command> from_text <text>; true on success.
bool RunTool(const std::string& command, const std::string& text)
{
    const char* argv[] = {"objpatcher", "localhost", "-", "-", "DML", command.c_str(), "from_text", text.c_str()};
    std::ostringstream out;
    int status = 1;
    {
        QuietStandardOutput quiet;
        status = Objpatcher::RunTool(8, argv, out);
    }
    return status == 0 && out.str().empty();
}

const char* const kDeleteBench = ".Composite() .Property(\"Kind\").String(\"bench\").End() .End()";
const char* const kDeleteLate = ".Composite() .Property(\"Kind\").String(\"late\").End() .End()";

std::string UpdateByPattern(const std::string& kind)
{
    return ".Composite() .Property(\"Pattern\").Composite() .Property(\"Kind\").String(\"" + kind +
        "\").End() .End()"
        " .Property(\"Diff\").Composite() .Trait(\"PackedDiff\").Nil().End() .Property(\"Round\").DWord(1).End()"
        " .End() .End()";
}

void RunDelete(benchmark::State& state, BenchStore& store, const char* pattern, uint64_t left)
{
    if (!store.Ready()) {
        state.SkipWithError("cannot make the store");
        return;
    }
    for (auto _ : state) {
        if (!RunTool("delete", pattern)) {
            state.SkipWithError("the delete failed");
            return;
        }
    }
    if (store.Count() != left)
        state.SkipWithError("the delete left other objects than expected");
}

void BM_DeleteAllByPattern(benchmark::State& state)
{
    const int objects = static_cast<int>(state.range(0));
    BenchStore store(objects, [](int) { return u"bench"; });
    RunDelete(state, store, kDeleteBench, 0);
}

void BM_DeleteLastTenthByPattern(benchmark::State& state)
{
    const int objects = static_cast<int>(state.range(0));
    BenchStore store(objects, [objects](int i) { return i >= objects - objects / 10 ? u"late" : u"bench"; });
    RunDelete(state, store, kDeleteLate, static_cast<uint64_t>(objects - objects / 10));
}

void BM_UpdateByPatternSelectingTen(benchmark::State& state)
{
    const int objects = static_cast<int>(state.range(0));
    const int spacing = objects / 10;
    BenchStore store(objects, [spacing](int i) { return i % spacing == spacing / 2 ? u"selected" : u"other"; });
    if (!store.Ready()) {
        state.SkipWithError("cannot make the store");
        return;
    }
    const std::string update = UpdateByPattern("selected");
    for (auto _ : state) {
        if (!RunTool("update", update)) {
            state.SkipWithError("the update failed");
            return;
        }
    }
}

// The view of that update alone, answered by the service core: the scan of
// every stored object.
void BM_ViewByPatternSelectingTen(benchmark::State& state)
{
    const int objects = static_cast<int>(state.range(0));
    const int spacing = objects / 10;
    BenchStore store(objects, [spacing](int i) { return i % spacing == spacing / 2 ? u"selected" : u"other"; });
    if (!store.Ready()) {
        state.SkipWithError("cannot make the store");
        return;
    }
    std::unique_ptr<Por::Construction::Unit> pattern = Factory().CreateComposite();
    Por::Util::AddProperty(*pattern, Por::Name("Kind"), Factory().CreateString(u"selected"), Factory());
    std::unique_ptr<Por::Construction::Unit> options = Factory().CreateComposite();
    Por::Util::AddProperty(*options, Por::Name("LimitOptions"), Factory().CreateDWord(2000), Factory());
    Serialization::XMLPacketSerializer out(2, -1);
    const Serialization::MetaInfo element("request_ViewManager_OpenStaticView");
    out.StartWriteMetaInfo(element);
    {
        Serialization::WriteScope specification(out, Serialization::MetaInfo("specification"));
        const std::pair<const char*, UnitPtr> arguments[] = {{"Pattern", std::move(pattern)},
                                                             {"Options", std::move(options)}};
        for (const auto& [name, unit] : arguments) {
            Serialization::WriteScope scope(out, Serialization::MetaInfo(name));
            Por::Serialization::SerializeUnit(out, unit);
        }
    }
    {
        Serialization::WriteScope snapshot(out, Serialization::MetaInfo("snapshot"));
        Serialization::WriteScope vector(out, Serialization::MetaInfo("vector"));
    }
    out.FinishWriteMetaInfo(element);
    Ipc::Bytes request;
    out.GetData(request);
    for (auto _ : state) {
        Ipc::Bytes reply;
        if (!Ipc::InvokeHandler(store.Core(), {"", kDml}, request, reply).IsSuccess() || reply.empty()) {
            state.SkipWithError("the view failed");
            return;
        }
    }
}

void BM_UpdateByPatternAllOf2000(benchmark::State& state)
{
    constexpr int kObjects = 2000;
    BenchStore store(kObjects, [](int) { return u"bench"; });
    if (!store.Ready()) {
        state.SkipWithError("cannot make the store");
        return;
    }
    const std::string update = UpdateByPattern("bench");
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!RunTool("update", update)) {
            state.SkipWithError("the update failed");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["us_per_object"] = seconds * 1e6 / (static_cast<double>(state.iterations()) * kObjects);
}

// "UpdateObject" of object `number` to round 1, as the socket road carries it.
Ipc::Bytes UpdatePacket(int number)
{
    const UnitPtr object = MakeObject(number, u"bench");
    const UnitPtr patch = Por::Util::MakeDiff(*object, *MakeObject(number, u"bench", 1), Factory());
    Serialization::XMLPacketSerializer out(2, -1);
    const Serialization::MetaInfo element("request_ObjectManager_UpdateObject");
    out.StartWriteMetaInfo(element);
    const std::pair<const char*, UnitPtr> arguments[] = {{"objectId", UnitPtr(object, &Dml::GetObjectKey(*object))},
                                                         {"patch", patch}};
    for (const auto& [name, unit] : arguments) {
        Serialization::WriteScope scope(out, Serialization::MetaInfo(name));
        Por::Serialization::SerializeUnit(out, unit);
    }
    out.FinishWriteMetaInfo(element);
    Ipc::Bytes packet;
    out.GetData(packet);
    return packet;
}

bool IsSuccessReply(const Ipc::Bytes& reply)
{
    try {
        Serialization::XMLPacketDeserializer in(reply.data(), reply.size(), 0);
        Serialization::ReadScope element(in, Serialization::MetaInfo("reply_ObjectManager_UpdateObject"));
        Common::Error result;
        in.Read(Serialization::MetaInfo("result", true), result);
        return result.IsSuccess();
    } catch (const Common::Error&) {
        return false;
    }
}

// One round: every transport sends its requests, one after the other, all
// transports at once. Gives each request's time in seconds; false on a failure.
bool RunClients(std::vector<std::unique_ptr<Ipc::Transport>>& transports, const std::vector<Ipc::Bytes>& packets,
                std::vector<double>& times, bool checkReplies)
{
    std::vector<std::vector<double>> perClient(transports.size());
    std::vector<char> failed(transports.size(), 0);
    std::vector<std::thread> clients;
    for (size_t c = 0; c < transports.size(); ++c)
        clients.emplace_back([&, c] {
            perClient[c].reserve(kRequestsPerClient);
            Ipc::Bytes reply;
            for (int r = 0; r < kRequestsPerClient; ++r) {
                const auto start = std::chrono::steady_clock::now();
                if (!transports[c]->Exchange(packets[c], reply).IsSuccess() ||
                    (checkReplies && !IsSuccessReply(reply))) {
                    failed[c] = 1;
                    return;
                }
                perClient[c].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            }
        });
    for (std::thread& client : clients)
        client.join();
    for (const auto& each : perClient)
        times.insert(times.end(), each.begin(), each.end());
    return std::find(failed.begin(), failed.end(), 1) == failed.end();
}

void ReportRequests(benchmark::State& state, std::vector<double>& times, double seconds)
{
    std::sort(times.begin(), times.end());
    const auto at = [&](double share) { return times[std::min(times.size() - 1, size_t(share * times.size()))]; };
    state.counters["requests_per_s"] = static_cast<double>(times.size()) / seconds;
    state.counters["p50_ms"] = at(0.50) * 1e3;
    state.counters["p99_ms"] = at(0.99) * 1e3;
}

// Rounds of RunClients for the benchmark's iterations, then their figures.
void MeasureClients(benchmark::State& state, std::vector<std::unique_ptr<Ipc::Transport>>& transports,
                    const std::vector<Ipc::Bytes>& packets, bool checkReplies, const char* failure)
{
    std::vector<double> times;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!RunClients(transports, packets, times, checkReplies)) {
            state.SkipWithError(failure);
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    ReportRequests(state, times, seconds);
}

void BM_UpdateObjectClients(benchmark::State& state)
{
    const int clientCount = static_cast<int>(state.range(0));
    BenchStore store(clientCount, [](int) { return u"bench"; });
    std::unique_ptr<Ipc::Server> server;
    if (!store.Ready() ||
        !Ipc::Server::Start(
             Ipc::ServerOptions{"127.0.0.1", 0}, [](const Ipc::HelloRecord&) { return true; }, store.Core(), server)
             .IsSuccess()) {
        state.SkipWithError("cannot start the service");
        return;
    }
    std::vector<std::unique_ptr<Ipc::Transport>> transports;
    std::vector<Ipc::Bytes> packets;
    for (int c = 0; c < clientCount; ++c) {
        std::unique_ptr<Ipc::SocketTransport> transport;
        if (!Ipc::SocketTransport::Connect("127.0.0.1:" + std::to_string(server->GetPort()), {"bench", "bench", kDml},
                                           transport)
                 .IsSuccess()) {
            state.SkipWithError("cannot connect");
            return;
        }
        transports.push_back(std::move(transport));
        packets.push_back(UpdatePacket(c));
    }
    MeasureClients(state, transports, packets, true, "a request failed");
    transports.clear();
    server->Stop();
}

// The same packet echoed back by the socket road, one client.
void BM_SocketBareRoundTrip(benchmark::State& state)
{
    Ipc::EchoRoad road;
    if (!Ipc::OpenSocketEchoRoad(road).IsSuccess()) {
        state.SkipWithError("cannot open the road");
        return;
    }
    std::vector<std::unique_ptr<Ipc::Transport>> transports;
    transports.push_back(std::move(road.transport));
    const std::vector<Ipc::Bytes> packets{UpdatePacket(0)};
    MeasureClients(state, transports, packets, false, "a round trip failed");
    transports.clear();
}

// One 4 KB write over the start of a file in the temporary folder, then fdatasync.
void BM_Fdatasync4K(benchmark::State& state)
{
    char pattern[256];
    std::snprintf(pattern, sizeof pattern, "%s/service_scale_bench.sync.XXXXXX", TemporaryRoot().c_str());
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        state.SkipWithError("cannot make the file");
        return;
    }
    unlink(pattern);
    const std::vector<char> block(4096, 'x');
    if (pwrite(fd, block.data(), block.size(), 0) != 4096 || fdatasync(fd) != 0) {
        state.SkipWithError("cannot write the file");
        close(fd);
        return;
    }
    for (auto _ : state) {
        if (pwrite(fd, block.data(), block.size(), 0) != 4096 || fdatasync(fd) != 0) {
            state.SkipWithError("the write failed");
            break;
        }
    }
    close(fd);
}

} // namespace

BENCHMARK(BM_DeleteAllByPattern)->Arg(10000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeleteLastTenthByPattern)->Arg(50000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UpdateByPatternSelectingTen)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ViewByPatternSelectingTen)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_UpdateByPatternAllOf2000)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UpdateObjectClients)->Arg(1)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketBareRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fdatasync4K)->Iterations(200)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
