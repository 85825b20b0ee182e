// The findings of a check: one line each, FILE:LINE: error|warning: TEXT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "template/parse_report.h"
#include "zorvitemplate/key_slots.h"

constexpr size_t FINDING_TEXT_SIZE = 200;
constexpr int16_t NO_PROBLEM = -1;

struct Finding {
    uint32_t line;            // 0 where no line applies
    bool error;               // else a warning
    int16_t problem;          // the report's problem an error stands for, else NO_PROBLEM
    char key[KEY_NAME_SIZE];  // the key it is about, empty when none
    char text[FINDING_TEXT_SIZE];
};

// Warnings kept from the scan of the lines; more are only counted.
constexpr uint32_t SCAN_WARNING_MAX = 256;
// Room for the scan's warnings, an error per problem and a warning per key
// and per block.
constexpr size_t FINDING_MAX = SCAN_WARNING_MAX + PARSE_PROBLEM_MAX + KEY_SLOT_COUNT + 16;

struct FindingList {
    uint32_t count;
    uint32_t dropped;  // warnings beyond FINDING_MAX, only counted
    Finding items[FINDING_MAX];
};

void add_finding(FindingList *list, uint32_t line, bool error, int16_t problem, const char *key,
                 const char *format, ...) __attribute__((format(printf, 6, 7)));

// Text of the file shown in a finding: at most `most` bytes, control bytes
// as \xNN, cut with "..." when longer.
void quote_file_text(const char *text, size_t length, size_t most, char *out, size_t size);
