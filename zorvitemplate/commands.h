// The five commands. Each returns the program's exit status.
#pragma once

#include <cstdint>

#include "template/identity_check.h"

// What check judges against when neither an option nor the file says: the
// driver this program was made with, the card it is made for.
constexpr CardIdentity DEFAULT_CARD = {{1, 4, 3, 0}, 0x3310};

struct CommandOptions {
    // Switches as getopt sets them: 0 or 1.
    int json;
    int running;  // diff --running: what the card runs against what it holds
    bool pci_id_given;
    uint32_t pci_id;
    const char *driver_version;  // nullptr: DEFAULT_CARD's
    const char *output;          // export -o FILE, nullptr for standard output
    const char *first;           // the first operand: a device, or diff's OLD
    const char *file;            // the last operand, unless a device
    uint32_t minutes = 10;       // arm --within, by default
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
