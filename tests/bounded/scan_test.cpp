// The scan engine: number rules, size arguments, end-of-input and stdin.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(SscanfSNumbers, UnsignedDecimalAndHex)
{
    const struct {
        const char *format;
        const char *text;
        int32_t result;
        uint32_t value;  // 777 when nothing is stored
    } cases[] = {
        {"%u", "4294967295", 1, 4294967295u},
        {"%u", "4294967296", 1, 0},
        {"%u", "4294967297", 1, 1},
        {"%u", "18446744073709551615", 1, 4294967295u},  // fits 64 bits: low half
        {"%u", "18446744073709551616", 1, 4294967295u},  // beyond 64 bits
        {"%u", "123456789012345678901", 1, 4294967295u},
        {"%u", "-1", 1, 4294967295u},
        {"%u", "-4294967296", 1, 0},
        {"%u", "-4294967297", 1, 4294967295u},
        {"%u", "+42", 1, 42},
        {"%u", " \t\n42", 1, 42},
        {"%u", "017", 1, 17},  // no octal
        {"%u", "12abc", 1, 12},
        {"%u", "0x1F", 1, 0},  // stops at the x
        {"%u", "abc", 0, 777},
        {"%u", "-", 0, 777},
        {"%u", "+x", 0, 777},
        {"%u", "", -1, 777},
        {"%u", "   ", -1, 777},
        {"%x", "1F", 1, 31},
        {"%x", "0x1F", 1, 31},
        {"%x", "0X1f", 1, 31},
        {"%x", "ffffffff", 1, 4294967295u},
        {"%x", "100000000", 1, 0},
        {"%x", "10000000000000000", 1, 4294967295u},  // 17 hex digits
        {"%x", "-0x1", 1, 4294967295u},
        {"%x", "0x", 1, 0},  // the 0 is a digit
        {"%x", "g", 0, 777},
    };
    for (const auto &c : cases) {
        uint32_t value = 777;
        EXPECT_EQ(sscanf_s(c.text, c.format, &value), c.result) << c.format << " " << c.text;
        EXPECT_EQ(value, c.value) << c.format << " " << c.text;
    }
}

TEST(SscanfSNumbers, OtherIntegerConversions)
{
    using Values = std::vector<long long>;
    int d = 0, i1 = 0, i2 = 0, i3 = 0;
    unsigned o = 0;
    EXPECT_EQ(sscanf_s("-12 0x1f 017 19 017", "%d %i %i %i %o", &d, &i1, &i2, &i3, &o), 5);
    EXPECT_EQ((Values{d, i1, i2, i3, o}), (Values{-12, 31, 15, 19, 15}));

    unsigned char hh = 0;
    unsigned short h = 0;
    unsigned long long ll = 0;
    size_t z = 0;
    EXPECT_EQ(sscanf_s("258 65537 18446744073709551615 7", "%hhu %hu %llu %zu", &hh, &h, &ll, &z),
              4);
    EXPECT_EQ((Values{hh, h, static_cast<long long>(z)}), (Values{2, 1, 7}));
    EXPECT_EQ(ll, 18446744073709551615ull);

    unsigned a = 0, b = 0;
    int n = 0;
    EXPECT_EQ(sscanf_s("12345 x", "%3u%u%n", &a, &b, &n), 2);  // width splits the field
    EXPECT_EQ((Values{a, b, n}), (Values{123, 45, 5}));
    EXPECT_EQ(sscanf_s("1 2", "%*u %u", &a), 1);
    EXPECT_EQ(a, 2u);
}

TEST(SscanfSStrings, SizeArgumentBoundsTheField)
{
    const struct {
        const char *text;
        const char *format;
        unsigned size[2];
        int32_t result;
        const char *want[2];
    } cases[] = {
        {"  abcdefg rest", "%s", {8, 8}, 1, {"abcdefg", "next"}},  // 7 characters fit
        {"abcdefgh rest", "%s %s", {8, 8}, 0, {"", "next"}},       // emptied, the scan stops
        {"abcdefgh", "%3s%s", {8, 8}, 2, {"abc", "defgh"}},
        {"abc def", "%s %s", {8, 0}, 1, {"abc", "next"}},  // invalid size: stops before it
        {"abc", "%s", {0x80000000u, 8}, 0, {"old", "next"}},
        {"abc", "%3c", {3, 8}, 1, {"abc", "next"}},
        {"abcd", "%4c", {3, 8}, 0, {"", "next"}},
        {"key=val", "%[^=]=%s", {8, 8}, 2, {"key", "val"}},
        {"123", "%[a-z]", {8, 8}, 0, {"old", "next"}},
        // An empty text clears a first string destination of nonzero size.
        {"", "%s", {8, 8}, -1, {"", "next"}},
        {"", "%s", {0, 8}, -1, {"old", "next"}},
        {"", "x%c", {8, 8}, -1, {"", "next"}},
    };
    for (const auto &c : cases) {
        char word[2][8] = {"old", "next"};
        EXPECT_EQ(sscanf_s(c.text, c.format, word[0], c.size[0], word[1], c.size[1]), c.result)
            << c.text << " | " << c.format;
        EXPECT_STREQ(word[0], c.want[0]) << c.text << " | " << c.format;
        EXPECT_STREQ(word[1], c.want[1]) << c.text << " | " << c.format;
    }
    char letters[8] = "";
    char rest[8] = "";
    unsigned v = 0;
    EXPECT_EQ(sscanf_s("abc123]x", "%[a-z]%u%[]x]", letters, 8u, &v, rest, 8u), 3);
    EXPECT_EQ(std::string(letters) + std::to_string(v) + rest, "abc123]x");
    EXPECT_EQ(sscanf_s("", "%%%u %s", &v, letters, 8u), -1);  // the first conversion is a number
    EXPECT_STREQ(letters, "abc");
}

TEST(SscanfSRules, ResultAtEndOfInputAndOnFailures)
{
    unsigned a = 0, b = 0;
    char word[8];
    EXPECT_EQ(sscanf_s("12", "%u %u", &a, &b), 1);
    EXPECT_EQ(sscanf_s("abc", "abc%u", &a), 0);  // a literal matched
    EXPECT_EQ(sscanf_s("ab", "abc%u", &a), 0);
    EXPECT_EQ(sscanf_s(" ", " %u", &a), -1);
    EXPECT_EQ(sscanf_s("12-34", "%u:%u", &a, &b), 1);  // literal mismatch
    EXPECT_EQ(sscanf_s("5% 6", "%u %% %u", &a, &b), 2);
    EXPECT_EQ(sscanf_s("5 %7", "%u%%%u", &a, &b), 2);  // %% skips space too
    EXPECT_EQ(b, 7u);
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

// Each op is one scanf_s call on stdin reading `input`: 's' is "%s" with
// size 512, 'u' is "%u". Reports "result:value|" per call, then the code of
// the next character left unread.
std::string scan_stdin(const std::string &input, const char *ops)
{
    FILE *file = tmpfile();
    EXPECT_EQ(fwrite(input.data(), 1, input.size(), file), input.size());
    rewind(file);
    FILE *const saved = stdin;
    stdin = file;
    std::string report;
    for (const char *op = ops; *op != '\0'; ++op) {
        char word[512] = "untouched";
        unsigned value = 0;
        const int32_t result = *op == 's' ? scanf_s("%s", word, 512u) : scanf_s("%u", &value);
        report += std::to_string(result) + ":" + (*op == 's' ? word : std::to_string(value)) + "|";
    }
    report += std::to_string(fgetc(stdin));
    stdin = saved;
    fclose(file);
    return report;
}

TEST(ScanfS, ReadsOneFieldPerCallAndLeavesTheRestOfTheLine)
{
    const std::string a511(511, 'a');
    const struct {
        std::string input;
        const char *ops;
        std::string report;
    } cases[] = {
        {"yes agree\n", "sss", "1:yes|1:agree|-1:untouched|-1"},
        {"yes agree\n", "s", "1:yes|32"},
        {"yes\n", "s", "1:yes|10"},
        {"", "s", "-1:untouched|-1"},
        {" \n\t", "s", "-1:untouched|-1"},
        {a511 + "Z rest\n", "sss", "0:|1:Z|1:rest|10"},  // overlong: emptied, its rest left
        {a511, "s", "1:" + a511 + "|-1"},
        {"  42x", "u", "1:42|120"},  // a number pushes back the character after it
        {"abc", "u", "0:0|97"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(scan_stdin(c.input, c.ops), c.report) << c.input.substr(0, 20) << " " << c.ops;
    }
    EXPECT_EQ(scanf_s(nullptr), -1);
}

}  // namespace
