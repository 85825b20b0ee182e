// Command line, prompts, signals and the two flows of the tool.
#pragma once

#include <cstdint>

#include "template/resource_template.h"

extern ResourceTemplate g_config;

int32_t check_args(int argc, const char *const argv[]);
void print_usage();
int32_t create_fwlog_dir(const char *path);
void install_signal_handlers();
void hold_signals();
[[noreturn]] void exit_on_signal(int signal_number);
int32_t display_config();
// `status` of a request to the driver, after the lines that tell of a tool
// device that could not be opened.
int32_t print_open_failure(int32_t status);
int32_t confirm_operation();
bool str_equal(const char *left, const char *right);
