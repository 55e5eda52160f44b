// Writing speed of the XML packet serializer over the shared sample packet
// (a vector of 2,000 composite values).
#include <benchmark/benchmark.h>

#include "bench/sample_packet.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace {

void BM_WriteSamplePacket(benchmark::State& state)
{
    const std::vector<Bench::SampleRecord> records = Bench::MakeSampleRecords(Bench::kSampleRecordCount);
    size_t bytes = 0;
    std::vector<unsigned char> packet;
    for (auto _ : state) {
        Serialization::XMLPacketSerializer serializer(2, 0);
        Bench::WriteSamplePacket(serializer, records);
        serializer.GetData(packet);
        bytes += packet.size();
        benchmark::DoNotOptimize(packet.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["packet_bytes"] = static_cast<double>(packet.size());
}
BENCHMARK(BM_WriteSamplePacket)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
