// Builds a ResourceTemplate from a template file, with range checks on every
// value and the identity checks against the card.
#pragma once

#include <cstdint>

#include "template/resource_template.h"

int32_t parse_template_file(const char *path, ResourceTemplate *record);
int32_t parse_mode_tables(const char *path, const char *section, ResourceTemplate *record);
