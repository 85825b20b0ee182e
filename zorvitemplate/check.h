// check: a template file read by a load's own walk against a stand-in card.
// The errors are the walk's problems, rendered where the reader met them;
// the warnings come from one pass over the lines for what a load never
// reads. The verdict is the load's.
#pragma once

#include <sys/stat.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "template/identity_check.h"
#include "template/parse_report.h"
#include "template/resource_template.h"

constexpr size_t TROUBLE_SIZE = 512;
constexpr size_t FINDING_TEXT_SIZE = 200;
constexpr int16_t NO_PROBLEM = -1;

struct CheckSetup {
    const char *path;
    CardIdentity card;
    bool pci_id_from_file;  // the card's id is the file's own PCIDID
};

struct Finding {
    uint32_t line;    // 0 where no line applies
    bool error;       // else a warning
    int16_t problem;  // the report's problem an error stands for, else NO_PROBLEM
    uint16_t slot;    // the key it is about, KEY_SLOT_COUNT when none
    char text[FINDING_TEXT_SIZE];
};

// Warnings kept; more are only counted.
constexpr uint32_t WARNING_MAX = 256;
constexpr size_t FINDING_MAX = PARSE_PROBLEM_MAX + WARNING_MAX;

struct FindingList {
    uint32_t count;
    uint32_t warnings;
    uint32_t dropped;  // warnings beyond WARNING_MAX, only counted
    Finding items[FINDING_MAX];
};

// What stood where a key a load asks for appeared first, as the pass over
// the lines saw it: the line, and the section header in force there.
enum SeenIn : uint8_t { SEEN_NOWHERE, SEEN_BEFORE_HEADERS, SEEN_INFO, SEEN_CONFIG, SEEN_OTHER };
struct KeySeen {
    uint32_t line;
    uint32_t header_line;
    SeenIn section;
};

struct CheckResult {
    CardIdentity card;        // the card checked against, its id filled in
    ResourceTemplate record;  // as a load builds it
    ParseReport report;
    KeySeen seen[KEY_SLOT_COUNT];
    FindingList findings;  // errors in the order a load meets them, then warnings by line
    uint32_t errors;
    int fd;                      // the file, open until the program ends
    struct stat file_state;      // its fstat when the check began
    uint64_t bytes;              // read by the pass over the lines
    char trouble[TROUBLE_SIZE];  // why the file could not be checked, empty when it was
};

// The load's parse of `path` against `card`, every problem noted.
int32_t check_template_file(const char *path, const CardIdentity *card, ResourceTemplate *record,
                            ParseReport *report);

// 0 when the file was checked (the findings tell the verdict); -1 when it
// cannot be read, is no regular file or changed meanwhile: `trouble` says
// which.
int32_t check_template(const CheckSetup *setup, CheckResult *result);

// True when a load on the card would take the file.
inline bool load_accepts(const CheckResult *result)
{
    return result->report.count == 0;
}

// The findings through the output layer: text lines FILE:LINE: error|warning:
// TEXT, or the "findings" array of a JSON document.
void print_findings(const char *path, const CheckResult *result);
// The errors alone, one line each on standard error (seal, diff).
void say_errors(const char *path, const CheckResult *result);

// Adds a finding; a warning beyond WARNING_MAX is only counted. False when
// it was not kept, so that a caller can spare the work of its text.
bool warning_kept(const FindingList *list);
void add_finding(FindingList *list, uint32_t line, bool error, int16_t problem, size_t slot,
                 const char *format, ...) __attribute__((format(printf, 6, 7)));
void add_finding_v(FindingList *list, uint32_t line, bool error, int16_t problem, size_t slot,
                   const char *format, va_list args) __attribute__((format(printf, 6, 0)));

// The pass over the lines: warnings for what a load passes over, and where
// each key stands (`seen`). 0, or -1 when the file cannot be read.
int32_t lint_template(const CheckSetup *setup, CheckResult *result);

// Text of the file in a finding: at most `most` bytes, control bytes as
// \xHH, then "..." when longer.
void quote_file_text(const char *text, size_t length, size_t most, char *out, size_t size);
