// Fit, cut and reset rules of sprintf_s and snprintf_s.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr size_t NO_COUNT = SIZE_MAX;  // call sprintf_s instead of snprintf_s

TEST(PrintS, FitCutAndReset)
{
    const std::string fits(1023, 'r');
    const std::string over(1024, 'o');
    const struct {
        size_t destMax;
        size_t count;
        const char *text;
        int32_t result;
        std::string expected;
    } cases[] = {
        {6, NO_COUNT, "QNP15", 5, "QNP15"},  // one byte left for the NUL
        {5, NO_COUNT, "abcde", -1, ""},
        {5, NO_COUNT, "abcdefghij", -1, ""},
        {1024, 1023, fits.c_str(), 1023, fits},  // a log record of a 1024-byte buffer
        {1024, 1023, over.c_str(), -1, std::string(1023, 'o')},
        {16, 4, "123456", -1, "1234"},  // count < destMax: cut
        {16, 0, "x", -1, ""},
        {16, 0, "", 0, ""},
        {8, 511, "abcdef ", 7, "abcdef "},  // count >= destMax: the reset rule
        {8, 8, "abcdefg ", -1, ""},
        {8, 7, "abcdefg ", -1, "abcdefg"},
        {8, BOUNDED_MAX_LEN - 1, "x", 1, "x"},  // largest count accepted
        {8, BOUNDED_MAX_LEN, "x", -1, ""},
    };
    for (const auto &c : cases) {
        char buf[1024] = "old";
        const int32_t result = c.count == NO_COUNT
                                   ? sprintf_s(buf, c.destMax, "%s", c.text)
                                   : snprintf_s(buf, c.destMax, c.count, "%s", c.text);
        EXPECT_EQ(result, c.result) << c.text << " " << c.destMax << " " << c.count;
        EXPECT_EQ(std::string(buf), c.expected) << c.text << " " << c.destMax << " " << c.count;
    }
    char buf[8];
    EXPECT_EQ(sprintf_s(buf, sizeof buf, "%s%02u", "VNP", 7u), 5);
    EXPECT_STREQ(buf, "VNP07");
}

TEST(PrintS, BadArgumentsLeaveAnInvalidDestinationAlone)
{
    const char *volatile noFormat = nullptr;
    char buf[8] = "old";
    EXPECT_EQ(sprintf_s(buf, 0, "x"), -1);
    EXPECT_EQ(sprintf_s(buf, BOUNDED_MAX_LEN + 1, "x"), -1);
    EXPECT_EQ(snprintf_s(buf, 0, 0, "x"), -1);
    EXPECT_EQ(sprintf_s(nullptr, 8, "x"), -1);
    EXPECT_EQ(snprintf_s(nullptr, 8, 7, "x"), -1);
    EXPECT_STREQ(buf, "old");
    EXPECT_EQ(sprintf_s(buf, 8, noFormat, 0), -1);
    EXPECT_STREQ(buf, "");  // a valid destination is emptied
    buf[0] = 'o';
    EXPECT_EQ(snprintf_s(buf, 8, 7, noFormat, 0), -1);
    EXPECT_STREQ(buf, "");
}

}  // namespace
