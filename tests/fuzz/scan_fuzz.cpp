// sscanf_s and scanf_s with arbitrary formats whose arguments are worked out
// here first, so every pointer handed over is real and sized: the scan must
// stay inside them whatever the text says, and reading the same text from
// standard input must give the same result and the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bounded/bounded.h"
#include "tests/fuzz/fuzz_util.h"

using zorvifuzz::require;

namespace {

// A destination worked out from the format: a 32-bit number or count, or a
// text field with its size argument.
struct Dest {
    bool text;
    uint32_t size_arg;
    size_t bytes;
};

constexpr size_t MAX_DESTS = 6;

// The destinations the format consumes, in order, up to its first directive
// that is refused (the scan stops there and takes no more arguments), or
// nothing when there are too many.
std::optional<std::vector<Dest>> plan_arguments(const std::string &format,
                                                FuzzedDataProvider &input)
{
    std::vector<Dest> dests;
    for (const char *f = format.c_str(); f[0] == '%' && memchr("suxn", f[1], 4) != nullptr;
         f += 2) {
        if (dests.size() == MAX_DESTS) {
            return std::nullopt;
        }
        Dest dest{f[1] == 's', 0, sizeof(uint32_t)};
        if (dest.text) {
            // A real size, 0, or one the scan must refuse without writing.
            uint8_t pick = input.ConsumeIntegral<uint8_t>();
            dest.size_arg = pick == 255 ? 0xFFFFFFFFu : pick == 254 ? 0x80000000u : pick % 48;
            dest.bytes = dest.size_arg == 0 || dest.size_arg > BOUNDED_MAX_LEN ? 1 : dest.size_arg;
        }
        dests.push_back(dest);
    }
    return dests;
}

// Calls the scan with exactly the arguments the plan lists, each with its
// own type: a pointer, and for text fields the size as unsigned int.
template <size_t Left, typename Scan, typename... Args>
int32_t scan_with_plan(Scan scan, const std::vector<Dest> &dests, uint8_t *const *memory, size_t i,
                       Args... args)
{
    if (i == dests.size()) {
        return scan(args...);
    }
    if constexpr (Left == 0) {
        abort();
    } else {
        if (dests[i].text) {
            return scan_with_plan<Left - 1>(scan, dests, memory, i + 1, args...,
                                            reinterpret_cast<char *>(memory[i]),
                                            static_cast<unsigned int>(dests[i].size_arg));
        }
        return scan_with_plan<Left - 1>(scan, dests, memory, i + 1, args...,
                                        static_cast<void *>(memory[i]));
    }
}

// One scan into fresh destinations; returns the result and their bytes.
template <typename Scan>
std::pair<int32_t, std::string> run(Scan scan, const std::vector<Dest> &dests)
{
    std::vector<std::unique_ptr<uint8_t[]>> owned;
    uint8_t *memory[MAX_DESTS] = {};
    for (size_t i = 0; i < dests.size(); ++i) {
        owned.push_back(std::make_unique<uint8_t[]>(dests[i].bytes));
        memory[i] = owned.back().get();
        memset(memory[i], 0xA5, dests[i].bytes);
    }
    int32_t result = scan_with_plan<MAX_DESTS>(scan, dests, memory, 0);
    std::string bytes;
    for (size_t i = 0; i < dests.size(); ++i) {
        bytes.append(reinterpret_cast<const char *>(memory[i]), dests[i].bytes);
    }
    return {result, bytes};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::string format = input.ConsumeRandomLengthString(64);
    auto dests = plan_arguments(format, input);
    if (!dests) {
        return 0;
    }
    std::string text = input.ConsumeRemainingBytesAsString();
    text.resize(strlen(text.c_str()));  // what a C string of it holds
    const char *f = format.c_str();
    auto [result, bytes] =
        run([&](auto... args) { return sscanf_s(text.c_str(), f, args...); }, *dests);
    require(result >= -1 && result <= static_cast<int32_t>(dests->size()),
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
    auto [stdinResult, stdinBytes] = run([&](auto... args) { return scanf_s(f, args...); }, *dests);
    stdin = saved;
    fclose(file);
    require(stdinResult == result && stdinBytes == bytes, "standard input and text differ");
    return 0;
}
