// The device selected on the command line. Every request to the driver
// carries a copy of it, so its type lives with the requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr size_t DEVICE_NAME_SIZE = 16;  // at most 15 characters and a NUL

struct DeviceTarget {
    int32_t id;  // -1 until a name is parsed, then 0
    char name[DEVICE_NAME_SIZE];
};

// A name a request can carry; looked at no further than one byte past it.
inline bool device_name_fits(const char *name)
{
    return strnlen(name, DEVICE_NAME_SIZE) < DEVICE_NAME_SIZE;
}
