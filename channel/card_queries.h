// The two questions asked of the driver before a template is stored.
#pragma once

#include <cstdint>

#include "channel/device_target.h"
#include "channel/tool_message.h"

// Fills the caller's zeroed DRIVER_VERSION_SIZE-byte buffer with the
// driver's version text. Result of send_tool_message. The driver may fill all
// DRIVER_VERSION_SIZE bytes without a terminating NUL: readers of the reply
// must take at most DRIVER_VERSION_SIZE - 1 characters from it.
int32_t get_driver_version(DeviceTarget target, char *version);
// Fills the low 16 bits of the caller's zeroed value with the card's PCI
// device id. Result of send_tool_message.
int32_t get_pci_device_id(DeviceTarget target, uint32_t *device_id);
