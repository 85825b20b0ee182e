// Inputs the command line can never give the front end: a missing argument
// vector, a null device name or answer.
#include <gtest/gtest.h>

#include "tests/harness/test_util.h"
#include "tool/device_name.h"
#include "tool/front_end.h"

namespace {

using zorvitest::capture_stdout;

TEST(FrontEnd, NullInputsAreRefusedWithoutACrash)
{
    DeviceTarget target{};
    target.id = -1;
    int32_t status = 0;
    EXPECT_EQ(capture_stdout([&] { status = parse_device_name(nullptr, &target); }), "");
    EXPECT_EQ(status, -6);
    EXPECT_EQ(target.id, -1);

    EXPECT_FALSE(str_equal("", nullptr));
    EXPECT_FALSE(str_equal(nullptr, ""));
    EXPECT_FALSE(str_equal(nullptr, nullptr));
    EXPECT_TRUE(str_equal("", ""));

    const char *empty[] = {nullptr};  // argc 0 from a bare execve
    const std::string usage = zorvitest::read_file(std::string(ZORVI_GOLDEN_DIR) + "/usage.txt");
    EXPECT_EQ(capture_stdout([&] { status = check_args(0, empty); }), usage);
    EXPECT_EQ(status, -1);
}

}  // namespace
