#include "tool/usage.h"

#include <cstdio>
#include <cstring>

#include "bounded/status.h"

namespace {

// The usage text names the tool by this fixed name, whatever argv[0] says.
constexpr const char *TOOL_NAME = "zorviconfig";

}  // namespace

bool str_equal(const char *left, const char *right)
{
    return left != nullptr && right != nullptr && strcmp(left, right) == 0;
}

void print_usage()
{
    puts("\nUsage:");
    printf("\t%s <device, e.g. zorvi0>\n", TOOL_NAME);
    puts("\t\tDisplay resource configuration");
    putchar('\n');
    printf("\t%s <device, e.g. zorvi0> -f|--file [template file]\n", TOOL_NAME);
    puts("\t\tLoad resource configuration template file");
    putchar('\n');
}

int32_t check_args(int argc, const char *const argv[])
{
    if (argc != 2 && argc != 4) {
        print_usage();
        return STATUS_FAILED;
    }
    // Help is tested before the option, so "-h -f x" is refused too.
    if (str_equal(argv[1], "-h") || str_equal(argv[1], "--help")) {
        print_usage();
        return STATUS_FAILED;
    }
    if (argc == 4 && !str_equal(argv[2], "-f") && !str_equal(argv[2], "--file")) {
        print_usage();
        return STATUS_FAILED;
    }
    return 0;
}
