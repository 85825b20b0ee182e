#include "tool/usage.h"

#include <cstdio>
#include <cstring>

#include "bounded/status.h"

bool str_equal(const char *left, const char *right)
{
    return left != nullptr && right != nullptr && strcmp(left, right) == 0;
}

void print_usage()
{
    // The tool's fixed name, whatever argv[0] says.
    puts("\nUsage:");
    puts("\tzorviconfig <device, e.g. zorvi0>");
    puts("\t\tDisplay resource configuration");
    putchar('\n');
    puts("\tzorviconfig <device, e.g. zorvi0> -f|--file [template file]");
    puts("\t\tLoad resource configuration template file");
    putchar('\n');
}

int32_t check_args(int argc, const char *const argv[])
{
    // Help is tested before the option, so "-h -f x" is refused too.
    const bool usable = (argc == 2 || argc == 4) && !str_equal(argv[1], "-h") &&
                        !str_equal(argv[1], "--help") &&
                        (argc == 2 || str_equal(argv[2], "-f") || str_equal(argv[2], "--file"));
    if (!usable) {
        print_usage();
        return STATUS_FAILED;
    }
    return 0;
}
