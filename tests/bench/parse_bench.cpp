// Cost of reading a template file: the whole parse of the full example (every
// block, 390 lines, one open-scan-close per key), and single lookups near the
// top and at the bottom of the file. The card queries of the identity checks
// are answered in-process (tests/harness/fake_card.cpp), so this measures
// the file work alone; the round trips to the card are in a whole load run.
#include <benchmark/benchmark.h>

#include <string>

#include "fileaccess/ini_reader.h"
#include "template/template_parser.h"

namespace {

const std::string FULL = std::string(ZORVI_EXAMPLES_DIR) + "/full.ini";

void parse_full_example(benchmark::State &state)
{
    ResourceTemplate record{};
    for (auto _ : state) {
        if (parse_template_file(FULL.c_str(), &record) != 0) {
            state.SkipWithError("full.ini did not parse");
            break;
        }
        benchmark::DoNotOptimize(record);
    }
}
BENCHMARK(parse_full_example)->Unit(benchmark::kMicrosecond);

void lookup(benchmark::State &state, const char *section, const char *key)
{
    uint32_t value = 0;
    for (auto _ : state) {
        if (get_uint_key_value(FULL.c_str(), section, key, &value) != 0) {
            state.SkipWithError("lookup failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK_CAPTURE(lookup, first_config_key, "CONFIG", "HN")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(lookup, last_config_key, "CONFIG", "OVNP15")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(lookup, metadata, "INFO", "METADATA")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
