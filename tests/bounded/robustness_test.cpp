// Random formats over random texts: the scan never writes past a
// destination's size and always returns -1 or a count it could have made.
#include "bounded/bounded.h"

#include "tests/bounded/scan_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

constexpr size_t AREA = 16;
constexpr unsigned char GUARD = 0x5A;

// Conversions that take a destination; sized ones write characters.
struct Directive {
    const char *text;
    bool sized;
};

const Directive TAKING[] = {
    {"%s", true}, {"%3s", true}, {"%c", true}, {"%4c", true}, {"%[a-c]", true}, {"%[^ :]", true},
    {"%u", false}, {"%x", false}, {"%d", false}, {"%2u", false}, {"%i", false}, {"%n", false},
};
const char *const FILLERS[] = {"", " ", ":", "a", "%%", "%*s", "%*u", "%*2c", "x"};
const char INPUT_CHARS[] = "abc 0x19-+:%\tZ";

TEST(ScanRobustness, NeverWritesPastTheGivenSize)
{
    std::mt19937 rng(424242);
    auto below = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    for (int n = 0; n < 20000; n++) {
        unsigned char area[3][AREA];
        memset(area, GUARD, sizeof area);
        ScanSlot slots[3];
        size_t written[3];  // bytes a slot may change
        std::string format = FILLERS[below(9)];
        for (int i = 0; i < 3; i++) {
            const Directive &d = TAKING[below(sizeof TAKING / sizeof TAKING[0])];
            unsigned size = static_cast<unsigned>(below(9));
            if (below(50) == 0) {
                size = 0x80000000u;
            }
            slots[i] = {area[i], d.sized, size};
            // An invalid size stops the scan, but an empty text still
            // clears the first byte of a first string destination.
            written[i] = d.sized ? (size > 8 ? 1 : size) : sizeof(int);
            format += d.text;
            format += FILLERS[below(9)];
        }
        std::string text;
        for (size_t len = below(24); len > 0; len--) {
            text += INPUT_CHARS[below(sizeof INPUT_CHARS - 1)];
        }
        int result = sscanf_s_three(text.c_str(), format.c_str(), slots);
        ASSERT_GE(result, -1) << text << " | " << format;
        ASSERT_LE(result, 3) << text << " | " << format;
        for (int i = 0; i < 3; i++) {
            for (size_t b = written[i]; b < AREA; b++) {
                ASSERT_EQ(area[i][b], GUARD) << "slot " << i << " byte " << b << ": " << text << " | " << format;
            }
        }
    }
}

}  // namespace
