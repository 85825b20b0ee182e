// check: a template file read by a load's own walk against a stand-in card.
// The errors are the walk's problems, told where the reader met them; the
// warnings come from one pass over the lines for what a load never reads.
// The verdict is the load's.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "template/identity_check.h"
#include "template/parse_report.h"
#include "template/resource_template.h"

constexpr size_t TROUBLE_SIZE = 512;
constexpr size_t FINDING_TEXT_SIZE = 200;
constexpr size_t SHOWN_MOST = 44;  // a name or value of the file, shown, cut when long
constexpr int16_t NO_PROBLEM = -1;
constexpr size_t VERSION_SLOT = key_slot(key_index("VERSION"), 0);
// Warnings kept; more are only counted.
constexpr uint32_t WARNING_MAX = 256;

struct Finding {
    uint32_t line;    // 0 where no line applies
    int16_t problem;  // the report's problem an error stands for, else NO_PROBLEM
    uint16_t slot;    // the key it is about, KEY_SLOT_COUNT when none
    char text[FINDING_TEXT_SIZE];
};

// Where a key a load asks for stands first, as the pass over the lines saw
// it: the line, and the section header in force there, by TemplateSection
// (outside: none yet, or one of a name no load reads).
enum SeenIn : uint8_t { SEEN_INFO = SECTION_INFO, SEEN_CONFIG = SECTION_CONFIG, SEEN_OUTSIDE };
static_assert(SEEN_OUTSIDE == std::size(SECTION_NAMES));
struct KeySeen {
    uint32_t line;
    uint32_t header_line;
    SeenIn section;
};

struct CheckResult {
    CardIdentity card;        // the card checked against, its id filled in
    bool pci_id_from_file;    // that id is the file's own PCIDID
    ResourceTemplate record;  // as a load builds it
    ParseReport report;
    KeySeen seen[KEY_SLOT_COUNT];
    uint32_t errors;    // in the order a load meets them
    uint32_t warnings;  // by line, at most WARNING_MAX
    uint32_t dropped;   // warnings beyond WARNING_MAX, only counted
    Finding error[PARSE_PROBLEM_MAX];
    Finding warning[WARNING_MAX];
    int fd;                      // the file, open until the program ends
    struct stat file_state;      // its fstat when the check began
    uint64_t bytes;              // read by the pass over the lines
    char trouble[TROUBLE_SIZE];  // why the file could not be checked, empty when it was
};

// `path` against `card`, whose id is the file's own PCIDID when
// `pci_id_from_file` and the file gives a number. 0 when the file was checked (the findings tell
// the verdict); -1 when it cannot be read, is no regular file or changed meanwhile: `trouble` says
// which, and the rest of the result is zero.
int32_t check_template(const char *path, const CardIdentity *card, bool pci_id_from_file,
                       CheckResult *result);

// True when a load on the card would take the file.
inline bool load_accepts(const CheckResult *result)
{
    return result->report.count == 0;
}

// A finding of `result`: an error when it stands for a problem of the
// report, else a warning.
void add_finding(CheckResult *result, uint32_t line, int16_t problem, size_t slot,
                 const char *format, ...) __attribute__((format(printf, 5, 6)));
// The line pass over the file: its warnings, and where each key stands
// (`seen`). 0, or -1 when the file cannot be read.
int32_t scan_lines(const char *path, CheckResult *result);

// The findings through the output layer, or the errors alone: text lines
// FILE:LINE: error|warning: TEXT, or the elements of a JSON array. A check
// that failed has none.
void print_findings(const char *path, const CheckResult *result, bool errors_only = false);
