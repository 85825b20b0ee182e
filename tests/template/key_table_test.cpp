// Key names as a file writes them, read back, from names.txt.
#include <gtest/gtest.h>

#include <cstring>

#include "template/template_keys.h"
#include "tests/template/case_text.h"

namespace {

TEST(KeyTable, NamesAreFormattedAndReadBack)
{
    for (const zorvitest::CaseLine &line : zorvitest::case_table(ZORVI_KEY_NAMES)) {
        SCOPED_TRACE(zorvitest::trace(ZORVI_KEY_NAMES, line));
        const std::string &name = line.words.at(0);
        size_t row = TEMPLATE_KEY_COUNT;
        uint32_t element = 99;
        const size_t slot = parse_key_name(name.c_str(), name.size(), &row, &element);
        if (line.words.at(1) == "-") {
            EXPECT_EQ(slot, KEY_SLOT_COUNT);
            continue;
        }
        ASSERT_LT(slot, KEY_SLOT_COUNT);
        EXPECT_EQ(TEMPLATE_KEYS[row].name, line.words[1]);
        EXPECT_EQ(element, std::stoul(line.words.at(2)));
        EXPECT_EQ(key_name(slot), name);
    }
}

}  // namespace
