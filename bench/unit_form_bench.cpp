// Encoding and decoding speed of the binary unit form over a snapshot of
// 2,000 composite objects (the serialization benchmarks' sample records),
// beside a JSON library's CBOR encoding of the equivalent data.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "bench/sample_packet.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/utils.h"

namespace {

using UnitPtr = std::unique_ptr<Por::Construction::Unit>;

const Por::Construction::InMemoryUnitFactory kFactory;

UnitPtr MakeSnapshot()
{
    UnitPtr snapshot = kFactory.CreateArray();
    for (const Bench::SampleRecord& record : Bench::MakeSampleRecords()) {
        UnitPtr object = kFactory.CreateComposite();
        Por::Util::AddProperty(*object, "id", kFactory.CreateGuid(record.id), kFactory);
        Por::Util::AddProperty(*object, "name", kFactory.CreateString(Common::FromUtf8(record.name.c_str())), kFactory);
        Por::Util::AddProperty(*object, "title", kFactory.CreateString(record.title), kFactory);
        Por::Util::AddProperty(*object, "count", kFactory.CreateDWord(record.count), kFactory);
        Por::Util::AddProperty(*object, "size", kFactory.CreateQWord(record.size), kFactory);
        Por::Util::AddProperty(*object, "offset", kFactory.CreateSQWord(record.offset), kFactory);
        Por::Util::AddProperty(*object, "ratio", kFactory.CreateDouble(record.ratio), kFactory);
        Por::Util::AddProperty(*object, "enabled", kFactory.CreateBoolean(record.enabled), kFactory);
        Por::Util::AddProperty(*object, "data", kFactory.CreateBlob(record.data), kFactory);
        Por::Util::AddNilTrait(*object, "Record", kFactory);
        Por::Util::AppendToArray(*snapshot, std::move(object));
    }
    return snapshot;
}

nlohmann::json MakeJsonSnapshot()
{
    nlohmann::json snapshot = nlohmann::json::array();
    for (const Bench::SampleRecord& record : Bench::MakeSampleRecords()) {
        const auto* id = reinterpret_cast<const unsigned char*>(&record.id);
        snapshot.push_back({{"id", nlohmann::json::binary(std::vector<uint8_t>(id, id + 16))},
                            {"name", record.name},
                            {"title", Common::ToUtf8(record.title.c_str())},
                            {"count", record.count},
                            {"size", record.size},
                            {"offset", record.offset},
                            {"ratio", record.ratio},
                            {"enabled", record.enabled},
                            {"data", nlohmann::json::binary(record.data)},
                            {"Record", nullptr}});
    }
    return snapshot;
}

void BM_WriteBinaryUnit(benchmark::State& state)
{
    const UnitPtr snapshot = MakeSnapshot();
    std::vector<unsigned char> bytes;
    for (auto _ : state) {
        bytes.clear();
        Por::Util::WriteBinaryUnit(*snapshot, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_WriteBinaryUnit)->Unit(benchmark::kMillisecond);

void BM_ReadBinaryUnit(benchmark::State& state)
{
    std::vector<unsigned char> bytes;
    Por::Util::WriteBinaryUnit(*MakeSnapshot(), bytes);
    for (auto _ : state) {
        UnitPtr unit = Por::Util::ReadBinaryUnit(bytes, kFactory);
        benchmark::DoNotOptimize(unit.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadBinaryUnit)->Unit(benchmark::kMillisecond);

void BM_JsonToCbor(benchmark::State& state)
{
    const nlohmann::json snapshot = MakeJsonSnapshot();
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        bytes = nlohmann::json::to_cbor(snapshot);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_JsonToCbor)->Unit(benchmark::kMillisecond);

void BM_JsonFromCbor(benchmark::State& state)
{
    const std::vector<uint8_t> bytes = nlohmann::json::to_cbor(MakeJsonSnapshot());
    for (auto _ : state) {
        nlohmann::json snapshot = nlohmann::json::from_cbor(bytes);
        benchmark::DoNotOptimize(snapshot);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_JsonFromCbor)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
