// Checks that a parsed template fits the card: driver version, PCI device id
// and the METADATA checksum. Reads the global g_device_target.
#pragma once

#include <cstdint>

#include "template/resource_template.h"

constexpr uint32_t DRIVER_VERSION_PARTS = 4;

int32_t check_template_identity(const char *path, ResourceTemplate *record);
int32_t parse_version_string(const char *text, uint32_t parts[DRIVER_VERSION_PARTS]);
int32_t check_min_driver_version(const uint32_t parts[DRIVER_VERSION_PARTS]);
