// The five commands. Each returns the program's exit status.
#pragma once

#include <cstdint>

constexpr const char *DEFAULT_DRIVER_VERSION = "1.4.3.0";
constexpr uint32_t DEFAULT_ARM_MINUTES = 10;

struct CommandOptions {
    bool json;
    bool running;  // diff --running: what the card runs against what it holds
    bool pci_id_given;
    uint32_t pci_id;
    const char *driver_version = DEFAULT_DRIVER_VERSION;  // the stand-in driver's version text
    const char *output;  // export -o FILE, nullptr for standard output
    const char *file;
    uint32_t minutes = DEFAULT_ARM_MINUTES;  // arm --within
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
