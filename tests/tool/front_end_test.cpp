// Inputs the command line can never give the front end: a missing argument
// vector, a null device name or answer.
#include <gtest/gtest.h>

#include "tests/harness/test_util.h"
#include "tool/device_name.h"
#include "tool/usage.h"

namespace {

using zorvitest::status_and_output;

TEST(FrontEnd, NullInputsAreRefusedWithoutACrash)
{
    DeviceTarget target{};
    target.id = -1;
    EXPECT_EQ(status_and_output([&] { return parse_device_name(nullptr, &target); }), "-6|");
    EXPECT_EQ(target.id, -1);

    EXPECT_FALSE(str_equal("", nullptr));
    EXPECT_FALSE(str_equal(nullptr, ""));
    EXPECT_FALSE(str_equal(nullptr, nullptr));
    EXPECT_TRUE(str_equal("", ""));

    const char *empty[] = {nullptr};  // argc 0 from a bare execve
    const std::string usage = zorvitest::read_file(std::string(ZORVI_GOLDEN_DIR) + "/usage.txt");
    EXPECT_EQ(status_and_output([&] { return check_args(0, empty); }), "-1|" + usage);
}

}  // namespace
