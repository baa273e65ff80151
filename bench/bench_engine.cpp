// Generation figures: a 100-line batch of length 30 with every class, names and codes; the
// irreversible code alone.
#include "engine/Generator.h"
#include "engine/Module1.h"
#include "platform/KernelRandomSource.h"

#include <benchmark/benchmark.h>

using namespace tolvane::engine;

static void BM_Batch100Length30AllClassesWithCodes(benchmark::State& state) {
    GenerationSettings s;
    s.lengthText = U"30";
    s.segmentsText = U"5";
    s.countText = U"100";
    s.classes = {true, true, true, true, true, true, true};
    s.associate = true;
    s.irreversible = true;
    s.puk = U"clé-personnelle";
    s.userCount = 100;
    for (int i = 0; i < 100; ++i) {
        s.userNames.push_back(U"utilisateur" + std::u32string(1, U'0' + i % 10));
    }
    tolvane::platform::KernelRandomSource random;
    for (auto _ : state) {
        Batch batch = generateBatch(s, random);
        benchmark::DoNotOptimize(batch.lines.data());
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_Batch100Length30AllClassesWithCodes)->Unit(benchmark::kMicrosecond);

static void BM_CryptageIrreversible(benchmark::State& state) {
    const std::u32string data = U"utilisateur7\tAb3&é-x9Z{}-µ€ 12-qsdfg-hjklm";
    const std::u32string key = U"clé-personnelle";
    for (auto _ : state) {
        benchmark::DoNotOptimize(CryptageIrreversible(key, data, 2));
    }
}
BENCHMARK(BM_CryptageIrreversible);

BENCHMARK_MAIN();
