// Builds a ResourceTemplate from a template file, with range checks on every
// value and the identity checks against the card. Prints nothing and asks
// the card nothing: what it met is in the report.
#pragma once

#include <cstdint>

#include "template/identity_check.h"
#include "template/parse_report.h"
#include "template/resource_template.h"

// How far a parse goes: a load stops at its first problem, a check notes
// every one in the order a load meets them.
enum ParseScope : uint8_t { PARSE_TO_FIRST_PROBLEM, PARSE_EVERY_KEY };

// VERSION, the base block and the blocks the mode selects, into `record`
// (cleared first). A parse cannot fail: what it meets goes into the report.
void parse_template_keys(const char *path, ParseScope scope, ResourceTemplate *record,
                         ParseReport *report);
// PCIDID (from a driver that reports the card's id) and METADATA against
// `card` and the record the keys built.
void parse_identity_keys(const char *path, ParseScope scope, const CardIdentity *card,
                         ResourceTemplate *record, ParseReport *report);
