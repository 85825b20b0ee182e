#include "channel/device_target.h"

DeviceTarget g_device_target{0, "zorvi0"};
