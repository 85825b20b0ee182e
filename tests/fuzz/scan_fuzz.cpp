// sscanf_s and scanf_s on any text, with a format of up to six %s, %u, %x and
// %n directives picked by the input, each handed a real destination of its own
// size, then any bytes: the scan must stay inside the destinations whatever
// the text says, and reading the same text from standard input must give the
// same result and the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bounded/bounded.h"
#include "tests/fuzz/fuzz_util.h"

using zorvifuzz::require;

namespace {

constexpr size_t MAX_DESTS = 6;

// One destination: its kind, the size argument of a %s, and its bytes.
struct Dest {
    char kind;
    unsigned int size_arg;
    std::vector<uint8_t> bytes;
};

// Calls the scan with every destination's arguments in order: a pointer, and
// for a %s its size as unsigned int.
template <size_t Left, typename Scan, typename... Args>
int32_t call(Scan scan, std::vector<Dest> &dests, size_t i, Args... args)
{
    if constexpr (Left > 0) {
        if (i < dests.size()) {
            uint8_t *bytes = dests[i].bytes.data();
            if (dests[i].kind == 's') {
                return call<Left - 1>(scan, dests, i + 1, args..., reinterpret_cast<char *>(bytes),
                                      dests[i].size_arg);
            }
            return call<Left - 1>(scan, dests, i + 1, args..., static_cast<void *>(bytes));
        }
    }
    return scan(args...);
}

// One scan into fresh copies of the destinations; the result and their bytes.
template <typename Scan>
std::pair<int32_t, std::string> run(Scan scan, std::vector<Dest> dests)
{
    const int32_t result = call<MAX_DESTS>(scan, dests, 0);
    std::string bytes;
    for (const Dest &dest : dests) {
        bytes.append(dest.bytes.begin(), dest.bytes.end());
    }
    return {result, bytes};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::vector<Dest> dests(input.ConsumeIntegralInRange<size_t>(0, MAX_DESTS));
    std::string format;
    for (Dest &dest : dests) {
        dest.kind = "suxn"[input.ConsumeIntegralInRange(0, 3)];
        // A real size, 0, or one the scan must refuse without writing.
        const uint8_t pick = input.ConsumeIntegral<uint8_t>();
        dest.size_arg = pick == 255 ? 0xFFFFFFFFu : pick == 254 ? 0x80000000u : pick % 48;
        const bool empty = dest.size_arg == 0 || dest.size_arg > BOUNDED_MAX_LEN;
        dest.bytes.assign(dest.kind != 's' ? sizeof(uint32_t) : empty ? 1 : dest.size_arg, 0xA5);
        format += std::string("%") + dest.kind;
    }
    // Whatever follows is no directive of the four, so the scan takes no
    // argument past the last destination.
    format += "?" + input.ConsumeRandomLengthString(16);
    std::string text = input.ConsumeRemainingBytesAsString();
    text.resize(strlen(text.c_str()));  // what a C string of it holds
    const char *f = format.c_str();
    auto [result, bytes] =
        run([&](auto... args) { return sscanf_s(text.c_str(), f, args...); }, dests);
    require(result >= -1 && result <= static_cast<int32_t>(dests.size()),
            "more fields assigned than destinations");
    if (text.empty()) {
        return 0;  // an empty text has its own rule
    }
    FILE *file = tmpfile();
    require(file != nullptr && fwrite(text.data(), 1, text.size(), file) == text.size(),
            "no scratch file");
    rewind(file);
    FILE *const saved = stdin;
    stdin = file;
    auto [stdinResult, stdinBytes] = run([&](auto... args) { return scanf_s(f, args...); }, dests);
    stdin = saved;
    fclose(file);
    require(stdinResult == result && stdinBytes == bytes, "standard input and text differ");
    return 0;
}
