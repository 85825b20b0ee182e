// Turning the first argument into the selected device.
#pragma once

#include <cstdint>

#include "channel/device_target.h"

// The device named on the command line.
extern DeviceTarget g_device_target;

int32_t parse_device_name(const char *name, DeviceTarget *target);
bool has_prefix(const char *text, const char *prefix);
int32_t copy_other_device_name(const char *name, DeviceTarget *target);
int32_t init_device_id(DeviceTarget *target);
