// Reads a template file with the rules of a load against a stand-in card and
// turns every problem into a finding on its line, with the warnings of the
// lines a load passes over.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "template/identity_check.h"
#include "template/parse_report.h"
#include "template/resource_template.h"
#include "zorvitemplate/findings.h"
#include "zorvitemplate/locate.h"

constexpr size_t TROUBLE_SIZE = 512;

struct CheckSetup {
    const char *path;
    CardIdentity card;
    bool pci_id_from_file;  // the card's id is the file's own PCIDID
};

struct CheckResult {
    CardIdentity card;        // the card checked against, its id filled in
    ResourceTemplate record;  // as a load builds it
    ParseReport report;
    LocatedFile located;
    FindingList findings;  // errors in the order a load meets them, then warnings by line
    uint32_t errors;
    uint32_t warnings;
    struct stat file_state;      // when the check began
    char trouble[TROUBLE_SIZE];  // why the file could not be checked, empty when it was
};

// 0 when the file was checked (the findings tell the verdict); -1 when it
// cannot be read, is no text file or changed meanwhile: `trouble` says which.
int32_t check_template(const CheckSetup *setup, CheckResult *result);

// True when a load on the card would take the file.
inline bool load_accepts(const CheckResult *result)
{
    return result->report.count == 0;
}

// One finding a line, FILE:LINE: error|warning: TEXT.
void print_findings(FILE *out, const char *path, const CheckResult *result, bool errors_only);
// The findings' part of a JSON document: "findings": [...].
void print_findings_json(FILE *out, const char *path, const CheckResult *result,
                         const char *indent);
