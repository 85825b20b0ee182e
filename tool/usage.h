// The command line's two forms, the usage text that shows them, and the
// exact comparison of options and answers.
#pragma once

#include <cstdint>

// 0 when the command line has one of the two forms; else the usage text and
// -1.
int32_t check_args(int argc, const char *const argv[]);
void print_usage();
// True when both are present and equal byte for byte.
bool str_equal(const char *left, const char *right);
