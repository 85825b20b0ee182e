// The load's parse of a template file, with its lines and its questions to
// the driver and the card of g_device_target.
#pragma once

#include <cstdint>

#include "template/resource_template.h"

// 0 and `record` built, checked against the card and sealed for the store,
// or the status of the first problem, whose lines are printed.
int32_t parse_template_file(const char *path, ResourceTemplate *record);
