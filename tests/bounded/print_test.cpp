// Fit, cut and reset rules of sprintf_s and snprintf_s.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(SprintfS, ReturnsLengthWhenOutputAndNulFit)
{
    char buf[512];
    EXPECT_EQ(sprintf_s(buf, sizeof buf, "/opt/zorvi/"), 11);
    EXPECT_STREQ(buf, "/opt/zorvi/");
    EXPECT_EQ(sprintf_s(buf, sizeof buf, "%s%02u", "VNP", 7u), 5);
    EXPECT_STREQ(buf, "VNP07");
    EXPECT_EQ(sprintf_s(buf, 6, "%s%02u", "QNP", 15u), 5);  // one byte left for the NUL
    EXPECT_STREQ(buf, "QNP15");
}

TEST(SprintfS, OutputOfDestMaxCharactersEmptiesTheDestination)
{
    char buf[16];
    EXPECT_EQ(sprintf_s(buf, 5, "%s", "abcde"), -1);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "old");
    EXPECT_EQ(sprintf_s(buf, 5, "%s", "abcdefghij"), -1);
    EXPECT_STREQ(buf, "");
}

TEST(SprintfS, BadArguments)
{
    char buf[8] = "old";
    EXPECT_EQ(sprintf_s(buf, 0, "x"), -1);
    EXPECT_STREQ(buf, "old");  // invalid size: untouched
    EXPECT_EQ(sprintf_s(buf, BOUNDED_MAX_LEN + 1, "x"), -1);
    EXPECT_STREQ(buf, "old");
    EXPECT_EQ(sprintf_s(nullptr, 8, "x"), -1);
    const char *volatile noFormat = nullptr;
    EXPECT_EQ(sprintf_s(buf, 8, noFormat, 0), -1);
    EXPECT_STREQ(buf, "");  // valid size: emptied
}

TEST(SnprintfS, CutKeepsCountCharacters)
{
    // A log record at offset 0 of a 1024-byte buffer.
    char record[1024];
    const std::string fits(1023, 'r');
    EXPECT_EQ(snprintf_s(record, 1024, 1023, "%s", fits.c_str()), 1023);
    EXPECT_EQ(fits, record);
    const std::string over(1024, 'o');
    EXPECT_EQ(snprintf_s(record, 1024, 1023, "%s", over.c_str()), -1);
    EXPECT_EQ(std::string(1023, 'o'), record);

    char buf[16];
    EXPECT_EQ(snprintf_s(buf, 16, 4, "%d", 123456), -1);
    EXPECT_STREQ(buf, "1234");
    EXPECT_EQ(snprintf_s(buf, 16, 0, "%s", "x"), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(snprintf_s(buf, 16, 0, "%s", ""), 0);
}

TEST(SnprintfS, CountAtLeastDestMaxFollowsTheResetRule)
{
    char buf[8];
    EXPECT_EQ(snprintf_s(buf, 8, 511, "%s ", "abcdef"), 7);
    EXPECT_STREQ(buf, "abcdef ");
    EXPECT_EQ(snprintf_s(buf, 8, 8, "%s ", "abcdefg"), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(snprintf_s(buf, 8, 7, "%s ", "abcdefg"), -1);  // count < destMax: cut
    EXPECT_STREQ(buf, "abcdefg");
}

TEST(SnprintfS, BadArguments)
{
    char buf[8] = "old";
    EXPECT_EQ(snprintf_s(buf, 0, 0, "x"), -1);
    EXPECT_STREQ(buf, "old");
    EXPECT_EQ(snprintf_s(nullptr, 8, 7, "x"), -1);
    EXPECT_EQ(snprintf_s(buf, 8, BOUNDED_MAX_LEN, "x"), -1);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "old");
    EXPECT_EQ(snprintf_s(buf, 8, BOUNDED_MAX_LEN - 1, "x"), 1);  // largest count accepted
    EXPECT_STREQ(buf, "x");
    const char *volatile noFormat = nullptr;
    EXPECT_EQ(snprintf_s(buf, 8, 7, noFormat, 0), -1);
    EXPECT_STREQ(buf, "");
}

}  // namespace
