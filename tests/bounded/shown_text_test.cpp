// show_text, rule by rule from the case table in shown_cases.txt.
#include "bounded/shown_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/template/case_text.h"

namespace {

TEST(ShownText, EveryCaseOfTheTable)
{
    zorvitest::each_row(ZORVI_SHOWN_CASES, [](const std::vector<std::string> &words) {
        ASSERT_EQ(words.size(), 5u);
        const std::string &text = words[1];
        const bool no_buffer = words[2] == "null";
        const size_t size = no_buffer ? 8 : std::stoul(words[2]);
        std::string out(size + 8, 'Q');
        const int32_t got = show_text(text == "null" ? nullptr : text.data(), text.size(),
                                      no_buffer ? nullptr : out.data(), size,
                                      words[0].starts_with("C1") ? SHOW_C0_C1 : SHOW_C0,
                                      words[0].ends_with("/cut") ? SHOW_CUT : SHOW_WHOLE);
        EXPECT_EQ(got, std::stoi(words[3]));
        EXPECT_EQ(std::string(out.c_str()), words[4]);
        EXPECT_EQ(out.substr(size), std::string(8, 'Q'));  // nothing past it
    });
}

}  // namespace
