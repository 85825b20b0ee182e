// One pass over a template file that finds where the keys a load reads
// stand, by the INI reader's own line rules, and what a load passes over.
// It reads nothing into the record: the parse does that.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fileaccess/ini_reader.h"
#include "zorvitemplate/findings.h"
#include "zorvitemplate/key_slots.h"

// Where a key stands when it is not where a load reads it.
enum StrayPlace : uint8_t {
    STRAY_NONE,
    STRAY_OTHER_SECTION,    // in the first section of the other name
    STRAY_SECOND_SECTION,   // in a later section of its own name
    STRAY_UNKNOWN_SECTION,  // in a section no load reads
    STRAY_BEFORE_SECTIONS,  // before the first section header
    STRAY_AFTER_BRACKET,    // after a '[' line that ended the first section
};

struct KeyPlace {
    uint32_t line;  // where a load reads it, 0 when it does not stand there
    size_t value_length;
    uint64_t value_start;  // byte offsets of the value text in the file
    uint64_t value_end;
    char value[INI_VALUE_SIZE];  // its first 31 characters
    uint32_t stray_line;         // its first line anywhere else, 0 when none
    StrayPlace stray;
};

struct LocatedFile {
    KeyPlace keys[KEY_SLOT_COUNT];
    uint32_t section_line[2];  // first header of [INFO] and [CONFIG], 0 when none
    uint32_t ended_at[2];      // the '[' line that ended that section early, 0 when none
    // Where a line added at the end of the first [INFO] goes: after its last
    // key line, or its header. `info_end_feed` is false when that line is
    // the file's last and has no line feed; `info_crlf` when it ends in CR LF.
    uint64_t info_end;
    bool info_end_feed;
    bool info_crlf;
    uint64_t bytes;     // read in all
    uint32_t lines;     // physical lines
    uint32_t nul_line;  // first line with a NUL byte, 0 when none
};

// 0 when the file could be opened; warnings about lines a load passes over
// go to `warnings`.
int32_t locate_template_lines(const char *path, LocatedFile *located, FindingList *warnings);

// The nearest key name to `name` when it looks like a misspelling of it.
bool nearest_key_name(const char *name, size_t length, char (&nearest)[KEY_NAME_SIZE]);
