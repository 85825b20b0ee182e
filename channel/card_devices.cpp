#include "channel/card_devices.h"

#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bounded/status.h"

bool is_card_device(const char *name)
{
    char path[PATH_MAX];
    char target[PATH_MAX] = {};
    snprintf(path, sizeof(path), "%s/%s/device/driver", NET_DEVICES, name);
    return device_name_fits(name) && readlink(path, target, sizeof(target) - 1) > 0 &&
           strcmp(basename(target), CARD_DRIVER) == 0;
}

int32_t find_card_devices(CardDevices *devices)
{
    DIR *folder = opendir(NET_DEVICES);
    if (folder == nullptr) {
        return STATUS_FAILED;
    }
    *devices = CardDevices{};
    for (const dirent *entry = readdir(folder); entry != nullptr; entry = readdir(folder)) {
        if (!is_card_device(entry->d_name)) {
            continue;
        }
        if (devices->count == CARD_DEVICES_MOST) {
            devices->more = true;
            break;
        }
        memcpy(devices->names[devices->count++], entry->d_name, DEVICE_NAME_SIZE);
    }
    closedir(folder);
    qsort(devices->names, devices->count, sizeof(devices->names[0]),
          [](const void *left, const void *right) {
              return strcmp(static_cast<const char *>(left), static_cast<const char *>(right));
          });
    return 0;
}
