// Narrowing and widening of 4 KiB strings against memcpy of the same bytes.
//
// Every benchmark counts the bytes of the source string it reads (4096), so
// the throughputs compare directly: the conversions should reach at least a
// quarter of memcpy's.
#include <benchmark/benchmark.h>

#include <string.h>

#include <vector>

#include "zv.h"

namespace {

constexpr size_t kBytes = 4096;

// Text with every non-zero value, so no unit or byte is special.
std::vector<char> NarrowText(size_t length) {
    std::vector<char> text(length + 1);
    for (size_t i = 0; i < length; ++i) text[i] = char(1 + (i * 37) % 255);
    text[length] = 0;
    return text;
}

std::vector<ZVWCHAR> WideText(size_t length) {
    std::vector<ZVWCHAR> text(length + 1);
    for (size_t i = 0; i < length; ++i) text[i] = ZVWCHAR(1 + (i * 40503u) % 65535u);
    text[length] = 0;
    return text;
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<char> source = NarrowText(kBytes - 1);
    std::vector<char> dest(kBytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(source.data());
        memcpy(dest.data(), source.data(), kBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_Memcpy);

// Wide source of 4 KiB: 2047 units and the terminator.
void BM_ToAnsi(benchmark::State& state) {
    std::vector<ZVWCHAR> source = WideText(kBytes / 2 - 1);
    std::vector<char> dest(kBytes / 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(source.data());
        ZVToAnsi(dest.data(), source.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_ToAnsi);

// Narrow source of 4 KiB: 4095 bytes and the terminator.
void BM_FromAnsi(benchmark::State& state) {
    std::vector<char> source = NarrowText(kBytes - 1);
    std::vector<ZVWCHAR> dest(kBytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(source.data());
        ZVFromAnsi(dest.data(), source.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_FromAnsi);

}  // namespace

BENCHMARK_MAIN();
