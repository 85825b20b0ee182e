// The bounded copy, fill and number scan next to the plain C library calls.
// Expected: copy and fill at 1 KiB and above within 10% of memcpy/memset;
// sscanf_s "%u" reads its digits itself: no slower than a plain sscanf.
#include "bounded/bounded.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// One copy or fill of range(0) bytes per iteration.
template <typename Op>
void bytes_loop(benchmark::State &state, Op op)
{
    auto n = static_cast<size_t>(state.range(0));
    std::vector<char> src(n, 'a'), dst(n);
    for (auto _ : state) {
        benchmark::DoNotOptimize(op(dst.data(), src.data(), n));
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_memcpy(benchmark::State &state)
{
    bytes_loop(state, [](char *d, const char *s, size_t n) { return memcpy(d, s, n); });
}
void BM_memcpy_s(benchmark::State &state)
{
    bytes_loop(state, [](char *d, const char *s, size_t n) { return memcpy_s(d, n, s, n); });
}
void BM_memset(benchmark::State &state)
{
    bytes_loop(state, [](char *d, const char *, size_t n) { return memset(d, 0, n); });
}
void BM_memset_s(benchmark::State &state)
{
    bytes_loop(state, [](char *d, const char *, size_t n) { return memset_s(d, n, 0, n); });
}
BENCHMARK(BM_memcpy)->Arg(16)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_memcpy_s)->Arg(16)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_memset)->Arg(16)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_memset_s)->Arg(16)->Arg(1024)->Arg(64 * 1024);

// Values as template files carry them: small, large and the 32-bit maximum.
template <typename Scan>
void scan_loop(benchmark::State &state, Scan scan)
{
    static const char *const NUMBERS[] = {"7", "1024", "65535", "4294967295"};
    size_t i = 0;
    for (auto _ : state) {
        unsigned value = 0;
        benchmark::DoNotOptimize(scan(NUMBERS[i++ % 4], &value));
        benchmark::DoNotOptimize(value);
    }
}

void BM_sscanf_u(benchmark::State &state)
{
    scan_loop(state, [](const char *text, unsigned *v) { return sscanf(text, "%u", v); });
}
void BM_sscanf_s_u(benchmark::State &state)
{
    scan_loop(state, [](const char *text, unsigned *v) { return sscanf_s(text, "%u", v); });
}
BENCHMARK(BM_sscanf_u);
BENCHMARK(BM_sscanf_s_u);

}  // namespace

BENCHMARK_MAIN();
