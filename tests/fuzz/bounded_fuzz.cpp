// The bounded copy, fill, concatenation and print functions with sizes and
// counts chosen by the input, on destinations of exactly their stated size:
// nothing is written past it, the same call gives the same bytes and verdict twice, a
// string that succeeds is terminated inside it, and a print that succeeds is
// what glibc prints.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <string>

#include "bounded/bounded.h"
#include "tests/fuzz/fuzz_util.h"

using zorvifuzz::require;

namespace {

// The two prints, each given the source, the number and the number again.
const char *const PRINTS[] = {"%s|%d|%x", "%.5s%08u%-4c"};

// One call of the chosen function on a destination of `size` bytes.
int32_t call(int op, char *dest, size_t size, size_t count, const std::string &src, int number)
{
    switch (op) {
        case 0:
            return memcpy_s(dest, size, src.data(), count < src.size() ? count : src.size());
        case 1:
            return memset_s(dest, size, number, count);
        case 2:
            return strcpy_s(dest, size, src.c_str());
        case 3:
            return strncpy_s(dest, size, src.c_str(), count);
        case 4:
            return strcat_s(dest, size, src.c_str());
        case 5:
            return strncat_s(dest, size, src.c_str(), count);
        case 6:
            return sprintf_s(dest, size, PRINTS[0], src.c_str(), number, number);
        default:
            return snprintf_s(dest, size, count, PRINTS[1], src.c_str(), number, number);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int op = in.ConsumeIntegralInRange(0, 7);
    const size_t dest_size = in.ConsumeIntegralInRange<size_t>(1, 80);
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, 100);
    const int number = in.ConsumeIntegral<int>();
    const std::string start = in.ConsumeBytesAsString(dest_size);
    const std::string src = in.ConsumeRemainingBytesAsString();

    auto first = std::make_unique<char[]>(dest_size);
    auto second = std::make_unique<char[]>(dest_size);
    memcpy(first.get(), start.data(), start.size());
    memcpy(second.get(), start.data(), start.size());
    const int32_t status = call(op, first.get(), dest_size, count, src, number);
    // The overlap rule compares addresses, and a range it checks may reach past
    // the destination into whatever the heap put next to it; that can turn one
    // failure into another, never a failure into a success.
    const int32_t again = call(op, second.get(), dest_size, count, src, number);
    require(op >= 6 ? again == status : (again == 0) == (status == 0), "status changed");
    require(memcmp(first.get(), second.get(), dest_size) == 0, "bytes changed");
    const bool text = op >= 2;
    const bool done = op >= 6 ? status >= 0 : status == 0;
    if (text && done) {
        require(memchr(first.get(), '\0', dest_size) != nullptr, "result without terminator");
    }
    if (op >= 6 && done) {
        char expected[512];
        const int length =
            snprintf(expected, sizeof(expected), PRINTS[op - 6], src.c_str(), number, number);
        require(length == status && strcmp(expected, first.get()) == 0, "print differs from glibc");
    }
    return 0;
}
