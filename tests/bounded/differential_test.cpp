// The bounded functions against glibc on generated in-range inputs, where
// both follow the standard rules.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

constexpr int CASES = 5000;
constexpr unsigned WORD_SIZE = 128;

// sscanf_s with three destinations; the words (%s) take their size after them.
int sscanf_s_three(const char *text, const char *format, void *const p[3], const bool word[3])
{
    const unsigned n = WORD_SIZE;
    switch (word[0] | word[1] << 1 | word[2] << 2) {
        case 0:
            return sscanf_s(text, format, p[0], p[1], p[2]);
        case 1:
            return sscanf_s(text, format, p[0], n, p[1], p[2]);
        case 2:
            return sscanf_s(text, format, p[0], p[1], n, p[2]);
        case 3:
            return sscanf_s(text, format, p[0], n, p[1], n, p[2]);
        case 4:
            return sscanf_s(text, format, p[0], p[1], p[2], n);
        case 5:
            return sscanf_s(text, format, p[0], n, p[1], p[2], n);
        case 6:
            return sscanf_s(text, format, p[0], p[1], n, p[2], n);
        default:
            return sscanf_s(text, format, p[0], n, p[1], n, p[2], n);
    }
}

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    uint32_t any32() { return static_cast<uint32_t>(rng_()) >> below(32); }

    std::string pick(const char *chars, uint32_t most, uint32_t least = 0)
    {
        std::string s;
        for (uint32_t n = least + below(most - least + 1); n > 0; n--) {
            s += chars[below(static_cast<uint32_t>(strlen(chars)))];
        }
        return s;
    }
    std::string spaces() { return pick(" \t\n", 2); }
    std::string word() { return pick("abcdefghijklmnopqrstuvwxyzABCXYZ0123456789_./", 20, 1); }

    // A field of a scan, in range for its conversion ('u', 'x', 'd' or 's'):
    // sometimes a sign or prefix, sometimes a width that cuts it.
    std::string field(char kind, std::string *directive)
    {
        static const char *const FORMS[] = {"%u",   "-%u", "%x", "%X", "0x%x",
                                            "0X%X", "-%x", "%d", "+%d"};
        char text[32];
        if (kind == 's') {
            snprintf(text, sizeof text, "%s", word().c_str());
        } else if (kind == 'd') {
            const auto v = static_cast<int32_t>(any32());
            snprintf(text, sizeof text, FORMS[v >= 0 && chance(20) ? 8 : 7], v);
        } else {
            snprintf(text, sizeof text, FORMS[kind == 'u' ? chance(10) : 2 + below(5)], any32());
        }
        *directive = "%";
        if (chance(15)) {
            *directive += std::to_string(1 + below(static_cast<uint32_t>(strlen(text))));
        }
        *directive += kind;
        return text;
    }

private:
    std::mt19937 rng_;
};

TEST(DifferentialScan, AgreesWithGlibcOnInRangeFields)
{
    Generator gen(20261206);
    static const char *const LITERALS[] = {"", " ", ":", "-", ",", " = ", "\t", "key"};
    for (int n = 0; n < CASES; n++) {
        std::string format = gen.spaces();
        std::string text = gen.spaces();
        struct {
            uint32_t number[3];
            char word[3][WORD_SIZE];
        } mine, theirs;
        memset(&mine, 0x5A, sizeof mine);
        memset(&theirs, 0x5A, sizeof theirs);
        bool word[3];
        void *destination[3];
        void *reference[3];
        for (int i = 0; i < 3; i++) {
            const char kind = "udxs"[gen.below(4)];
            word[i] = kind == 's';
            destination[i] = word[i] ? static_cast<void *>(mine.word[i]) : &mine.number[i];
            reference[i] = word[i] ? static_cast<void *>(theirs.word[i]) : &theirs.number[i];
            std::string directive;
            const std::string input = gen.field(kind, &directive);
            const std::string literal = LITERALS[gen.below(8)];
            format += directive + literal;
            // Sometimes a matching failure before the field or a mistyped
            // literal. A string field before a non-space literal takes it,
            // as in both engines; a space keeps neighbouring fields apart.
            text += gen.spaces() + (gen.chance(3) ? "q" : "") + input;
            text += gen.chance(3) ? std::string("!") : literal;
            text += literal.empty() ? " " : "";
        }
        const int expected =
            sscanf(text.c_str(), format.c_str(), reference[0], reference[1], reference[2]);
        const int got = sscanf_s_three(text.c_str(), format.c_str(), destination, word);
        ASSERT_EQ(got, expected) << "text \"" << text << "\" format \"" << format << "\"";
        ASSERT_EQ(memcmp(&mine, &theirs, sizeof mine), 0)
            << "text \"" << text << "\" format \"" << format << "\"";
    }
}

// Output that fits gives glibc's text; one that does not is emptied, or cut
// at count characters when count is below the destination size.
template <typename... Args>
void check_print(Generator &gen, const char *format, Args... args)
{
    char reference[1024];
    const int length = snprintf(reference, sizeof reference, format, args...);
    ASSERT_GE(length, 0);
    const auto destMax =
        static_cast<size_t>(std::max(1, length - 2 + static_cast<int>(gen.below(5))));
    char dest[1024];
    const bool fits = static_cast<size_t>(length) < destMax;
    ASSERT_EQ(sprintf_s(dest, destMax, format, args...), fits ? length : -1) << format;
    ASSERT_STREQ(dest, fits ? reference : "");

    const size_t count = gen.below(static_cast<uint32_t>(length) + 2);
    const bool whole = static_cast<size_t>(length) <= count;
    ASSERT_EQ(snprintf_s(dest, sizeof dest, count, format, args...), whole ? length : -1) << format;
    ASSERT_EQ(std::string(dest),
              std::string(reference, whole ? static_cast<size_t>(length) : count));
}

TEST(DifferentialPrint, AgreesWithGlibcOnTheFormatsInUse)
{
    Generator gen(7);
    for (int n = 0; n < CASES / 5; n++) {
        const std::string a = gen.word();
        const std::string b = gen.word();
        int v[6];
        for (int &x : v) {
            x = static_cast<int>(gen.any32());
        }
        check_print(gen, "%s%02u", a.c_str(), gen.any32() % 120);
        check_print(gen, "[%d-%02d-%02d %02d:%02d:%02d] ", v[0], v[1] % 13, v[2] % 32, v[3] % 24,
                    v[4] % 60, v[5] % 60);
        check_print(gen, "[%02d:%02d:%02d] ", v[1], v[2], v[3]);
        check_print(gen, "[%s<%d>].", a.c_str(), v[4]);
        check_print(gen, "%s/%s", a.c_str(), b.c_str());
        check_print(gen, "%s%s%s", a.c_str(), b.c_str(), "\r\n");
    }
}

}  // namespace
