// The checksum length rule of the template record, from length_cases.txt.
#include <gtest/gtest.h>

#include <cstring>

#include "template/resource_template.h"
#include "tests/template/case_text.h"

namespace {

TEST(TemplateLength, CoversEveryBlockUpToTheHighestModeBit)
{
    zorvitest::each_row(ZORVI_LENGTH_CASES, [](const std::vector<std::string> &words) {
        ResourceTemplate record;
        std::memset(&record, 0xFF, sizeof(record));
        record.mode = static_cast<uint32_t>(std::stoul(words.at(0), nullptr, 16));
        EXPECT_EQ(template_length(&record), std::stoul(words.at(1)));
        EXPECT_EQ(find_last_set(record.mode), std::stoi(words.at(2)));
    });
}

}  // namespace
