// The bounded functions against glibc on generated in-range inputs, where
// both follow the standard rules.
#include "bounded/bounded.h"

#include "tests/bounded/scan_call.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

constexpr int CASES = 5000;
constexpr unsigned WORD_SIZE = 128;

// One conversion of a generated scan: its directive and its input text.
struct Field {
    char kind;  // 'u', 'x', 'd' or 's'
    std::string directive;
    std::string text;
};

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    uint32_t any32() { return static_cast<uint32_t>(rng_()); }

    std::string spaces()
    {
        static const char SPACE[] = " \t\n";
        std::string s;
        for (uint32_t n = below(3); n > 0; n--) {
            s += SPACE[below(3)];
        }
        return s;
    }

    std::string word()
    {
        static const char CHARS[] = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789_./";
        std::string s;
        for (uint32_t n = 1 + below(20); n > 0; n--) {
            s += CHARS[below(sizeof CHARS - 1)];
        }
        return s;
    }

    // A number in range for the conversion, sometimes with a sign, prefix
    // or a width that cuts it.
    Field number(char kind)
    {
        Field f{kind, "%", ""};
        char text[32];
        if (kind == 'd') {
            auto v = static_cast<int32_t>(any32() >> below(32));
            snprintf(text, sizeof text, chance(20) && v >= 0 ? "+%d" : "%d", v);
        } else if (kind == 'x') {
            static const char *const HEX[] = {"%x", "%X", "0x%x", "0X%X", "-%x"};
            snprintf(text, sizeof text, HEX[below(5)], any32() >> below(32));
        } else {
            snprintf(text, sizeof text, chance(10) ? "-%u" : "%u", any32() >> below(32));
        }
        f.text = text;
        if (chance(15)) {
            f.directive += std::to_string(1 + below(static_cast<uint32_t>(f.text.size())));
        }
        f.directive += kind;
        return f;
    }

    Field string_field()
    {
        Field f{'s', "%", word()};
        if (chance(15)) {
            f.directive += std::to_string(1 + below(static_cast<uint32_t>(f.text.size())));
        }
        f.directive += 's';
        return f;
    }

private:
    std::mt19937 rng_;
};

struct Slots {
    uint32_t number[3];
    char word[3][WORD_SIZE];
};

int call_bounded(const char *text, const char *format, const Field *fields, Slots *s)
{
    ScanSlot slots[3];
    for (int i = 0; i < 3; i++) {
        bool isWord = fields[i].kind == 's';
        slots[i] = {isWord ? static_cast<void *>(s->word[i]) : &s->number[i], isWord, WORD_SIZE};
    }
    return sscanf_s_three(text, format, slots);
}

void fill_slots(Slots *s)
{
    memset(s, 0x5A, sizeof *s);
}

TEST(DifferentialScan, AgreesWithGlibcOnInRangeFields)
{
    Generator gen(20261206);
    static const char *const LITERALS[] = {"", " ", ":", "-", ",", " = ", "\t", "key"};
    for (int n = 0; n < CASES; n++) {
        Field fields[3];
        std::string format = gen.spaces();
        std::string text = gen.spaces();
        for (Field &f : fields) {
            uint32_t pick = gen.below(4);
            f = pick == 3 ? gen.string_field() : gen.number("udx"[pick]);
            std::string literal = LITERALS[gen.below(8)];
            format += f.directive + literal;
            std::string input = f.text;
            if (gen.chance(3)) {
                input = "q" + input;  // a matching failure here
            }
            text += gen.spaces() + input;
            // Literal text in the input, sometimes mistyped. A string
            // field before a non-space literal takes it, as in both engines.
            text += gen.chance(3) ? std::string("!") : literal;
            if (literal.empty()) {
                text += ' ';  // keep neighbouring fields apart
            }
        }
        Slots mine, theirs;
        fill_slots(&mine);
        fill_slots(&theirs);
        int expected = sscanf(text.c_str(), format.c_str(), fields[0].kind == 's' ? static_cast<void *>(theirs.word[0]) : &theirs.number[0],
                              fields[1].kind == 's' ? static_cast<void *>(theirs.word[1]) : &theirs.number[1],
                              fields[2].kind == 's' ? static_cast<void *>(theirs.word[2]) : &theirs.number[2]);
        int got = call_bounded(text.c_str(), format.c_str(), fields, &mine);
        ASSERT_EQ(got, expected) << "text \"" << text << "\" format \"" << format << "\"";
        ASSERT_EQ(memcmp(&mine, &theirs, sizeof mine), 0) << "text \"" << text << "\" format \"" << format << "\"";
    }
}

// Output that fits gives glibc's text; one that does not is emptied, or cut
// at count characters when count is below the destination size.
template <typename... Args>
void check_print(Generator &gen, const char *format, Args... args)
{
    char reference[1024];
    int length = snprintf(reference, sizeof reference, format, args...);
    ASSERT_GE(length, 0);
    auto destMax = static_cast<size_t>(std::max(1, length - 2 + static_cast<int>(gen.below(5))));
    char dest[1024];
    int32_t got = sprintf_s(dest, destMax, format, args...);
    if (static_cast<size_t>(length) < destMax) {
        ASSERT_EQ(got, length) << format;
        ASSERT_STREQ(dest, reference);
    } else {
        ASSERT_EQ(got, -1) << format;
        ASSERT_STREQ(dest, "");
    }
    size_t count = gen.below(static_cast<uint32_t>(length) + 2);
    got = snprintf_s(dest, sizeof dest, count, format, args...);
    if (static_cast<size_t>(length) <= count) {
        ASSERT_EQ(got, length) << format;
        ASSERT_STREQ(dest, reference);
    } else {
        ASSERT_EQ(got, -1) << format;
        ASSERT_EQ(std::string(dest), std::string(reference, count));
    }
}

TEST(DifferentialPrint, AgreesWithGlibcOnTheFormatsInUse)
{
    Generator gen(7);
    for (int n = 0; n < CASES / 5; n++) {
        std::string a = gen.word();
        std::string b = gen.word();
        int v[6];
        for (int &x : v) {
            x = static_cast<int>(gen.any32() >> gen.below(32));
        }
        check_print(gen, "%s%02u", a.c_str(), gen.any32() % 120);
        check_print(gen, "[%d-%02d-%02d %02d:%02d:%02d] ", v[0], v[1] % 13, v[2] % 32, v[3] % 24, v[4] % 60, v[5] % 60);
        check_print(gen, "[%02d:%02d:%02d] ", v[1], v[2], v[3]);
        check_print(gen, "[%s<%d>].", a.c_str(), v[4]);
        check_print(gen, "%s/%s", a.c_str(), b.c_str());
        check_print(gen, "%s%s%s", a.c_str(), b.c_str(), "\r\n");
    }
}

}  // namespace
