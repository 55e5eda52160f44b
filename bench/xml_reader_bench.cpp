// Reading speed of the XML document loader over the serializer's sample
// packet (a vector of 2,000 composite values), beside a general-purpose DOM
// parser reading the same bytes.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <cstring>
#include <vector>

#include "bench/sample_packet.h"
#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"

namespace {

const std::vector<unsigned char>& Packet()
{
    static const std::vector<unsigned char> packet = Bench::BuildSamplePacket(Bench::kSampleRecordCount);
    return packet;
}

void BM_LoadXmlDocument(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    size_t elements = 0;
    for (auto _ : state) {
        buf_ifile<char> source(reinterpret_cast<const char*>(packet.data()), packet.size());
        xml_tag* root = nullptr;
        int32_t line = 0;
        int32_t column = 0;
        if (!load_xml_document(root, source, line, column)) {
            state.SkipWithError("the sample packet did not load");
            break;
        }
        elements = root->children.size();
        benchmark::DoNotOptimize(root);
        free_xml_tag(root);
        delete root;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * packet.size()));
    state.counters["packet_bytes"] = static_cast<double>(packet.size());
    state.counters["root_children"] = static_cast<double>(elements);
}
BENCHMARK(BM_LoadXmlDocument)->Unit(benchmark::kMillisecond);

void BM_PugixmlParse(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    for (auto _ : state) {
        pugi::xml_document document;
        const pugi::xml_parse_result result = document.load_buffer(packet.data(), packet.size());
        if (!result) {
            state.SkipWithError("the sample packet did not parse");
            break;
        }
        benchmark::DoNotOptimize(document.first_child());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_PugixmlParse)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
