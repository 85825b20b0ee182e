// Device name, string equality, argument check and display details that the
// end-to-end tests cannot reach cheaply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sample_records.h"
#include "tool/device_target.h"
#include "tool/display.h"
#include "tool/front_end.h"

namespace {

struct NameCase {
    const char *name;
    int32_t status;
    const char *output;
};

TEST(DeviceName, AcceptsUpToFifteenCharactersWithOrWithoutPrefix)
{
    const std::string too_long = "Input parameter of device name is too long.\n";
    const NameCase cases[] = {
        {"zorvi0", 0, ""},
        {"zorvi12", 0, ""},
        {"zorvi", 0, ""},
        {"zorvi0123456789", 0, ""},    // 15
        {"eth0", 0, ""},
        {"e1234567890123x", 0, ""},    // 15, no prefix
        {"", 0, ""},
        {"zorvi01234567890", -8, too_long.c_str()},  // 16
        {"eth0123456789012", -8, too_long.c_str()},  // 16, no prefix
        {nullptr, -6, ""},
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.name == nullptr ? "(null)" : c.name);
        DeviceTarget target{};
        target.id = -1;
        testing::internal::CaptureStdout();
        EXPECT_EQ(parse_device_name(c.name, &target), c.status);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        if (c.status == 0) {
            EXPECT_EQ(target.id, 0);
            EXPECT_STREQ(target.name, c.name);
        } else {
            EXPECT_EQ(target.id, -1);
            EXPECT_EQ(target.name[0], '\0');
        }
    }
}

TEST(DeviceName, KeepsBytesAfterTheTerminator)
{
    DeviceTarget target{};
    std::memset(target.name, 'x', DEVICE_NAME_SIZE - 1);
    ASSERT_EQ(parse_device_name("ab", &target), 0);
    EXPECT_EQ(std::string(target.name, DEVICE_NAME_SIZE),
              std::string("ab\0xxxxxxxxxxxx\0", DEVICE_NAME_SIZE));
}

TEST(DeviceName, PrefixTest)
{
    EXPECT_TRUE(has_prefix("zorvi0", "zorvi"));
    EXPECT_TRUE(has_prefix("zorvi", "zorvi"));
    EXPECT_FALSE(has_prefix("zorv", "zorvi"));
    EXPECT_FALSE(has_prefix("Zorvi0", "zorvi"));
    EXPECT_FALSE(has_prefix(nullptr, "zorvi"));
    EXPECT_FALSE(has_prefix("zorvi0", nullptr));
}

TEST(StrEqual, ExactLengthAndBytes)
{
    EXPECT_TRUE(str_equal("yes", "yes"));
    EXPECT_TRUE(str_equal("", ""));
    EXPECT_FALSE(str_equal("yes", "Yes"));
    EXPECT_FALSE(str_equal("yes", "yes!"));
    EXPECT_FALSE(str_equal("yes!", "yes"));
    EXPECT_FALSE(str_equal("ye", "yes"));
    EXPECT_FALSE(str_equal("", nullptr));
    EXPECT_FALSE(str_equal(nullptr, ""));
    EXPECT_FALSE(str_equal(nullptr, nullptr));
}

TEST(CheckArgs, AcceptsTheTwoFormsSilently)
{
    const std::vector<std::vector<const char *>> forms = {
        {"zorviconfig", "zorvi0", nullptr},
        {"zorviconfig", "-f", nullptr},
        {"zorviconfig", "zorvi0", "-f", "t.ini", nullptr},
        {"zorviconfig", "zorvi0", "--file", "-h", nullptr},
    };
    for (const auto &argv : forms) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(check_args(static_cast<int>(argv.size() - 1), argv.data()), 0) << argv[1];
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    const char *empty[] = {nullptr};  // argc 0 from a bare execve
    testing::internal::CaptureStdout();
    EXPECT_EQ(check_args(0, empty), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), tooltest::golden("usage.txt"));
}

std::string modename_line(const ResourceTemplate &record)
{
    testing::internal::CaptureStdout();
    print_basic_config(&record);
    std::string out = testing::internal::GetCapturedStdout();
    size_t start = out.find("\t\tMODENAME: ");
    return start == std::string::npos ? "" : out.substr(start, out.find('\n', start) + 1 - start);
}

TEST(Display, ModeNameNeverPastItsField)
{
    ResourceTemplate record = tooltest::base_record(MODE_MODENAME);
    std::memset(record.MODENAME, 'M', MODENAME_SIZE);  // no terminator
    record.O1QVN[0] = 0x4141;                          // "AA" right behind it
    EXPECT_EQ(modename_line(record), "\t\tMODENAME: " + std::string(32, 'M') + "\n");

    record.MODENAME[31] = '\0';
    EXPECT_EQ(modename_line(record), "\t\tMODENAME: " + std::string(31, 'M') + "\n");

    record.MODENAME[0] = '\0';
    EXPECT_EQ(modename_line(record), "\t\tMODENAME: \n");

    record.mode = 0x7E;  // every block but the name
    EXPECT_EQ(modename_line(record), "");
}

}  // namespace
