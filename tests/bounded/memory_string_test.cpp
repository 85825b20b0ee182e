// Statuses and resets of the copy, fill and string functions.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>
#include <string>

namespace {

constexpr size_t TOO_BIG = BOUNDED_MAX_LEN + 1;

const struct {
    const char *name;
    int32_t (*call)(char *dest, size_t destMax);
} functions[] = {
    {"memcpy_s", [](char *d, size_t m) { return memcpy_s(d, m, "a", 1); }},
    {"memset_s", [](char *d, size_t m) { return memset_s(d, m, 'a', 1); }},
    {"strcpy_s", [](char *d, size_t m) { return strcpy_s(d, m, "a"); }},
    {"strncpy_s", [](char *d, size_t m) { return strncpy_s(d, m, "a", 1); }},
    {"strcat_s", [](char *d, size_t m) { return strcat_s(d, m, "a"); }},
    {"strncat_s", [](char *d, size_t m) { return strncat_s(d, m, "a", 1); }},
};

TEST(BoundedDestination, EveryFunctionRefusesABadOneUntouched)
{
    for (const auto &f : functions) {
        char dest[8] = "old";
        EXPECT_EQ(f.call(dest, 0), ERANGE) << f.name;
        EXPECT_EQ(f.call(dest, TOO_BIG), ERANGE) << f.name;
        EXPECT_EQ(f.call(nullptr, 8), EINVAL) << f.name;
        EXPECT_EQ(f.call(nullptr, 0), ERANGE) << f.name;  // the size is checked first
        EXPECT_STREQ(dest, "old") << f.name;
    }
}

// The largest size is taken, and only the bytes a call needs are touched:
// past the first page of the destination nothing is mapped.
TEST(BoundedDestination, EveryFunctionTakesTheLargestSize)
{
    void *area = mmap(nullptr, BOUNDED_MAX_LEN, PROT_NONE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(area, 4096, PROT_READ | PROT_WRITE), 0);
    auto *dest = static_cast<char *>(area);
    for (const auto &f : functions) {
        strcpy(dest, "old");
        EXPECT_EQ(f.call(dest, BOUNDED_MAX_LEN), 0) << f.name;
        EXPECT_TRUE(dest[0] == 'a' || strcmp(dest, "olda") == 0) << f.name;
    }
    munmap(area, BOUNDED_MAX_LEN);
}

TEST(MemcpyS, FailuresZeroTheWholeDestinationAndTrivialCopiesSucceed)
{
    unsigned char dest[80];
    const unsigned char src[81] = {7};
    const unsigned char zeros[80] = {};
    memset(dest, 0xAA, sizeof dest);
    EXPECT_EQ(memcpy_s(dest, sizeof dest, nullptr, 4), EINVAL_RESET);
    EXPECT_EQ(memcmp(dest, zeros, sizeof dest), 0);
    memset(dest, 0xAA, sizeof dest);
    EXPECT_EQ(memcpy_s(dest, sizeof dest, src, sizeof src), ERANGE_RESET);
    EXPECT_EQ(memcmp(dest, zeros, sizeof dest), 0);

    unsigned char block[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(memcpy_s(block + 2, 8, block, 4), EOVERLAP_RESET);
    EXPECT_EQ(memcmp(block + 2, zeros, 8), 0);
    EXPECT_EQ(block[1], 2);  // only destMax bytes are reset
    EXPECT_EQ(block[10], 11);

    EXPECT_EQ(memcpy_s(block, 16, block, 16), 0);     // same address
    EXPECT_EQ(memcpy_s(block, 16, block + 1, 0), 0);  // count 0
    EXPECT_EQ(memcpy_s(block + 4, 4, block, 4), 0);   // adjacent, no overlap
    const unsigned char copied[8] = {1, 2, 0, 0, 1, 2, 0, 0};
    EXPECT_EQ(memcmp(block, copied, 8), 0);
}

TEST(MemsetS, FillsTheLowByteOrResetsWithIt)
{
    unsigned char dest[16];
    memset(dest, 0xAA, sizeof dest);
    EXPECT_EQ(memset_s(dest, 16, 0x1FF, 8), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(dest), 16),
              std::string(8, '\xFF') + std::string(8, '\xAA'));
    EXPECT_EQ(memset_s(dest, 0, 0, 0), 0);  // empty fill of an empty buffer
    EXPECT_EQ(memset_s(dest, 16, 0x55, 17), ERANGE_RESET);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(dest), 16), std::string(16, '\x55'));
}

enum Function { CPY, NCPY, CAT, NCAT };

int32_t call(Function f, char *dest, size_t destMax, const char *src, size_t count)
{
    switch (f) {
        case CPY:
            return strcpy_s(dest, destMax, src);
        case NCPY:
            return strncpy_s(dest, destMax, src, count);
        case CAT:
            return strcat_s(dest, destMax, src);
        default:
            return strncat_s(dest, destMax, src, count);
    }
}

TEST(StringFunctions, StatusesAndResets)
{
    const std::string s31(31, 'x');
    const std::string s32(32, 'x');
    const struct {
        Function f;
        const char *start;
        size_t destMax;
        const char *src;
        size_t count;  // for strncpy_s and strncat_s
        int32_t status;
        const char *expected;
    } cases[] = {
        {CPY, "old", 32, s31.c_str(), 0, 0, s31.c_str()},
        {CPY, "old", 32, s32.c_str(), 0, ERANGE_RESET, ""},
        {CPY, "old", 32, nullptr, 0, EINVAL_RESET, ""},
        {CPY, "old", 1, "", 0, 0, ""},
        {NCPY, "old", 32, s31.c_str(), 31, 0, s31.c_str()},
        {NCPY, "old", 32, s32.c_str(), 32, ERANGE_RESET, ""},
        {NCPY, "old", 32, "abc", 0, 0, ""},
        {NCPY, "old", 32, "abcdef", 3, 0, "abc"},
        {NCPY, "old", 32, "abc", 10, 0, "abc"},
        {NCPY, "old", 4, "abc", 100, 0, "abc"},  // count above size, source fits
        {NCPY, "old", 4, "abcd", 100, ERANGE_RESET, ""},
        {NCPY, "old", 32, "abc", TOO_BIG, ERANGE_RESET, ""},
        {NCPY, "old", 32, nullptr, 3, EINVAL_RESET, ""},
        {CAT, "ab", 8, "cde", 0, 0, "abcde"},
        {CAT, "ab", 6, "cde", 0, 0, "abcde"},  // exact fit
        {CAT, "ab", 5, "cde", 0, ERANGE_RESET, ""},
        {CAT, "ab", 8, nullptr, 0, EINVAL_RESET, ""},
        {NCAT, "ab", 8, "cde", 2, 0, "abcd"},
        {NCAT, "ab", 6, "cde", 3, 0, "abcde"},
        {NCAT, "ab", 5, "cde", 3, ERANGE_RESET, ""},
        {NCAT, "ab", 8, "cde", 0, 0, "ab"},
        {NCAT, "ab", 8, nullptr, 1, EINVAL_RESET, ""},
        {NCAT, "ab", 8, "c", TOO_BIG, ERANGE_RESET, ""},
    };
    for (const auto &c : cases) {
        char dest[40];
        strcpy(dest, c.start);
        EXPECT_EQ(call(c.f, dest, c.destMax, c.src, c.count), c.status) << "row " << &c - cases;
        EXPECT_STREQ(dest, c.expected) << "row " << &c - cases;
    }
}

TEST(StringFunctions, OverlapIsRefusedUnlessSourceIsDestination)
{
    const struct {
        Function f;
        size_t destAt;
        size_t srcAt;
        size_t count;
        int32_t status;
        const char *expected;  // the buffer from its start
    } cases[] = {
        {CPY, 0, 0, 0, 0, "abcdef"},
        {CPY, 2, 0, 0, EOVERLAP_RESET, "ab"},
        {NCPY, 0, 0, 3, 0, "abc"},  // same address: terminated at count
        {NCPY, 1, 0, 6, EOVERLAP_RESET, "a"},
        {CAT, 0, 1, 0, EOVERLAP_RESET, ""},     // source inside the string
        {NCAT, 2, 0, 4, EOVERLAP_RESET, "ab"},  // source before the destination
        {CAT, 0, 16, 0, 0, "abcdefxy"},         // a separate part of one buffer
    };
    for (const auto &c : cases) {
        char text[32] = "abcdef";
        strcpy(text + 16, "xy");
        EXPECT_EQ(call(c.f, text + c.destAt, 32 - c.destAt, text + c.srcAt, c.count), c.status)
            << "row " << &c - cases;
        EXPECT_STREQ(text, c.expected) << "row " << &c - cases;
    }
}

TEST(StringFunctions, UnterminatedDestinationIsEmptiedWith150)
{
    // 256 characters and no NUL, with the source right after it in memory.
    struct {
        char dest[256];
        char src[8];
    } area;
    memset(area.dest, 'd', sizeof area.dest);
    strcpy(area.src, "tail");
    EXPECT_EQ(strcat_s(area.dest, sizeof area.dest, area.src), EINVAL_RESET);
    EXPECT_EQ(area.dest[0], '\0');
    memset(area.dest, 'd', sizeof area.dest);
    EXPECT_EQ(strncat_s(area.dest, sizeof area.dest, "x", 1), EINVAL_RESET);
    EXPECT_EQ(area.dest[0], '\0');
}

}  // namespace
