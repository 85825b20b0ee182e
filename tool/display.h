// The display flow: the card's template fetched and printed under the key
// names of the template file.
#pragma once

#include <cstdint>

#include "template/resource_template.h"

void print_basic_config(const ResourceTemplate *record);
void print_vnp_qnp_tables(const ResourceTemplate *record);
void print_qpnp_tables(const ResourceTemplate *record);
void print_qvn_tables(const ResourceTemplate *record);
void print_cbmp_tables(const ResourceTemplate *record);
void print_ovnp_table(const ResourceTemplate *record);
// All six above, in the order the display shows them.
void print_template(const ResourceTemplate *record);
// The card's template fetched into a record of its own and printed: 0, or
// the status of the fetch, after the lines of a tool device that could not
// be opened.
int32_t display_config();
