// Diff of two composites of 10,000 properties of which 1% differ, beside a
// JSON library's diff (RFC 6902 patch) of the equivalent objects.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/unit_diff.h"
#include "enterprise/common/por/utils.h"

namespace {

constexpr int kProperties = 10000;
constexpr int kChangedEvery = 100; // 1%

using UnitPtr = std::unique_ptr<Por::Construction::Unit>;

// Properties "p00000".. with DWord values; every 100th differs in `changed`.
UnitPtr MakeComposite(const Por::Construction::UnitFactory& factory, bool changed)
{
    UnitPtr root = factory.CreateComposite();
    Por::Construction::CompositeValue& composite = Por::Util::GetCompositeValue(*root);
    for (int i = 0; i < kProperties; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%05d", i);
        const unsigned value = changed && i % kChangedEvery == 0 ? i + 1u : static_cast<unsigned>(i);
        composite.Set(factory.CreateProperty(Por::Name(std::string(name)), factory.CreateDWord(value)));
    }
    return root;
}

nlohmann::json MakeJson(bool changed)
{
    nlohmann::json object = nlohmann::json::object();
    for (int i = 0; i < kProperties; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%05d", i);
        object[name] = changed && i % kChangedEvery == 0 ? i + 1u : static_cast<unsigned>(i);
    }
    return object;
}

void BM_MakeDiff(benchmark::State& state)
{
    const Por::Construction::InMemoryUnitFactory factory;
    const UnitPtr oldUnit = MakeComposite(factory, false);
    const UnitPtr newUnit = MakeComposite(factory, true);
    for (auto _ : state) {
        UnitPtr diff = Por::Util::MakeDiff(*oldUnit, *newUnit, factory);
        benchmark::DoNotOptimize(diff.get());
    }
    state.SetItemsProcessed(state.iterations() * kProperties);
}
BENCHMARK(BM_MakeDiff)->Unit(benchmark::kMicrosecond);

void BM_JsonDiff(benchmark::State& state)
{
    const nlohmann::json oldJson = MakeJson(false);
    const nlohmann::json newJson = MakeJson(true);
    for (auto _ : state) {
        nlohmann::json patch = nlohmann::json::diff(oldJson, newJson);
        benchmark::DoNotOptimize(patch);
    }
    state.SetItemsProcessed(state.iterations() * kProperties);
}
BENCHMARK(BM_JsonDiff)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
