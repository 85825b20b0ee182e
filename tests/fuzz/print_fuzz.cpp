// sprintf_s and snprintf_s with the program's formats, any destination size
// and count, checked against the C library's own formatting: the result,
// the cut, the reset, and nothing written outside the destination.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "bounded/bounded.h"

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "print: %s\n", what);
        abort();
    }
}

struct Arguments {
    std::string s[3];
    int d[6];
    unsigned u;
};

constexpr int FORMAT_COUNT = 13;

// Calls `print` with one of the formats the program prints with, and
// arguments of the types that format takes.
template <typename Print>
auto with_format(int which, const Arguments &a, Print print)
{
    const char *s0 = a.s[0].c_str();
    const char *s1 = a.s[1].c_str();
    const char *s2 = a.s[2].c_str();
    switch (which) {
        case 0:
            return print("%s%02u", s0, a.u);
        case 1:
            return print("/opt/zorvi/");
        case 2:
            return print("%s", s0);
        case 3:
            return print("%s/%s", s0, s1);
        case 4:
            return print("%s%s%s", s0, s1, s2);
        case 5:
            return print("%s ", s0);
        case 6:
            return print("[%s] ", s0);
        case 7:
            return print("[%s<%d>].", s0, a.d[0]);
        case 8:
            return print("[%d-%02d-%02d %02d:%02d:%02d] ", a.d[0], a.d[1], a.d[2], a.d[3], a.d[4],
                         a.d[5]);
        case 9:
            return print("[%02d:%02d:%02d] ", a.d[0], a.d[1], a.d[2]);
        case 10:
            return print("\r\n");
        case 11:
            return print("The old operation log has been backed up to %s.", s0);
        default:
            return print("The old operation log has been removed.");
    }
}

// A destination size or count: mostly a small real one, sometimes one of
// the edges at or past the limits.
size_t pick(FuzzedDataProvider &input, size_t largest, std::initializer_list<size_t> edges)
{
    const auto which = input.ConsumeIntegralInRange<size_t>(0, 9);
    return which < edges.size() ? edges.begin()[which]
                                : input.ConsumeIntegralInRange<size_t>(0, largest);
}

}  // namespace

// The format handed to the lambdas below is always one of the literals of
// with_format, which the compiler cannot see through.
#pragma clang diagnostic ignored "-Wformat-security"
#pragma clang diagnostic ignored "-Wformat-nonliteral"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    int which = input.ConsumeIntegralInRange<int>(0, FORMAT_COUNT - 1);
    bool counted = input.ConsumeBool();
    // BOUNDED_MAX_LEN + 1 is refused; 0x7FFFFFFE is the largest count taken.
    size_t dest_max = pick(input, 700, {0x80000000u, SIZE_MAX});
    size_t count = pick(input, 800, {0x7FFFFFFE, 0x7FFFFFFF, SIZE_MAX});
    Arguments args;
    for (int &d : args.d) {
        d = input.ConsumeIntegral<int>();
    }
    args.u = input.ConsumeIntegral<unsigned>();
    for (std::string &s : args.s) {
        s = input.ConsumeRandomLengthString(400);
    }

    std::string expected = with_format(which, args, [](const char *format, auto... values) {
        int length = snprintf(nullptr, 0, format, values...);
        std::string text(static_cast<size_t>(length), '\0');
        snprintf(text.data(), text.size() + 1, format, values...);
        return text;
    });

    bool valid_size = dest_max != 0 && dest_max <= BOUNDED_MAX_LEN;
    // Exactly destMax bytes on the heap, so one byte more is caught.
    size_t allocated = valid_size ? dest_max : 1;
    auto dest = std::make_unique<char[]>(allocated);
    memset(dest.get(), 'Z', allocated);
    int32_t result = with_format(which, args, [&](const char *format, auto... values) {
        return counted ? snprintf_s(dest.get(), dest_max, count, format, values...)
                       : sprintf_s(dest.get(), dest_max, format, values...);
    });

    if (!valid_size) {
        check(result == -1 && dest[0] == 'Z', "refused size must leave the destination");
        return 0;
    }
    if (counted && count > 0x7FFFFFFE) {
        check(result == -1 && dest[0] == '\0', "refused count must reset");
        return 0;
    }
    if (counted && count < dest_max) {
        if (expected.size() <= count) {
            check(result == static_cast<int32_t>(expected.size()) && dest.get() == expected,
                  "counted print differs from the C library");
        } else {
            check(result == -1 && memcmp(dest.get(), expected.data(), count) == 0 &&
                      dest[count] == '\0',
                  "cut output must keep its first count characters");
        }
        return 0;
    }
    if (expected.size() < dest_max) {
        check(result == static_cast<int32_t>(expected.size()) && dest.get() == expected,
              "print differs from the C library");
    } else {
        check(result == -1 && dest[0] == '\0', "output that does not fit must reset");
    }
    return 0;
}
