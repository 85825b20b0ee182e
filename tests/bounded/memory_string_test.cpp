// Statuses and resets of the copy, fill and string functions.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr size_t TOO_BIG = BOUNDED_MAX_LEN + 1;

bool all_bytes(const unsigned char *p, size_t n, unsigned char value)
{
    for (size_t i = 0; i < n; i++) {
        if (p[i] != value) {
            return false;
        }
    }
    return true;
}

TEST(MemcpyS, RefusesBadDestinationWithoutTouchingIt)
{
    unsigned char dest[8];
    memset(dest, 0xAA, sizeof dest);
    unsigned char src[8] = {1, 2, 3};
    EXPECT_EQ(memcpy_s(dest, 0, src, 1), ERANGE);
    EXPECT_EQ(memcpy_s(dest, TOO_BIG, src, 1), ERANGE);
    EXPECT_EQ(memcpy_s(nullptr, 8, src, 1), EINVAL);
    EXPECT_EQ(memcpy_s(nullptr, 0, src, 1), ERANGE);  // size is checked first
    EXPECT_TRUE(all_bytes(dest, sizeof dest, 0xAA));
}

TEST(MemcpyS, FailuresZeroTheWholeDestination)
{
    unsigned char dest[80];
    unsigned char src[81] = {7};
    memset(dest, 0xAA, sizeof dest);
    EXPECT_EQ(memcpy_s(dest, sizeof dest, nullptr, 4), EINVAL_RESET);
    EXPECT_TRUE(all_bytes(dest, sizeof dest, 0));

    memset(dest, 0xAA, sizeof dest);
    EXPECT_EQ(memcpy_s(dest, sizeof dest, src, sizeof src), ERANGE_RESET);
    EXPECT_TRUE(all_bytes(dest, sizeof dest, 0));

    unsigned char block[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(memcpy_s(block + 2, 8, block, 4), EOVERLAP_RESET);
    EXPECT_TRUE(all_bytes(block + 2, 8, 0));
    EXPECT_EQ(block[10], 11);  // only destMax bytes are reset
    EXPECT_EQ(block[1], 2);
}

TEST(MemcpyS, CopiesAndTreatsTrivialCopiesAsDone)
{
    unsigned char block[16] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(memcpy_s(block, 16, block, 16), 0);      // same address
    EXPECT_EQ(memcpy_s(block + 4, 4, block, 4), 0);    // adjacent, no overlap
    EXPECT_EQ(block[4], 1);
    EXPECT_EQ(block[7], 4);
    EXPECT_EQ(memcpy_s(block, 16, block + 1, 0), 0);   // count 0
    EXPECT_EQ(block[0], 1);
}

TEST(MemsetS, FillsOrReportsInRuleOrder)
{
    unsigned char dest[16];
    memset(dest, 0xAA, sizeof dest);
    EXPECT_EQ(memset_s(dest, 16, 0x1FF, 8), 0);  // low byte only
    EXPECT_TRUE(all_bytes(dest, 8, 0xFF));
    EXPECT_TRUE(all_bytes(dest + 8, 8, 0xAA));
    EXPECT_EQ(memset_s(dest, 0, 0, 0), 0);        // empty fill of an empty buffer
    EXPECT_EQ(memset_s(dest, 0, 0, 1), ERANGE);
    EXPECT_EQ(memset_s(dest, TOO_BIG, 0, 1), ERANGE);
    EXPECT_EQ(memset_s(nullptr, 16, 0, 1), EINVAL);
    EXPECT_EQ(memset_s(dest, 16, 0x55, 17), ERANGE_RESET);
    EXPECT_TRUE(all_bytes(dest, 16, 0x55));       // reset fills with the byte asked for
}

// One row per rule: the result and what the destination holds afterwards.
struct CopyCase {
    const char *what;
    size_t destMax;
    const char *src;
    size_t count;  // strncpy_s only
    int32_t status;
    const char *expected;
};

TEST(StrcpyS, StatusesAndResets)
{
    const std::string s31(31, 'x');
    const std::string s32(32, 'x');
    const CopyCase cases[] = {
        {"fits", 32, s31.c_str(), 0, 0, s31.c_str()},
        {"too long", 32, s32.c_str(), 0, ERANGE_RESET, ""},
        {"null source", 32, nullptr, 0, EINVAL_RESET, ""},
        {"empty source", 1, "", 0, 0, ""},
    };
    for (const CopyCase &c : cases) {
        char dest[40] = "old";
        EXPECT_EQ(strcpy_s(dest, c.destMax, c.src), c.status) << c.what;
        EXPECT_STREQ(dest, c.expected) << c.what;
    }
    char dest[8] = "old";
    EXPECT_EQ(strcpy_s(dest, 0, "a"), ERANGE);
    EXPECT_EQ(strcpy_s(nullptr, 8, "a"), EINVAL);
    EXPECT_STREQ(dest, "old");

    char text[16] = "abcdef";
    EXPECT_EQ(strcpy_s(text, 16, text), 0);
    EXPECT_STREQ(text, "abcdef");
    EXPECT_EQ(strcpy_s(text + 2, 14, text), EOVERLAP_RESET);
    EXPECT_STREQ(text, "ab");
}

TEST(StrncpyS, StatusesAndResets)
{
    const std::string s31(31, 'y');
    const std::string s32(32, 'y');
    const CopyCase cases[] = {
        {"31 chars into 32", 32, s31.c_str(), 31, 0, s31.c_str()},
        {"32 chars into 32", 32, s32.c_str(), 32, ERANGE_RESET, ""},
        {"count 0", 32, "abc", 0, 0, ""},
        {"cut at count", 32, "abcdef", 3, 0, "abc"},
        {"count above length", 32, "abc", 10, 0, "abc"},
        {"count above size, short source", 4, "abc", 100, 0, "abc"},
        {"count above size, long source", 4, "abcd", 100, ERANGE_RESET, ""},
        {"count too big", 32, "abc", TOO_BIG, ERANGE_RESET, ""},
        {"null source", 32, nullptr, 3, EINVAL_RESET, ""},
    };
    for (const CopyCase &c : cases) {
        char dest[40] = "old";
        EXPECT_EQ(strncpy_s(dest, c.destMax, c.src, c.count), c.status) << c.what;
        EXPECT_STREQ(dest, c.expected) << c.what;
    }
    char dest[8] = "old";
    EXPECT_EQ(strncpy_s(dest, TOO_BIG, "a", 1), ERANGE);
    EXPECT_EQ(strncpy_s(nullptr, 8, "a", 1), EINVAL);
    EXPECT_STREQ(dest, "old");

    char text[16] = "abcdef";
    EXPECT_EQ(strncpy_s(text, 16, text, 3), 0);  // same address: terminated at count
    EXPECT_STREQ(text, "abc");
    strcpy(text, "abcdef");
    EXPECT_EQ(strncpy_s(text + 1, 15, text, 6), EOVERLAP_RESET);
    EXPECT_STREQ(text, "a");
}

// strcat_s and strncat_s share their rules; count applies to strncat_s.
struct CatCase {
    const char *what;
    const char *start;
    size_t destMax;
    const char *src;
    size_t count;
    int32_t catStatus;
    int32_t ncatStatus;
    const char *catResult;
    const char *ncatResult;
};

TEST(StrcatS, StatusesAndResets)
{
    const CatCase cases[] = {
        {"appends", "ab", 8, "cde", 2, 0, 0, "abcde", "abcd"},
        {"exact fit", "ab", 6, "cde", 3, 0, 0, "abcde", "abcde"},
        {"one too many", "ab", 5, "cde", 3, ERANGE_RESET, ERANGE_RESET, "", ""},
        {"count 0", "ab", 8, "cde", 0, 0, 0, "abcde", "ab"},
        {"null source", "ab", 8, nullptr, 1, EINVAL_RESET, EINVAL_RESET, "", ""},
        {"count too big", "ab", 8, "c", TOO_BIG, 0, ERANGE_RESET, "abc", ""},
    };
    for (const CatCase &c : cases) {
        char dest[16];
        strcpy(dest, c.start);
        EXPECT_EQ(strcat_s(dest, c.destMax, c.src), c.catStatus) << c.what;
        EXPECT_STREQ(dest, c.catResult) << c.what;
        strcpy(dest, c.start);
        EXPECT_EQ(strncat_s(dest, c.destMax, c.src, c.count), c.ncatStatus) << c.what;
        EXPECT_STREQ(dest, c.ncatResult) << c.what;
    }
    char dest[8] = "old";
    EXPECT_EQ(strcat_s(dest, 0, "a"), ERANGE);
    EXPECT_EQ(strncat_s(nullptr, 8, "a", 1), EINVAL);
    EXPECT_STREQ(dest, "old");
}

TEST(StrcatS, UnterminatedDestinationIsEmptiedWith150)
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

    char alone[256];
    memset(alone, 'd', sizeof alone);
    EXPECT_EQ(strncat_s(alone, sizeof alone, "x", 1), EINVAL_RESET);
    EXPECT_EQ(alone[0], '\0');
}

TEST(StrcatS, OverlapIsRefused)
{
    char text[32] = "abc";
    EXPECT_EQ(strcat_s(text, 32, text + 1), EOVERLAP_RESET);  // source inside the string
    EXPECT_STREQ(text, "");
    strcpy(text, "abcdef");
    EXPECT_EQ(strncat_s(text + 2, 30, text, 4), EOVERLAP_RESET);  // source before dest
    EXPECT_STREQ(text, "ab");
    strcpy(text, "ab");
    strcpy(text + 8, "xy");
    EXPECT_EQ(strcat_s(text, 32, text + 8), 0);  // separate part of one buffer
    EXPECT_STREQ(text, "abxy");
}

}  // namespace
