// 2,000 "UpdateObject" requests through each road of the IPC stand-in to the
// stand-in service (the packet read, the object's lookup, the patch applied
// and the object rewritten in one committed store transaction), each beside a
// bare round trip of the same packet bytes over the same transport (an echo
// handler): the difference is what the service itself costs. Each road is run
// twice: as the system's requests (built, run with Binding::ExecuteRequest
// over an access point, the reply read back) and as the bare request packet
// handed to the transport.
//
// The store lives in a temporary folder; the update applies the same patch
// each time, so every request does the same work.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/common/error_text.h"
#include "enterprise/common/ipc/connection.h"
#include "enterprise/common/ipc/execute_request.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_diff.h"
#include "enterprise/common/por/unit_serialization.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/echo_road.h"
#include "platform/ipc/local_transport.h"
#include "platform/ipc/server.h"
#include "platform/ipc/socket_transport.h"
#include "service/service_core.h"
#include "service/store_location.h"
#include "xidl/object_manager.h"

namespace {

constexpr int kRequests = 2000;
constexpr int32_t kDml = 46;

using UnitPtr = std::shared_ptr<const Por::View::Unit>;

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

UnitPtr MakeObject(uint32_t size)
{
    std::unique_ptr<Por::Construction::Unit> object = Factory().CreateComposite();
    std::unique_ptr<Por::Construction::Unit> id = Factory().CreateDWord(1);
    Por::Util::AddNilTrait(*id, Por::Name("PrimaryKey"), Factory());
    Por::Util::AddProperty(*object, Por::Name("ID"), std::move(id), Factory());
    Por::Util::AddProperty(*object, Por::Name("Name"), Factory().CreateString(u"an object of the benchmark"),
                           Factory());
    Por::Util::AddProperty(*object, Por::Name("Size"), Factory().CreateDWord(size), Factory());
    return object;
}

Ipc::Bytes Packet(const std::string& method, const std::vector<std::pair<const char*, UnitPtr>>& arguments)
{
    Serialization::XMLPacketSerializer out(2, -1);
    const Serialization::MetaInfo element("request_ObjectManager_" + method);
    out.StartWriteMetaInfo(element);
    for (const auto& [name, unit] : arguments) {
        Serialization::WriteScope scope(out, Serialization::MetaInfo(name));
        Por::Serialization::SerializeUnit(out, unit);
    }
    out.FinishWriteMetaInfo(element);
    Ipc::Bytes packet;
    out.GetData(packet);
    return packet;
}

// A service over a store in a temporary folder, holding the object to update.
struct TemporaryService
{
    std::string folder;
    std::unique_ptr<::Service::ServiceCore> core;

    TemporaryService()
    {
        char pattern[] = "/tmp/service_update_bench.XXXXXX";
        if (!mkdtemp(pattern))
            return;
        folder = pattern;
        std::unique_ptr<::Service::Store> store;
        if (!::Service::Store::Open(folder + "/objects.db", store).IsSuccess())
            return;
        core = std::make_unique<::Service::ServiceCore>(std::move(store));
        Ipc::Bytes reply;
        if (!core->Handle({"", kDml}, Packet("RegisterObject", {{"object", MakeObject(1)}}), reply).IsSuccess())
            core.reset();
    }
    ~TemporaryService()
    {
        core.reset();
        if (!folder.empty())
            (void)std::system(("rm -rf '" + folder + "'").c_str()); // best effort
    }
};

UnitPtr UpdateKey()
{
    std::unique_ptr<Por::Construction::Unit> id = Factory().CreateDWord(1);
    Por::Util::AddNilTrait(*id, Por::Name("PrimaryKey"), Factory());
    return id;
}

const Ipc::Bytes& UpdatePacket()
{
    static const Ipc::Bytes packet = [] {
        const UnitPtr key = UpdateKey();
        const UnitPtr patch = Por::Util::MakeDiff(*MakeObject(1), *MakeObject(2), Factory());
        return Packet("UpdateObject", {{"objectId", key}, {"patch", patch}});
    }();
    return packet;
}

void Run(benchmark::State& state, Ipc::Transport& transport)
{
    const Ipc::Bytes& request = UpdatePacket();
    Ipc::Bytes reply;
    for (auto _ : state) {
        if (!transport.Exchange(request, reply).IsSuccess() || reply.empty()) {
            state.SkipWithError("the request failed");
            return;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    state.counters["packet_bytes"] = static_cast<double>(request.size());
}

void RunRequests(benchmark::State& state, Binding::AccessPoint& accessPoint)
{
    const UnitPtr key = UpdateKey();
    const UnitPtr patch = Por::Util::MakeDiff(*MakeObject(1), *MakeObject(2), Factory());
    for (auto _ : state) {
        std::unique_ptr<Binding::Request> request = Dml::MakeUpdateObjectRequest(key, patch);
        if (!Binding::ExecuteRequest(accessPoint, request).IsSuccess()) {
            state.SkipWithError("the request failed");
            return;
        }
    }
}

// The local road's own service, opening the store the temporary service
// made (and put the object in).
void BM_LocalRoadExecuteRequest(benchmark::State& state)
{
    TemporaryService service;
    setenv(::Service::kStoreFolderVariable, service.folder.c_str(), 1);
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    const Common::Error error = Binding::OpenLocalAccessPoint(kDml, accessPoint);
    if (!service.core || !error.IsSuccess()) {
        state.SkipWithError(Common::ErrorToUtf8Text(error).c_str());
        return;
    }
    RunRequests(state, *accessPoint);
}

// The socket road's server for the service, on an ephemeral loopback port,
// admitting any user; false when it could not start.
bool StartServer(TemporaryService& service, std::unique_ptr<Ipc::Server>& server)
{
    return service.core &&
        Ipc::Server::Start(
            Ipc::ServerOptions{"127.0.0.1", 0}, [](const Ipc::HelloRecord&) { return true; }, *service.core, server)
            .IsSuccess();
}

std::string HostOf(const Ipc::Server& server)
{
    return "127.0.0.1:" + std::to_string(server.GetPort());
}

void BM_SocketRoadExecuteRequest(benchmark::State& state)
{
    TemporaryService service;
    std::unique_ptr<Ipc::Server> server;
    Binding::RemoteConnection connection;
    std::shared_ptr<Binding::AccessPoint> accessPoint;
    if (StartServer(service, server)) {
        Binding::CreateBinder(connection.binder);
        connection.settings = Binding::MakeConnectionSettings(HostOf(*server), "bench", "bench", kDml);
    }
    if (!server || !Binding::ConnectRemote(connection, kDml, accessPoint).IsSuccess()) {
        state.SkipWithError("cannot open the road");
        return;
    }
    RunRequests(state, *accessPoint);
    accessPoint.reset();
    server->Stop();
}

void BM_LocalRoadUpdateObject(benchmark::State& state)
{
    TemporaryService service;
    if (!service.core) {
        state.SkipWithError("cannot open the store");
        return;
    }
    Ipc::LocalTransport transport(*service.core, Ipc::CallContext{"", kDml});
    Run(state, transport);
}

// The same packet bytes echoed back over the same transport.
void RunBareRoundTrip(benchmark::State& state, Common::Error (*open)(Ipc::EchoRoad& road))
{
    Ipc::EchoRoad road;
    if (!open(road).IsSuccess()) {
        state.SkipWithError("cannot open the road");
        return;
    }
    Run(state, *road.transport);
}

void BM_LocalRoadBareRoundTrip(benchmark::State& state)
{
    RunBareRoundTrip(state, &Ipc::OpenLocalEchoRoad);
}

void BM_SocketRoadUpdateObject(benchmark::State& state)
{
    TemporaryService service;
    std::unique_ptr<Ipc::Server> server;
    std::unique_ptr<Ipc::SocketTransport> transport;
    if (!StartServer(service, server) ||
        !Ipc::SocketTransport::Connect(HostOf(*server), {"bench", "bench", kDml}, transport).IsSuccess()) {
        state.SkipWithError("cannot open the road");
        return;
    }
    Run(state, *transport);
    transport.reset();
    server->Stop();
}

void BM_SocketRoadBareRoundTrip(benchmark::State& state)
{
    RunBareRoundTrip(state, &Ipc::OpenSocketEchoRoad);
}

} // namespace

BENCHMARK(BM_LocalRoadExecuteRequest)->Iterations(kRequests)->UseRealTime();
BENCHMARK(BM_LocalRoadUpdateObject)->Iterations(kRequests)->UseRealTime();
BENCHMARK(BM_LocalRoadBareRoundTrip)->Iterations(kRequests)->UseRealTime();
BENCHMARK(BM_SocketRoadExecuteRequest)->Iterations(kRequests)->UseRealTime();
BENCHMARK(BM_SocketRoadUpdateObject)->Iterations(kRequests)->UseRealTime();
BENCHMARK(BM_SocketRoadBareRoundTrip)->Iterations(kRequests)->UseRealTime();

BENCHMARK_MAIN();
