// show_text, rule by rule from the case table in shown_cases.txt.
#include "bounded/shown_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/template/case_text.h"

namespace {

TEST(ShownText, EveryCaseOfTheTable)
{
    const std::string table = std::string(ZORVI_SHOWN_CASES);
    int cases = 0;
    for (const zorvitest::CaseLine &line : zorvitest::case_table(table)) {
        const std::vector<std::string> &words = line.words;
        SCOPED_TRACE(zorvitest::trace(table, line));
        ASSERT_EQ(words.size(), 5u);
        const std::string &text = words[1];
        const size_t size = std::stoul(words[2]);
        std::vector<char> out(size + 8, 'Q');
        const int32_t got = show_text(text.data(), text.size(), out.data(), size,
                                      words[0].starts_with("C1") ? SHOW_C0_C1 : SHOW_C0,
                                      words[0].ends_with("/cut") ? SHOW_CUT : SHOW_WHOLE);
        EXPECT_EQ(got, std::stoi(words[3]));
        EXPECT_EQ(std::string(out.data()), words[4]);
        EXPECT_EQ(std::string(out.data() + size, 8), std::string(8, 'Q'));  // nothing past it
        ++cases;
    }
    EXPECT_EQ(cases, 30);
}

TEST(ShownText, MissingTextOrBufferIsRefused)
{
    char out[8] = "old";
    EXPECT_EQ(show_text(nullptr, 1, out, sizeof(out), SHOW_C0), -1);
    EXPECT_EQ(std::string(out), "");
    EXPECT_EQ(show_text("a", 1, nullptr, 8, SHOW_C0), -1);
    EXPECT_EQ(show_text("a", 1, out, 0, SHOW_C0), -1);
}

}  // namespace
