// The zorvi driver's cards as the kernel shows them: network devices in
// /sys/class/net whose device's driver link names zorvi. A virtual device
// such as lo has no driver.
#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/device_target.h"

constexpr const char *NET_DEVICES = "/sys/class/net";
constexpr const char *CARD_DRIVER = "zorvi";
// More ports than a host has room for cards.
constexpr size_t CARD_DEVICES_MOST = 256;

struct CardDevices {
    size_t count;
    bool more;                                        // others beyond CARD_DEVICES_MOST, left out
    char names[CARD_DEVICES_MOST][DEVICE_NAME_SIZE];  // sorted
};

bool is_card_device(const char *name);
// 0, or STATUS_FAILED with errno when the kernel's list cannot be read.
int32_t find_card_devices(CardDevices *devices);
