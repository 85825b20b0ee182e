// The program's key table, row by row, against the key list in keys.txt.
#include <gtest/gtest.h>

#include <cstring>
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
        std::string name, section, kind, bound, display;
        uint32_t offset = 0, width = 0, count = 0, mode = 0;
        words >> name >> section >> kind >> bound >> offset >> width >> count >> std::hex >> mode >>
            display;
        ASSERT_LT(row, TEMPLATE_KEY_COUNT) << line;
        const TemplateKey &key = TEMPLATE_KEYS[row++];
        SCOPED_TRACE(line);
        EXPECT_EQ(key.name, name);
        EXPECT_EQ(section_name(key.section), section);
        EXPECT_EQ(key.kind, kind == "version"    ? KEY_VERSION
                            : kind == "text"     ? KEY_TEXT
                            : kind == "card"     ? KEY_CARD_ID
                            : kind == "checksum" ? KEY_CHECKSUM
                                                 : KEY_NUMBER);
        if (bound != "-") {
            EXPECT_EQ(key.bound, bound == "any" ? 0xFFFFFFFFu : std::stoul(bound));
        }
        if (display != "-") {
            EXPECT_EQ(key.format, display == "hex" ? SHOW_HEX : SHOW_DEC);
        }
        EXPECT_EQ(key.offset, offset);
        EXPECT_EQ(key.width, width);
        EXPECT_EQ(key.count, count);
        EXPECT_EQ(key.mode_bit, mode);
    }
    EXPECT_EQ(row, TEMPLATE_KEY_COUNT);
}

// Names as a file writes them: the base name, and two digits for a
// per-PF key; anything else names no key.
TEST(KeyTable, NamesAreFormattedAndReadBack)
{
    struct Case {
        const char *name;
        const char *key;  // nullptr: no key has the name
        uint32_t element;
    } cases[] = {
        {"VERSION", "VERSION", 0},
        {"HN", "HN", 0},
        {"QNP00", "QNP", 0},
        {"QNP15", "QNP", 15},
        {"O256QVN15", "O256QVN", 15},
        {"METADATA", "METADATA", 0},
        {"MODENAME", "MODENAME", 0},
        {"QNP5", nullptr, 0},
        {"QNP16", nullptr, 0},
        {"QNP015", nullptr, 0},
        {"HN00", nullptr, 0},
        {"hn", nullptr, 0},
        {"QNP", nullptr, 0},
        {"QNPx5", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        size_t row = TEMPLATE_KEY_COUNT;
        uint32_t element = 99;
        const size_t slot = parse_key_name(c.name, strlen(c.name), &row, &element);
        if (c.key == nullptr) {
            EXPECT_EQ(slot, KEY_SLOT_COUNT);
            continue;
        }
        ASSERT_LT(slot, KEY_SLOT_COUNT);
        EXPECT_STREQ(TEMPLATE_KEYS[row].name, c.key);
        EXPECT_EQ(element, c.element);
        EXPECT_STREQ(key_name(slot), c.name);
    }
}

}  // namespace
