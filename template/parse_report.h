// The problems a parse meets in a template file. A load stops at the first
// one and prints its line; a check notes every one and goes on, so both
// learn the same problems from the same code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "template/template_keys.h"

enum ProblemKind : uint8_t {
    PROBLEM_PATH_TOO_LONG,        // the path does not fit the parser's copy of it
    PROBLEM_UNREADABLE,           // no file, no section, no key, or not a number
    PROBLEM_OUT_OF_RANGE,         // `value` above the bound `expected`
    PROBLEM_PCIDID_UNREADABLE,    // PCIDID asked for and not read
    PROBLEM_PCIDID_MISMATCH,      // the file's `value` against the card's `expected`
    PROBLEM_METADATA_UNREADABLE,  // METADATA not read
    PROBLEM_METADATA_MISMATCH,    // the file's `value` against the checksum `expected`
};

// VERSION and METADATA have no line in the key table.
constexpr uint16_t NO_TABLE_KEY = TEMPLATE_KEY_COUNT;
constexpr size_t PROBLEM_KEY_SIZE = 12;  // O256QVN15, the longest key name, and a NUL
// A path of the parser's largest size and the words around it.
constexpr size_t LOAD_MESSAGE_SIZE = 640;

struct ParseProblem {
    ProblemKind kind;
    uint16_t key_index;          // into TEMPLATE_KEYS, or NO_TABLE_KEY
    uint8_t element;             // PF number of a per-PF key, else 0
    char key[PROBLEM_KEY_SIZE];  // the key as the file names it: QNP05, VERSION
    uint32_t value;
    uint32_t expected;
    int32_t status;  // what the load returns for it
};

// Every number a parse reads can fail once, and so can the path: VERSION,
// METADATA and each element of each key.
constexpr size_t count_parse_problems()
{
    size_t count = 3;  // path, VERSION, METADATA
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        count += key.count;
    }
    return count;
}
constexpr size_t PARSE_PROBLEM_MAX = count_parse_problems();

struct ParseReport {
    uint32_t count;
    bool metadata_read;  // METADATA converted; its value is `metadata`
    uint32_t metadata;
    uint32_t checksum;  // of the record as built: right when no problem but METADATA's
    ParseProblem problems[PARSE_PROBLEM_MAX];
};

// The line a load prints for `problem`, without a line end. Fails only when
// `size` is too small.
int32_t format_load_message(const char *path, const ParseProblem *problem, char *text, size_t size);

// A load (no report) prints the problem's line and stops with its status; a
// check notes it and goes on with 0.
int32_t meet_problem(const char *path, ParseReport *report, ProblemKind kind, size_t key_index,
                     uint32_t element, const char *key, uint32_t value, uint32_t expected,
                     int32_t status);

// True when a problem other than METADATA's own stands in the report.
bool report_has_errors_besides_metadata(const ParseReport *report);
