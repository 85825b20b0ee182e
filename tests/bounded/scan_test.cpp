// sscanf_s and scanf_s, rule by rule from the case table in scan_cases.txt.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bounded/bounded.h"
#include "tests/template/case_text.h"

namespace {

// The destinations of one call: numbers or sized buffers, at most two.
struct Dests {
    std::string kinds;  // 'N' or 'W' per destination
    uint32_t number[2] = {777, 777};
    char word[2][600] = {"old", "old"};
    unsigned size[2] = {};
    bool null[2] = {};  // passed as a null pointer
};

// What the destinations hold, written as the table writes them.
std::string shown(const Dests &d)
{
    std::string out;
    for (size_t i = 0; i < d.kinds.size(); ++i) {
        const std::string held = d.null[i]            ? "null"
                                 : d.kinds[i] == 'W'  ? d.word[i]
                                 : d.number[i] == 777 ? "-"
                                                      : std::to_string(d.number[i]);
        out += (d.kinds[i] == 'W' ? std::to_string(d.size[i]) + ":" : "") + held + ' ';
    }
    return out;
}

int32_t call(bool from_stdin, const char *text, const char *format, Dests &d)
{
    auto scan = [&](auto... args) {
        return from_stdin ? scanf_s(format, args...) : sscanf_s(text, format, args...);
    };
    uint32_t *n[2] = {d.null[0] ? nullptr : &d.number[0], d.null[1] ? nullptr : &d.number[1]};
    char *w[2] = {d.null[0] ? nullptr : d.word[0], d.null[1] ? nullptr : d.word[1]};
    const std::string &k = d.kinds;
    return k == "N"    ? scan(n[0])
           : k == "NN" ? scan(n[0], n[1])
           : k == "W"  ? scan(w[0], d.size[0])
           : k == "WW" ? scan(w[0], d.size[0], w[1], d.size[1])
                       : scan();
}

TEST(Scan, EveryCaseOfTheTable)
{
    FILE *const console = stdin;
    const auto given = [](const std::string &word) {
        return word == "null" ? nullptr : word.c_str();
    };
    zorvitest::each_row(ZORVI_SCAN_CASES, [&](const std::vector<std::string> &words) {
        if (words[0] == "stdin") {
            if (stdin != console) {
                fclose(stdin);
            }
            stdin = tmpfile();
            fputs(words.at(1).c_str(), stdin);
            rewind(stdin);
        } else if (words[0] == "rest") {
            std::string rest;
            for (int c = fgetc(stdin); c != EOF; c = fgetc(stdin)) {
                rest += static_cast<char>(c);
            }
            EXPECT_EQ(rest, words.at(1));
        } else {
            const bool text = words[0] == "sscanf";
            const size_t first = text ? 4 : 3;  // the first DEST
            ASSERT_GE(words.size(), first);
            Dests d;
            std::string expected;
            for (size_t i = first; i < words.size(); ++i) {
                const bool word = words[i].find(':') != std::string::npos;  // SIZE:TEXT
                d.kinds += word ? 'W' : 'N';
                d.size[i - first] = word ? static_cast<unsigned>(std::stoul(words[i])) : 0;
                d.null[i - first] = words[i] == "null" || words[i].ends_with(":null");
                expected += words[i] + ' ';
            }
            const int32_t result = call(!text, given(words[1]), given(words[first - 2]), d);
            EXPECT_EQ(result, std::stoi(words[first - 1]));
            EXPECT_EQ(shown(d), expected);
        }
    });
    if (stdin != console) {
        fclose(stdin);
    }
    stdin = console;
}

}  // namespace
