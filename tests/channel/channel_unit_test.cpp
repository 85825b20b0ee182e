// The checksum and the request record, without a driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "channel/template_exchange.h"
#include "channel/tool_message.h"

namespace {

// Bit by bit, MSB first: an independent reference for the table-driven code.
uint32_t bitwise_crc32(const uint8_t *data, size_t length)
{
    uint32_t reg = 0;
    for (size_t i = 0; i < length; ++i) {
        reg ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
        }
    }
    return ~reg;
}

TEST(TemplateCrc32, PublishedCheckValue)
{
    EXPECT_EQ(template_crc32("123456789", 9), 0x765E7680u);
}

TEST(TemplateCrc32, NothingToCoverGivesZero)
{
    const uint8_t byte = 0xFF;
    EXPECT_EQ(template_crc32(&byte, 0), 0u);
    EXPECT_EQ(template_crc32(nullptr, 0), 0u);
    EXPECT_EQ(template_crc32(nullptr, 100), 0u);
}

TEST(TemplateCrc32, SingleBytesGiveTheTableEntries)
{
    // A one-byte message b leaves entry b in the register before inversion.
    const uint8_t one = 1;
    const uint8_t all = 255;
    EXPECT_EQ(~template_crc32(&one, 1), 0x04C11DB7u);
    EXPECT_EQ(~template_crc32(&all, 1), 0xB1F740B4u);
}

TEST(TemplateCrc32, AgreesWithBitwiseReferenceOnEveryLength)
{
    std::vector<uint8_t> data(TEMPLATE_SIZE);
    uint32_t seed = 0x12345678;
    for (uint8_t &b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    for (uint32_t length = 1; length <= data.size(); ++length) {
        ASSERT_EQ(template_crc32(data.data(), length), bitwise_crc32(data.data(), length))
            << "length " << length;
    }
}

TEST(FillToolMessage, StoresFieldsAndPadsTheName)
{
    ToolMessage message{};
    int in = 0;
    int out = 0;
    message.in_buf = &in;
    message.out_buf = &out;
    fill_tool_message(&message, 4, 0x16800, 1024, 512, "zorvi0", 7);

    const char expected_name[16] = {'z', 'o', 'r', 'v', 'i', '0'};
    EXPECT_EQ(std::memcmp(message.device_name, expected_name, sizeof(expected_name)), 0);
    EXPECT_EQ(message.module, 4u);
    EXPECT_EQ(message.command, 0x16800u);
    EXPECT_EQ(message.in_size, 1024u);
    EXPECT_EQ(message.out_size, 512u);
    EXPECT_EQ(message.dev_id, 7);
    EXPECT_EQ(message.reserved, 0u);
    EXPECT_EQ(message.in_buf, &in);  // the buffers are the caller's business
    EXPECT_EQ(message.out_buf, &out);
}

TEST(FillToolMessage, OldNameIsWipedBeforeAShorterOne)
{
    ToolMessage message{};
    std::memset(message.device_name, 'x', sizeof(message.device_name));
    fill_tool_message(&message, 2, 16, 4, 128, "eth1", 0);
    const char expected_name[16] = {'e', 't', 'h', '1'};
    EXPECT_EQ(std::memcmp(message.device_name, expected_name, sizeof(expected_name)), 0);
}

TEST(FillToolMessage, NameTooLongForTheFieldIsRefused)
{
    const std::string names[] = {std::string(16, 'a'), std::string(40, 'b')};
    for (const std::string &name : names) {
        ToolMessage message{};
        testing::internal::CaptureStdout();
        fill_tool_message(&message, 4, 0x16800, 1024, 1024, name.c_str(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Copy device name failed!\n");
        const ToolMessage zero{};
        EXPECT_EQ(std::memcmp(&message, &zero, sizeof(message)), 0) << name;
    }
    // Fifteen characters still fit beside the terminator.
    ToolMessage message{};
    fill_tool_message(&message, 4, 0x16800, 1024, 1024, "abcdefghijklmno", 0);
    EXPECT_EQ(std::string(message.device_name), "abcdefghijklmno");
    EXPECT_EQ(message.module, 4u);
}

}  // namespace
