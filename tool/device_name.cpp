// Turns the first argument into the DeviceTarget carried by every request.
// Only the length is checked: the driver is the one that knows the devices.
#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"
#include "tool/device_name.h"

DeviceTarget g_device_target{};

namespace {

constexpr const char *DRIVER_PREFIX = "zorvi";

bool has_prefix(const char *text, const char *prefix)
{
    // A shorter text meets its NUL before the prefix ends and mismatches there.
    return text != nullptr && prefix != nullptr && strncmp(text, prefix, strlen(prefix)) == 0;
}

int32_t init_device_id(DeviceTarget *target)
{
    target->id = 0;
    return 0;
}

// The length check and copy both paths share.
int32_t copy_device_name(const char *name, DeviceTarget *target)
{
    if (!device_name_fits(name)) {
        puts("Input parameter of device name is too long.");
        return STATUS_NAME_TOO_LONG;
    }
    memcpy(target->name, name, strlen(name) + 1);
    return init_device_id(target);
}

int32_t copy_other_device_name(const char *name, DeviceTarget *target)
{
    return name == nullptr ? STATUS_BAD_ARGUMENT : copy_device_name(name, target);
}

}  // namespace

int32_t parse_device_name(const char *name, DeviceTarget *target)
{
    if (!has_prefix(name, DRIVER_PREFIX)) {
        return copy_other_device_name(name, target);
    }
    return copy_device_name(name, target);
}
