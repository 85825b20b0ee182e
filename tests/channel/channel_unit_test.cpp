// The checksum and the request record, without a driver.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <numeric>
#include <string>

#include "channel/template_exchange.h"
#include "channel/tool_message.h"

namespace {

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

TEST(FillToolMessage, PadsTheNameOverAnOlderOneOrLeavesTheRecordEmpty)
{
    for (size_t length : {6u, 15u, 16u, 40u}) {
        const std::string name(length, 'a');
        ToolMessage message{};
        std::memset(message.device_name, 'x', sizeof(message.device_name));
        fill_tool_message(&message, 4, 0x16800, 1024, 1024, name.c_str(), 0);
        if (length < sizeof(message.device_name)) {  // room for the terminator
            EXPECT_EQ(std::string(message.device_name, sizeof(message.device_name)),
                      name + std::string(16 - length, '\0'));
            EXPECT_EQ(message.module, 4u);
        } else {
            const ToolMessage zero{};
            EXPECT_EQ(std::memcmp(&message, &zero, sizeof(message)), 0) << length;
        }
    }
}

}  // namespace
