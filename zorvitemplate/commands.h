// The five commands. Each returns the program's exit status.
#pragma once

#include <cstdint>

struct CommandOptions {
    // Switches as getopt sets them: 0 or 1.
    int json;
    int running;  // diff --running: what the card runs against what it holds
    bool pci_id_given;
    uint32_t pci_id;
    const char *driver_version = "1.4.3.0";  // the stand-in driver's version text, by default
    const char *output;                      // export -o FILE, nullptr for standard output
    const char *file;
    uint32_t minutes = 10;  // arm --within, by default
};

int run_check(const CommandOptions &options);
int run_seal(const CommandOptions &options);
int run_export(const CommandOptions &options);
int run_diff(const CommandOptions &options);
int run_list(const CommandOptions &options);
int run_boot(const CommandOptions &options);
int run_arm(const CommandOptions &options);
int run_confirm(const CommandOptions &options);
int run_revert(const CommandOptions &options);
