// Turns the first argument into the DeviceTarget carried by every request.
// Only the length is checked: the driver is the one that knows the devices.
#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"
#include "tool/device_name.h"

DeviceTarget g_device_target{};

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

namespace {

constexpr const char *DRIVER_PREFIX = "zorvi";

// The length check and copy both paths share; only the wording of a failed
// copy tells them apart.
int32_t copy_device_name(const char *name, DeviceTarget *target, const char *copy_failed)
{
    if (!device_name_fits(name)) {
        puts("Input parameter of device name is too long.");
        return STATUS_NAME_TOO_LONG;
    }
    int32_t ret = strncpy_s(target->name, DEVICE_NAME_SIZE, name, strlen(name));
    if (ret != 0) {
        printf("%s: %d.\n", copy_failed, ret);
        return STATUS_FAILED;
    }
    return init_device_id(target);
}

}  // namespace

int32_t copy_other_device_name(const char *name, DeviceTarget *target)
{
    if (name == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    return copy_device_name(name, target, "Copy dev name info failed");
}

int32_t parse_device_name(const char *name, DeviceTarget *target)
{
    if (!has_prefix(name, DRIVER_PREFIX)) {
        return copy_other_device_name(name, target);
    }
    return copy_device_name(name, target, "Copy dev name failed");
}
