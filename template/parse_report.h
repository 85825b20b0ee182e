// The problems a parse meets in a template file. A load stops at the first
// one and prints its line; a check notes every one and goes on, so both
// learn the same problems from the same walk. Each problem carries what the
// reader met when it looked for the key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bounded/status.h"
#include "fileaccess/ini_reader.h"
#include "template/resource_template.h"
#include "template/template_keys.h"

enum ProblemKind : uint8_t {
    PROBLEM_PATH_TOO_LONG,  // the path does not fit the parser's copy of it
    PROBLEM_UNREADABLE,     // no file, no section, no key, or not a number
    PROBLEM_OUT_OF_RANGE,   // `value` above the bound `expected`
    PROBLEM_MISMATCH,       // PCIDID or METADATA: `value` against the card's id or
                            // the checksum, `expected`
};

// The row of a problem that concerns no key: the path's.
constexpr uint16_t NO_KEY_ROW = TEMPLATE_KEY_COUNT;
// A path of the parser's largest size and the words around it.
constexpr size_t LOAD_MESSAGE_SIZE = 640;

struct ParseProblem {
    ProblemKind kind = PROBLEM_UNREADABLE;
    uint16_t row = NO_KEY_ROW;  // of TEMPLATE_KEYS
    uint8_t element = 0;        // PF number of a per-PF key
    uint32_t value = 0;
    uint32_t expected = 0;
    IniWhere where = {};  // what the reader met looking for the key
};

// Every element of every key can fail once, and so can the path.
constexpr size_t PARSE_PROBLEM_MAX = KEY_SLOT_COUNT + 1;

struct ParseReport {
    uint32_t count;
    uint32_t checksum;  // of the record as built: right when no problem but METADATA's
    ParseProblem problems[PARSE_PROBLEM_MAX];
    IniWhere places[KEY_SLOT_COUNT];  // every lookup of the walk, by slot
    uint32_t values[KEY_SLOT_COUNT];  // the numbers it read, by slot
};

// The line a load prints for `problem`, without a line end. Fails only when
// `size` is too small.
int32_t format_load_message(const char *path, const ParseProblem *problem, char *text, size_t size);

// True when a problem other than METADATA's own stands in the report.
bool report_has_errors_besides_metadata(const ParseReport *report);
