// Parsing speed of the text notation reader (trace off) over about 1 MB of
// nested composites, beside a JSON DOM parse of the equivalent document.
//
// With NOTATION_BENCH_FILE naming a file of notation text, the row
// BM_ReadNotationFile parses that file once (trace off): the parse alone of an
// input the tool is measured with (bench/objpatcher_create_memory.sh runs it
// in fresh processes).
#include <benchmark/benchmark.h>

#include <rapidjson/document.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/parser/unit_construction_format.h"

namespace {

constexpr size_t kTargetBytes = 1 << 20;

// Records {id: QWord, name: String, flags: DWord, inner: {a: SDWord, b: Boolean,
// tags: [String, String]}} in an Array, as notation and as JSON.
void Record(size_t i, std::string& notation, std::string& json)
{
    const std::string n = std::to_string(i);
    notation += "  .Composite()\n    .Property(\"id\").QWord(" + n +
        ").End()\n    .Property(\"name\").String(\"record " + n + "\").End()\n    .Property(\"flags\").DWord(" +
        std::to_string(i % 7) + ").End()\n    .Property(\"inner\").Composite()\n      .Property(\"a\").SDWord(-" + n +
        ").End()\n      .Property(\"b\").Boolean(true).End()\n      .Property(\"tags\").Array()\n"
        "        .String(\"x\").End()\n        .String(\"y\").End()\n      .End()\n    .End()\n  .End()\n";
    json += std::string(json.size() > 1 ? "," : "") + "{\"id\":" + n + ",\"name\":\"record " + n +
        "\",\"flags\":" + std::to_string(i % 7) + ",\"inner\":{\"a\":-" + n + ",\"b\":true,\"tags\":[\"x\",\"y\"]}}";
}

struct Documents
{
    std::string notation = ".Array()\n";
    std::string json = "[";
    Documents()
    {
        for (size_t i = 0; notation.size() < kTargetBytes; ++i)
            Record(i, notation, json);
        notation += ".End()";
        json += "]";
    }
};

const Documents& GetDocuments()
{
    static const Documents documents;
    return documents;
}

class TextReader final : public Utils::DataReader
{
public:
    explicit TextReader(const std::string& text) : m_text(text) {}
    void ReadData(std::vector<char>& bytes) override { bytes.assign(m_text.begin(), m_text.end()); }

private:
    const std::string& m_text;
};

// Parses `text` once per iteration, with the trace off.
void ReadNotation(benchmark::State& state, const std::string& text)
{
    const Por::Construction::InMemoryUnitFactory factory;
    Utils::UnitConstructionFormat format(nullptr, false);
    for (auto _ : state) {
        TextReader reader(text);
        auto unit = format.Read(reader, factory);
        if (!unit) {
            state.SkipWithError("the text read to no unit");
            break;
        }
        benchmark::DoNotOptimize(unit.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ReadNotation(benchmark::State& state)
{
    ReadNotation(state, GetDocuments().notation);
}
BENCHMARK(BM_ReadNotation)->Unit(benchmark::kMillisecond);

void BM_JsonDomParse(benchmark::State& state)
{
    const std::string& text = GetDocuments().json;
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(text.c_str(), text.size());
        if (document.HasParseError()) {
            state.SkipWithError("the JSON did not parse");
            break;
        }
        benchmark::DoNotOptimize(&document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_JsonDomParse)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    std::string file;
    if (const char* path = std::getenv("NOTATION_BENCH_FILE")) {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        // One parse per process, as the tool makes it: a heap that has just
        // taken back a large tree makes the next one slower than a fresh one.
        benchmark::RegisterBenchmark("BM_ReadNotationFile", ReadNotation, file)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
