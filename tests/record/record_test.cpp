// The checksum of the template record: the length it covers, from
// length_cases.txt, and its CRC.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <numeric>
#include <string>

#include "template/identity_check.h"
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

// Expected values from the published check value and, for the longer
// inputs, worked out once with an outside CRC-32/POSIX.
TEST(TemplateCrc32, PublishedValues)
{
    EXPECT_EQ(template_crc32("123456789", 9), 0x765E7680u);
    EXPECT_EQ(template_crc32("a", 1), 0x579B24DFu);
    uint8_t counting[1024];
    std::iota(std::begin(counting), std::end(counting), uint8_t{0});  // 0 to 255, four times
    EXPECT_EQ(template_crc32(counting, sizeof(counting)), 0x6EA993E4u);
    const std::string ones(776, '\xff');
    EXPECT_EQ(template_crc32(ones.data(), 776), 0x7F56FF3Cu);
    // Nothing to cover gives 0, not the checksum of an empty message.
    EXPECT_EQ(template_crc32(counting, 0), 0u);
    EXPECT_EQ(template_crc32(nullptr, 100), 0u);
}

}  // namespace
