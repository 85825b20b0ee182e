// The device selected on the command line; every request to the driver
// carries a copy of it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t DEVICE_NAME_SIZE = 16;  // at most 15 characters and a NUL

struct DeviceTarget {
    int32_t id;  // -1 until a name is parsed, then 0
    char name[DEVICE_NAME_SIZE];
};

extern DeviceTarget g_device_target;

int32_t parse_device_name(const char *name, DeviceTarget *target);
bool has_prefix(const char *text, const char *prefix);
int32_t copy_other_device_name(const char *name, DeviceTarget *target);
int32_t init_device_id(const char *name, DeviceTarget *target);
