// The checksum and the request record, without a driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "channel/template_exchange.h"
#include "channel/tool_message.h"
#include "tests/harness/test_util.h"

namespace {

TEST(TemplateCrc32, PublishedCheckValue)
{
    EXPECT_EQ(template_crc32("123456789", 9), 0x765E7680u);
}

TEST(TemplateCrc32, AgreesWithBitwiseReferenceOnEveryLength)
{
    std::vector<uint8_t> data(TEMPLATE_SIZE);
    std::mt19937 rng(0x12345678);
    std::generate(data.begin(), data.end(), [&rng] { return static_cast<uint8_t>(rng()); });
    for (uint32_t length = 1; length <= data.size(); ++length) {
        ASSERT_EQ(template_crc32(data.data(), length),
                  zorvitest::reference_crc32(data.data(), length))
            << "length " << length;
    }
    // Nothing to cover gives 0, not the checksum of an empty message.
    EXPECT_EQ(template_crc32(data.data(), 0), 0u);
    EXPECT_EQ(template_crc32(nullptr, 100), 0u);
}

TEST(FillToolMessage, PadsTheNameOverAnOlderOneOrRefusesIt)
{
    for (size_t length : {6u, 15u, 16u, 40u}) {
        const std::string name(length, 'a');
        ToolMessage message{};
        std::memset(message.device_name, 'x', sizeof(message.device_name));
        const std::string out = zorvitest::capture_stdout(
            [&] { fill_tool_message(&message, 4, 0x16800, 1024, 1024, name.c_str(), 0); });
        if (length < sizeof(message.device_name)) {  // room for the terminator
            EXPECT_EQ(out, "");
            EXPECT_EQ(std::string(message.device_name, sizeof(message.device_name)),
                      name + std::string(16 - length, '\0'));
            EXPECT_EQ(message.module, 4u);
        } else {
            EXPECT_EQ(out, "Copy device name failed!\n");
            const ToolMessage zero{};
            EXPECT_EQ(std::memcmp(&message, &zero, sizeof(message)), 0) << length;
        }
    }
}

}  // namespace
