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

// A key's value, a template record, and far beyond it.
void sizes(benchmark::internal::Benchmark *bench)
{
    bench->Arg(16)->Arg(1024)->Arg(64 * 1024);
}

BENCHMARK_CAPTURE(bytes_loop, memcpy, [](char *d, const char *s, size_t n) {
    return memcpy(d, s, n);
})->Apply(sizes);
BENCHMARK_CAPTURE(bytes_loop, memcpy_s, [](char *d, const char *s, size_t n) {
    return memcpy_s(d, n, s, n);
})->Apply(sizes);
BENCHMARK_CAPTURE(bytes_loop, memset, [](char *d, const char *, size_t n) {
    return memset(d, 0, n);
})->Apply(sizes);
BENCHMARK_CAPTURE(bytes_loop, memset_s, [](char *d, const char *, size_t n) {
    return memset_s(d, n, 0, n);
})->Apply(sizes);

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

BENCHMARK_CAPTURE(scan_loop, sscanf_u,
                  [](const char *text, unsigned *v) { return sscanf(text, "%u", v); });
BENCHMARK_CAPTURE(scan_loop, sscanf_s_u,
                  [](const char *text, unsigned *v) { return sscanf_s(text, "%u", v); });

}  // namespace

BENCHMARK_MAIN();
