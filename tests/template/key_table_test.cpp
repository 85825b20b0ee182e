// The program's key table, row by row, against the key list in keys.txt.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "template/template_keys.h"

namespace {

TEST(KeyTable, EveryRowIsTheKeyList)
{
    std::ifstream list(ZORVI_KEY_LIST);
    ASSERT_TRUE(list.is_open());
    size_t row = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        std::string name, section, bound, display;
        uint32_t offset = 0, width = 0, count = 0, mode = 0;
        words >> name >> section >> bound >> offset >> width >> count >> std::hex >> mode >>
            display;
        ASSERT_LT(row, TEMPLATE_KEY_COUNT) << line;
        const TemplateKey &key = TEMPLATE_KEYS[row++];
        SCOPED_TRACE(line);
        EXPECT_EQ(key.name, name);
        EXPECT_EQ(section_name(key.section), section);
        EXPECT_EQ(key.kind, bound == "text"   ? KEY_TEXT
                            : bound == "card" ? KEY_CARD_ID
                                              : KEY_NUMBER);
        if (key.kind == KEY_NUMBER) {
            EXPECT_EQ(key.bound, bound == "any" ? 0xFFFFFFFFu : std::stoul(bound));
            EXPECT_EQ(key.format, display == "hex" ? SHOW_HEX : SHOW_DEC);
        }
        EXPECT_EQ(key.offset, offset);
        EXPECT_EQ(key.width, width);
        EXPECT_EQ(key.count, count);
        EXPECT_EQ(key.mode_bit, mode);
    }
    EXPECT_EQ(row, TEMPLATE_KEY_COUNT);
}

}  // namespace
