#include "zorvitemplate/locate.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t PIECE_MOST = INI_LINE_SIZE - 1;  // longest line the reader hands out
constexpr size_t SHOWN_NAME_MOST = 40;

enum Region : uint8_t {
    REGION_BEFORE,         // no header yet
    REGION_INFO,           // the first [INFO]
    REGION_CONFIG,         // the first [CONFIG]
    REGION_SECOND,         // a later section of one of these names
    REGION_UNKNOWN,        // a section no load reads
    REGION_AFTER_BRACKET,  // a '[' line ended the first [INFO] or [CONFIG]
};

struct Scan {
    LocatedFile *located;
    FindingList *warnings;
    Region region;
    TemplateSection ended;  // the section a '[' line ended
    uint32_t line;
    uint64_t offset;       // of the piece at hand
    bool long_line;        // the physical line is read in pieces
    uint64_t line_length;  // of the physical line so far, without its feed
    uint32_t pieces;       // the reader's lines it has made so far
};

bool name_is(const IniLineParts &parts, const char *name)
{
    return parts.name_length == strlen(name) && memcmp(parts.name, name, parts.name_length) == 0;
}

void warn(Scan *scan, const char *key, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

void warn(Scan *scan, const char *key, const char *format, ...)
{
    if (scan->warnings->count >= SCAN_WARNING_MAX) {
        ++scan->warnings->dropped;
        return;
    }
    char text[FINDING_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    add_finding(scan->warnings, scan->line, false, NO_PROBLEM, key, "%s", text);
}

void enter_section(Scan *scan, const IniLineParts &parts)
{
    char shown[SHOWN_NAME_MOST * 4 + 4];
    quote_file_text(parts.name, parts.name_length, SHOWN_NAME_MOST, shown, sizeof(shown));
    TemplateSection section = SECTION_INFO;
    if (name_is(parts, "CONFIG")) {
        section = SECTION_CONFIG;
    } else if (!name_is(parts, "INFO")) {
        warn(scan, "", "section [%s] is not read by a load", shown);
        scan->region = REGION_UNKNOWN;
        return;
    }
    uint32_t &first = scan->located->section_line[section];
    if (first == 0) {
        first = scan->line;
        scan->region = (section == SECTION_INFO) ? REGION_INFO : REGION_CONFIG;
        return;
    }
    warn(scan, "", "a second [%s] section: a load reads only the first, at line %u",
         section_name(section), first);
    scan->region = REGION_SECOND;
}

void end_by_bracket(Scan *scan)
{
    if (scan->region != REGION_INFO && scan->region != REGION_CONFIG) {
        warn(scan, "", "this line starts with '[' but is no section header");
        return;
    }
    scan->ended = (scan->region == REGION_INFO) ? SECTION_INFO : SECTION_CONFIG;
    scan->located->ended_at[scan->ended] = scan->line;
    warn(scan, "",
         "this line starts with '[' but is no section header; it ends [%s], and a load reads "
         "no key of [%s] after it",
         section_name(scan->ended), section_name(scan->ended));
    scan->region = REGION_AFTER_BRACKET;
}

StrayPlace stray_place(Region region)
{
    switch (region) {
        case REGION_INFO:
        case REGION_CONFIG:
            return STRAY_OTHER_SECTION;
        case REGION_SECOND:
            return STRAY_SECOND_SECTION;
        case REGION_UNKNOWN:
            return STRAY_UNKNOWN_SECTION;
        case REGION_BEFORE:
            return STRAY_BEFORE_SECTIONS;
        case REGION_AFTER_BRACKET:
            return STRAY_AFTER_BRACKET;
    }
    return STRAY_NONE;
}

void place_key(Scan *scan, const char *piece, const IniLineParts &parts, size_t slot)
{
    char name[KEY_NAME_SIZE];
    TemplateSection section = SECTION_INFO;
    size_t key_index = 0;
    describe_key_slot(slot, name, &section, &key_index);
    KeyPlace &place = scan->located->keys[slot];
    const bool read_here = (scan->region == REGION_INFO && section == SECTION_INFO) ||
                           (scan->region == REGION_CONFIG && section == SECTION_CONFIG);
    if (!read_here) {
        if (place.stray_line == 0) {
            place.stray_line = scan->line;
            place.stray = stray_place(scan->region);
        }
        return;
    }
    if (place.line != 0) {
        if (!scan->long_line) {
            warn(scan, name, "%s is given again; a load takes the one at line %u", name,
                 place.line);
        }
        return;
    }
    place.line = scan->line;
    place.value_length = parts.value_length;
    place.value_start = scan->offset + static_cast<uint64_t>(parts.value - piece);
    place.value_end = place.value_start + parts.value_length;
    const size_t kept =
        parts.value_length < INI_VALUE_SIZE - 1 ? parts.value_length : INI_VALUE_SIZE - 1;
    memcpy(place.value, parts.value, kept);
    place.value[kept] = '\0';
}

void note_unknown_key(Scan *scan, const IniLineParts &parts)
{
    char shown[SHOWN_NAME_MOST * 4 + 4];
    quote_file_text(parts.name, parts.name_length, SHOWN_NAME_MOST, shown, sizeof(shown));
    switch (scan->region) {
        case REGION_INFO:
        case REGION_CONFIG: {
            char nearest[KEY_NAME_SIZE];
            if (nearest_key_name(parts.name, parts.name_length, nearest)) {
                warn(scan, "", "%s is not a key a load reads; did you mean %s?", shown, nearest);
            } else {
                warn(scan, "", "%s is not a key a load reads", shown);
            }
            break;
        }
        case REGION_BEFORE:
            warn(scan, "", "%s stands before the first section and is not read", shown);
            break;
        case REGION_AFTER_BRACKET:
            warn(scan, "", "%s stands after the line that ended [%s] and is not read", shown,
                 section_name(scan->ended));
            break;
        case REGION_SECOND:
        case REGION_UNKNOWN:
            break;  // the section's header has its warning
    }
}

void take_piece(Scan *scan, const char *piece, size_t length)
{
    IniLineParts parts;
    describe_ini_line(piece, &parts);
    switch (parts.kind) {
        case INI_LINE_BLANK:
            break;
        case INI_LINE_HEADER:
            enter_section(scan, parts);
            break;
        case INI_LINE_BRACKET:
            end_by_bracket(scan);
            break;
        case INI_LINE_KEY: {
            const size_t slot = find_key_slot(parts.name, parts.name_length);
            if (slot < KEY_SLOT_COUNT) {
                place_key(scan, piece, parts, slot);
            } else if (!scan->long_line) {
                note_unknown_key(scan, parts);
            }
            break;
        }
        case INI_LINE_OTHER:
            if (!scan->long_line && scan->region != REGION_SECOND &&
                scan->region != REGION_UNKNOWN) {
                warn(scan, "",
                     "this line is no key, section header or comment; a load passes "
                     "over it");
            }
            break;
    }
    if (scan->region == REGION_INFO &&
        (parts.kind == INI_LINE_KEY || parts.kind == INI_LINE_HEADER)) {
        LocatedFile *located = scan->located;
        located->info_end = scan->offset + length;
        located->info_end_feed = piece[length - 1] == '\n';
        located->info_crlf = length >= 2 && located->info_end_feed && piece[length - 2] == '\r';
    }
}

// Optimal string alignment distance of two short names, transpositions
// counting once.
size_t name_distance(const char *a, size_t a_length, const char *b, size_t b_length)
{
    size_t d[KEY_NAME_SIZE * 2 + 1][KEY_NAME_SIZE + 1];
    for (size_t i = 0; i <= a_length; ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b_length; ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a_length; ++i) {
        for (size_t j = 1; j <= b_length; ++j) {
            const size_t cost = (a[i - 1] == b[j - 1]) ? 0 : 1;
            size_t best = d[i - 1][j] + 1;
            best = d[i][j - 1] + 1 < best ? d[i][j - 1] + 1 : best;
            best = d[i - 1][j - 1] + cost < best ? d[i - 1][j - 1] + cost : best;
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] &&
                d[i - 2][j - 2] + 1 < best) {
                best = d[i - 2][j - 2] + 1;
            }
            d[i][j] = best;
        }
    }
    return d[a_length][b_length];
}

bool same_but_case(const char *a, size_t a_length, const char *b)
{
    if (strlen(b) != a_length) {
        return false;
    }
    for (size_t i = 0; i < a_length; ++i) {
        if (toupper(static_cast<unsigned char>(a[i])) != b[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool nearest_key_name(const char *name, size_t length, char (&nearest)[KEY_NAME_SIZE])
{
    if (length == 0 || length > KEY_NAME_SIZE * 2) {
        return false;
    }
    // Short names are near only by one edit; longer ones by two.
    size_t best = (length <= 4) ? 2 : 3;
    for (size_t slot = 0; slot < KEY_SLOT_COUNT; ++slot) {
        char known[KEY_NAME_SIZE];
        TemplateSection section = SECTION_INFO;
        size_t key_index = 0;
        describe_key_slot(slot, known, &section, &key_index);
        const size_t distance = same_but_case(name, length, known)
                                    ? 0
                                    : name_distance(name, length, known, strlen(known));
        if (distance < best) {
            best = distance;
            memcpy(nearest, known, sizeof(known));
        }
    }
    return best < ((length <= 4) ? 2u : 3u);
}

int32_t locate_template_lines(const char *path, LocatedFile *located, FindingList *warnings)
{
    *located = LocatedFile{};
    IniLines lines;
    if (open_ini_lines(path, &lines) != 0) {
        return -1;
    }
    Scan scan{located, warnings, REGION_BEFORE, SECTION_INFO, 1, 0, false, 0, 0};
    char *piece = nullptr;
    size_t length = 0;
    bool line_open = false;  // the last piece had no line feed
    while (next_ini_line(&lines, &piece, &length) == 0) {
        if (!line_open) {
            scan.long_line = length == PIECE_MOST && piece[length - 1] != '\n';
            scan.line_length = 0;
            scan.pieces = 0;
        }
        if (memchr(piece, '\0', length) != nullptr) {
            located->nul_line = scan.line;
            break;
        }
        take_piece(&scan, piece, length);
        scan.offset += length;
        scan.line_length += length - (piece[length - 1] == '\n' ? 1 : 0);
        ++scan.pieces;
        line_open = piece[length - 1] != '\n';
        if (!line_open || length < PIECE_MOST) {
            if (scan.pieces > 1) {
                warn(&scan, "",
                     "this line has %llu characters; a load reads it in pieces of 511, each as "
                     "a line of its own",
                     static_cast<unsigned long long>(scan.line_length));
            }
            located->lines = scan.line;
            ++scan.line;
            line_open = false;
        }
    }
    close_ini_lines(&lines);
    located->bytes = scan.offset;
    return 0;
}
