// The request record, without a driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "channel/tool_message.h"

namespace {

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
