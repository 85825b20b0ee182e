// Key names as a file writes them, read back, from names.txt.
#include <gtest/gtest.h>

#include <cstring>

#include "template/template_keys.h"
#include "tests/template/case_text.h"

namespace {

TEST(KeyTable, NamesAreFormattedAndReadBack)
{
    zorvitest::each_row(ZORVI_KEY_NAMES, [](const std::vector<std::string> &words) {
        const std::string &name = words.at(0);
        size_t row = TEMPLATE_KEY_COUNT;
        uint32_t element = 99;
        const size_t slot = parse_key_name(name.c_str(), name.size(), &row, &element);
        if (words.at(1) == "-") {
            EXPECT_EQ(slot, KEY_SLOT_COUNT);
            return;
        }
        ASSERT_LT(slot, KEY_SLOT_COUNT);
        EXPECT_EQ(TEMPLATE_KEYS[row].name, words[1]);
        EXPECT_EQ(element, std::stoul(words.at(2)));
        EXPECT_EQ(key_name(slot), name);
    });
}

}  // namespace
