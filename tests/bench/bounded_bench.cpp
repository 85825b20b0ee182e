// The bounded copy, fill and number scan next to the plain C library calls.
// Expected: copy and fill at 1 KiB and above within 10% of memcpy/memset;
// sscanf_s "%u" at least twice as fast as sscanf.
#include "bounded/bounded.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void copy_args(benchmark::internal::Benchmark *b)
{
    b->Arg(16)->Arg(1024)->Arg(64 * 1024);
}

void BM_memcpy(benchmark::State &state)
{
    auto n = static_cast<size_t>(state.range(0));
    std::vector<char> src(n, 'a'), dst(n);
    for (auto _ : state) {
        memcpy(dst.data(), src.data(), n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_memcpy)->Apply(copy_args);

void BM_memcpy_s(benchmark::State &state)
{
    auto n = static_cast<size_t>(state.range(0));
    std::vector<char> src(n, 'a'), dst(n);
    for (auto _ : state) {
        int32_t status = memcpy_s(dst.data(), n, src.data(), n);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_memcpy_s)->Apply(copy_args);

void BM_memset(benchmark::State &state)
{
    auto n = static_cast<size_t>(state.range(0));
    std::vector<char> dst(n);
    for (auto _ : state) {
        memset(dst.data(), 0, n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_memset)->Apply(copy_args);

void BM_memset_s(benchmark::State &state)
{
    auto n = static_cast<size_t>(state.range(0));
    std::vector<char> dst(n);
    for (auto _ : state) {
        int32_t status = memset_s(dst.data(), n, 0, n);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_memset_s)->Apply(copy_args);

// Values as template files carry them: small, large and the 32-bit maximum.
const char *const NUMBERS[] = {"7", "1024", "65535", "4294967295"};
constexpr size_t NUMBER_COUNT = sizeof NUMBERS / sizeof NUMBERS[0];

void BM_sscanf_u(benchmark::State &state)
{
    size_t i = 0;
    for (auto _ : state) {
        unsigned value = 0;
        int result = sscanf(NUMBERS[i++ % NUMBER_COUNT], "%u", &value);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_sscanf_u);

void BM_sscanf_s_u(benchmark::State &state)
{
    size_t i = 0;
    for (auto _ : state) {
        unsigned value = 0;
        int32_t result = sscanf_s(NUMBERS[i++ % NUMBER_COUNT], "%u", &value);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_sscanf_s_u);

}  // namespace

BENCHMARK_MAIN();
