// Turning the first argument into the selected device.
#pragma once

#include <cstdint>

#include "channel/device_target.h"

// The device named on the command line.
extern DeviceTarget g_device_target;

int32_t parse_device_name(const char *name, DeviceTarget *target);
