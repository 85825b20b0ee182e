// The display flow: the card's template fetched and printed under the key
// names of the template file.
#pragma once

#include <cstdint>

#include "template/resource_template.h"

// The record's blocks, in the order the display shows them.
void print_template(const ResourceTemplate *record);
// The card's template fetched into a record of its own and printed: 0, or
// the status of the fetch, after the lines of a tool device that could not
// be opened.
int32_t display_config();
