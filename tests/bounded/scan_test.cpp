// The scan engine: number rules, size arguments, end-of-input and stdin.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

struct NumberCase {
    const char *text;
    int32_t result;
    uint32_t value;  // 777 when nothing is stored
};

TEST(SscanfSNumbers, UnsignedDecimal)
{
    const NumberCase cases[] = {
        {"4294967295", 1, 4294967295u},
        {"4294967296", 1, 0},
        {"4294967297", 1, 1},
        {"18446744073709551615", 1, 4294967295u},   // fits 64 bits: low half
        {"18446744073709551616", 1, 4294967295u},   // beyond 64 bits
        {"123456789012345678901", 1, 4294967295u},
        {"-1", 1, 4294967295u},
        {"-4294967296", 1, 0},
        {"-4294967297", 1, 4294967295u},
        {"+42", 1, 42},
        {" \t\n42", 1, 42},
        {"017", 1, 17},                              // no octal
        {"12abc", 1, 12},
        {"0x1F", 1, 0},                              // stops at the x
        {"abc", 0, 777},
        {"-", 0, 777},
        {"+x", 0, 777},
        {"", -1, 777},
        {"   ", -1, 777},
    };
    for (const NumberCase &c : cases) {
        uint32_t value = 777;
        EXPECT_EQ(sscanf_s(c.text, "%u", &value), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(SscanfSNumbers, UnsignedHex)
{
    const NumberCase cases[] = {
        {"1F", 1, 31},
        {"0x1F", 1, 31},
        {"0X1f", 1, 31},
        {"ffffffff", 1, 4294967295u},
        {"100000000", 1, 0},
        {"10000000000000000", 1, 4294967295u},       // 17 hex digits
        {"-0x1", 1, 4294967295u},
        {"0x", 1, 0},                                // the 0 is a digit
        {"g", 0, 777},
    };
    for (const NumberCase &c : cases) {
        uint32_t value = 777;
        EXPECT_EQ(sscanf_s(c.text, "%x", &value), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(SscanfSNumbers, OtherIntegerConversions)
{
    int d = 0, i1 = 0, i2 = 0, i3 = 0;
    unsigned o = 0;
    EXPECT_EQ(sscanf_s("-12 0x1f 017 19 017", "%d %i %i %i %o", &d, &i1, &i2, &i3, &o), 5);
    EXPECT_EQ(d, -12);
    EXPECT_EQ(i1, 31);
    EXPECT_EQ(i2, 15);
    EXPECT_EQ(i3, 19);
    EXPECT_EQ(o, 15u);

    unsigned char hh = 0;
    unsigned short h = 0;
    unsigned long long ll = 0;
    size_t z = 0;
    EXPECT_EQ(sscanf_s("258 65537 18446744073709551615 7", "%hhu %hu %llu %zu", &hh, &h, &ll, &z), 4);
    EXPECT_EQ(hh, 2);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(ll, 18446744073709551615ull);
    EXPECT_EQ(z, 7u);

    unsigned a = 0, b = 0;
    int n = 0;
    EXPECT_EQ(sscanf_s("12345 x", "%3u%u%n", &a, &b, &n), 2);  // width splits the field
    EXPECT_EQ(a, 123u);
    EXPECT_EQ(b, 45u);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(sscanf_s("1 2", "%*u %u", &a), 1);
    EXPECT_EQ(a, 2u);
}

TEST(SscanfSStrings, SizeArgumentBoundsTheField)
{
    char word[8] = "old";
    char next[8] = "next";
    EXPECT_EQ(sscanf_s("  abcdefg rest", "%s", word, 8u), 1);  // 7 characters fit
    EXPECT_STREQ(word, "abcdefg");
    EXPECT_EQ(sscanf_s("abcdefgh rest", "%s %s", word, 8u, next, 8u), 0);
    EXPECT_STREQ(word, "");      // emptied
    EXPECT_STREQ(next, "next");  // the scan stopped
    EXPECT_EQ(sscanf_s("abcdefgh", "%3s%s", word, 8u, next, 8u), 2);
    EXPECT_STREQ(word, "abc");
    EXPECT_STREQ(next, "defgh");
}

TEST(SscanfSStrings, InvalidSizeStopsBeforeTheField)
{
    unsigned v = 0;
    char word[8] = "old";
    EXPECT_EQ(sscanf_s("5 abc", "%u %s", &v, word, 0u), 1);
    EXPECT_STREQ(word, "old");
    EXPECT_EQ(sscanf_s("abc", "%s", word, 0x80000000u), 0);
    EXPECT_STREQ(word, "old");
}

TEST(SscanfSStrings, CharAndScanSet)
{
    char c3[3] = {'x', 'x', 'x'};
    EXPECT_EQ(sscanf_s("abc", "%3c", c3, 3u), 1);  // no NUL for %c
    EXPECT_EQ(std::string(c3, 3), "abc");
    EXPECT_EQ(sscanf_s("abcd", "%4c", c3, 3u), 0);
    EXPECT_EQ(c3[0], '\0');

    char letters[8] = "";
    char rest[8] = "";
    unsigned v = 0;
    EXPECT_EQ(sscanf_s("abc123]x", "%[a-z]%u%[]x]", letters, 8u, &v, rest, 8u), 3);
    EXPECT_STREQ(letters, "abc");
    EXPECT_EQ(v, 123u);
    EXPECT_STREQ(rest, "]x");
    EXPECT_EQ(sscanf_s("key=val", "%[^=]=%s", letters, 8u, rest, 8u), 2);
    EXPECT_STREQ(letters, "key");
    EXPECT_STREQ(rest, "val");
    EXPECT_EQ(sscanf_s("123", "%[a-z]", letters, 8u), 0);
}

TEST(SscanfSRules, EmptyTextClearsTheFirstStringDestination)
{
    char word[8] = "old";
    EXPECT_EQ(sscanf_s("", "%s", word, 8u), -1);
    EXPECT_STREQ(word, "");
    strcpy(word, "old");
    EXPECT_EQ(sscanf_s("", "%s", word, 0u), -1);  // size 0: untouched
    EXPECT_STREQ(word, "old");
    unsigned v = 0;
    EXPECT_EQ(sscanf_s("", "%%%u %s", &v, word, 8u), -1);  // first conversion is a number
    EXPECT_STREQ(word, "old");
    EXPECT_EQ(sscanf_s("", "x%c", word, 8u), -1);
    EXPECT_STREQ(word, "");
}

TEST(SscanfSRules, ResultAtEndOfInputAndOnFailures)
{
    unsigned a = 0, b = 0;
    char word[8];
    EXPECT_EQ(sscanf_s("12", "%u %u", &a, &b), 1);
    EXPECT_EQ(sscanf_s("abc", "abc%u", &a), 0);        // a literal matched
    EXPECT_EQ(sscanf_s("ab", "abc%u", &a), 0);
    EXPECT_EQ(sscanf_s(" ", " %u", &a), -1);
    EXPECT_EQ(sscanf_s("12-34", "%u:%u", &a, &b), 1);  // literal mismatch
    EXPECT_EQ(sscanf_s("5% 6", "%u %% %u", &a, &b), 2);
    EXPECT_EQ(b, 6u);
    EXPECT_EQ(sscanf_s(nullptr, "%u", &a), -1);
    EXPECT_EQ(sscanf_s("1", nullptr), -1);
    EXPECT_EQ(sscanf_s("1 2", "%u %u", &a, static_cast<unsigned *>(nullptr)), -1);
    EXPECT_EQ(sscanf_s("ab", "%s", static_cast<char *>(nullptr), 8u), -1);
    // Refused conversions: floating point, wide characters, unknown ones,
    // a format cut short.
    float f = 0;
    EXPECT_EQ(sscanf_s("1.5", "%f", &f), -1);
    EXPECT_EQ(sscanf_s("ab", "%ls", word, 8u), -1);
    EXPECT_EQ(sscanf_s("1", "%q", &a), -1);
    EXPECT_EQ(sscanf_s("1", "%", &a), -1);
    EXPECT_EQ(sscanf_s("ab", "%[ab", word, 8u), -1);
}

// Runs body in a child whose stdin reads `input`; returns what it wrote.
std::string with_stdin(const std::string &input, const std::function<std::string()> &body)
{
    char path[] = "/tmp/bounded-stdin-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fd);
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        int status = freopen(path, "r", stdin) == nullptr ? 2 : 0;
        std::string report = body();
        ssize_t ignored = write(out[1], report.data(), report.size());
        (void)ignored;
        _exit(status);
    }
    close(out[1]);
    std::string report;
    char chunk[256];
    ssize_t got = 0;
    while ((got = read(out[0], chunk, sizeof chunk)) > 0) {
        report.append(chunk, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = -1;
    waitpid(child, &status, 0);
    unlink(path);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return report;
}

// Reads `calls` words with "%s" and size 512: "result:word|" for each.
std::string read_words(int calls)
{
    std::string report;
    for (int i = 0; i < calls; i++) {
        char word[512] = "untouched";
        int32_t result = scanf_s("%s", word, 512u);
        report += std::to_string(result) + ":" + word + "|";
    }
    return report;
}

TEST(ScanfS, WordsOfOneLineComeOneCallAtATime)
{
    EXPECT_EQ(with_stdin("yes agree\n", [] { return read_words(3); }), "1:yes|1:agree|-1:untouched|");
    EXPECT_EQ(with_stdin("", [] { return read_words(1); }), "-1:untouched|");
    EXPECT_EQ(with_stdin(" \n\t", [] { return read_words(1); }), "-1:untouched|");
}

TEST(ScanfS, RestOfTheLineStaysUnread)
{
    auto body = [] {
        std::string report = read_words(1);
        int c = fgetc(stdin);
        report += std::to_string(c);
        return report;
    };
    EXPECT_EQ(with_stdin("yes agree\n", body), "1:yes|32");
    EXPECT_EQ(with_stdin("yes\n", body), "1:yes|10");
}

TEST(ScanfS, OverlongWordEmptiesAndLeavesItsRest)
{
    std::string input = std::string(511, 'a') + "Z rest\n";
    EXPECT_EQ(with_stdin(input, [] { return read_words(3); }), "0:|1:Z|1:rest|");
    EXPECT_EQ(with_stdin(std::string(511, 'b'), [] { return read_words(1); }),
              "1:" + std::string(511, 'b') + "|");
}

TEST(ScanfS, NumbersPushBackTheCharacterAfterThem)
{
    auto body = [] {
        unsigned v = 0;
        int32_t r1 = scanf_s("%u", &v);
        std::string report = std::to_string(r1) + ":" + std::to_string(v) + "|";
        report += std::to_string(fgetc(stdin));
        return report;
    };
    EXPECT_EQ(with_stdin("  42x", body), "1:42|120");
    EXPECT_EQ(with_stdin("abc", body), "0:0|97");
    EXPECT_EQ(scanf_s(nullptr), -1);
}

}  // namespace
