// Builds a ResourceTemplate from a template file, with range checks on every
// value and the identity checks against the card.
#pragma once

#include <cstdint>

#include "template/identity_check.h"
#include "template/parse_report.h"
#include "template/resource_template.h"

// The load's parse: stops at the first problem, prints its line and returns
// its status; asks the driver and the card through g_device_target.
int32_t parse_template_file(const char *path, ResourceTemplate *record);

// The same parse against the card described by `card`, without asking
// anything: every problem goes into `report` in the order a load meets them,
// so the first is the one a load prints, each with what the reader met.
// Prints nothing itself; the INI reader's own lines still go to standard
// output. 0 once the walk is done (the report tells the verdict), else an
// internal failure.
int32_t check_template_file(const char *path, const CardIdentity *card, ResourceTemplate *record,
                            ParseReport *report);
