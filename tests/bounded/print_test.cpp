// sprintf_s and snprintf_s, rule by rule from the case table in print_cases.txt.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/template/case_text.h"

namespace {

TEST(PrintS, EveryCaseOfTheTable)
{
    zorvitest::each_row(ZORVI_PRINT_CASES, [](const std::vector<std::string> &w) {
        ASSERT_EQ(w.size(), 7u);
        char buf[1024] = "old";
        char *dest = w[0] == "null" ? nullptr : buf;
        const size_t destMax = std::stoul(w[1]);
        const char *format = w[3] == "null" ? nullptr : w[3].c_str();
        const int32_t result =
            w[2] == "-" ? sprintf_s(dest, destMax, format, w[4].c_str(), 7u)
                        : snprintf_s(dest, destMax, std::stoul(w[2]), format, w[4].c_str(), 7u);
        EXPECT_EQ(result, std::stoi(w[5]));
        EXPECT_EQ(std::string(buf), w[6]);
    });
}

}  // namespace
