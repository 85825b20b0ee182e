// Turns the first argument into the DeviceTarget carried by every request.
// Only the length is checked: the driver is the one that knows the devices.
#include <cstdio>
#include <cstring>

#include "bounded/status.h"
#include "tool/device_name.h"

DeviceTarget g_device_target{};

int32_t parse_device_name(const char *name, DeviceTarget *target)
{
    if (name == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    if (!device_name_fits(name)) {
        puts("Input parameter of device name is too long.");
        return STATUS_NAME_TOO_LONG;
    }
    memcpy(target->name, name, strlen(name) + 1);
    target->id = 0;
    return 0;
}
