// Prints a fetched template under the key names of the template file.
#pragma once

#include "template/resource_template.h"

void print_basic_config(const ResourceTemplate *record);
void print_vnp_qnp_tables(const ResourceTemplate *record);
void print_qpnp_tables(const ResourceTemplate *record);
void print_qvn_tables(const ResourceTemplate *record);
void print_cbmp_tables(const ResourceTemplate *record);
void print_ovnp_table(const ResourceTemplate *record);
// All six above, in the order the display shows them.
void print_template(const ResourceTemplate *record);
