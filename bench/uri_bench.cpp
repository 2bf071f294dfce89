// ParseURI on a full address against copying the same text.  ParseURI
// writes terminators into its text, so every iteration first restores the
// text with ZVStrCpyW; the parse's own cost is the difference between the
// two benchmarks.
//
//   uri_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include "zv.h"

namespace {

const ZVWCHAR kAddress[] = u"proto://server:99,t=a1,l=b2,mode=r,flag/dbname";

void BM_CopyText(benchmark::State& state) {
    ZVWCHAR buffer[sizeof kAddress / sizeof kAddress[0]];
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZVStrCpyW(buffer, kAddress));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyText);

void BM_CopyAndParseURI(benchmark::State& state) {
    ZVWCHAR buffer[sizeof kAddress / sizeof kAddress[0]];
    ParsedURI record;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZVStrCpyW(buffer, kAddress));
        int32_t result = ParseURI(buffer, &record);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(record);
        benchmark::ClobberMemory();
    }
    if (ParseURI(ZVStrCpyW(buffer, kAddress), &record) != 0) state.SkipWithError("refused");
}
BENCHMARK(BM_CopyAndParseURI);

}  // namespace

BENCHMARK_MAIN();
