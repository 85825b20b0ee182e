// check's line pass: one pass over a file's lines for what a load passes
// over: unknown keys, keys given twice or outside the sections a load reads,
// a second section of a name, blocks the mode leaves out, NUL bytes, long
// lines. Whether a key is read is the walk's answer, never a rule of the
// pass; the pass only notes where each key stands, for the errors to say.
#include <strings.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <functional>
#include <numeric>
#include <span>
#include <string_view>

#include "bounded/shown_text.h"
#include "fileaccess/ini_reader.h"
#include "zorvitemplate/check.h"

namespace {

// The pass over the lines.
struct LineScan {
    CheckResult *result;
    uint32_t line;         // of the piece at hand
    uint32_t header_line;  // of the header in force, 0 before any
    SeenIn section;
    bool unread_section;  // the header in force names a section no load reads
    uint32_t first_header[2];
    uint32_t blocks_told;  // mode bits of the blocks warned about
};

// Optimal string alignment distance of a name `a` and a key's, letters compared
// without case, transpositions counting once; SIZE_MAX for a name too long
// to be compared, which is near no key.
size_t name_distance(const char *a, size_t a_length, const KeyName &key)
{
    const size_t key_length = strnlen(key.text, KEY_NAME_SIZE);
    const auto same = [&](size_t i, size_t j) { return strncasecmp(a + i, key.text + j, 1) == 0; };
    size_t d[KEY_NAME_SIZE * 2 + 1][KEY_NAME_SIZE + 1];
    if (a_length >= std::size(d)) {
        return SIZE_MAX;
    }
    std::iota(d[0], d[0] + key_length + 1, size_t{0});
    for (size_t i = 1; i <= a_length; ++i) {
        d[i][0] = i;
        for (size_t j = 1; j <= key_length; ++j) {
            const size_t cost = same(i - 1, j - 1) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && same(i - 1, j - 2) && same(i - 2, j - 1)) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a_length][key_length];
}

// The key name nearest to `name` when it looks like a misspelling of it:
// short names one edit away, longer ones two; nullptr when none is.
const char *nearest_key_name(const char *name, size_t length)
{
    const auto distance = std::bind_front(name_distance, name, length);
    const KeyName &nearest = *std::ranges::min_element(KEY_NAMES, {}, distance);
    return distance(nearest) < (length <= 4 ? 2u : 3u) ? nearest.text : nullptr;
}

void scan_header(LineScan *scan, const IniLineParts &parts)
{
    const std::string_view name(parts.name, parts.name_length);
    scan->header_line = scan->line;
    scan->section = static_cast<SeenIn>(std::ranges::find(SECTION_NAMES, name) - SECTION_NAMES);
    // A load reads the first section of each name it knows; any other
    // header is told.
    const uint32_t first = scan->section == SEEN_OUTSIDE ? 0 : scan->first_header[scan->section];
    scan->unread_section = scan->section == SEEN_OUTSIDE || first != 0;
    if (!scan->unread_section) {
        scan->first_header[scan->section] = scan->line;
        return;
    }
    char shown[SHOWN_MOST];
    (void)show_text(parts.name, parts.name_length, shown, sizeof(shown), SHOW_C0, SHOW_CUT);
    add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                first == 0 ? "section [%s] is not read by a load"
                           : "a second [%s] section: a load reads only the first, at line %u",
                shown, first);
}

// A '[' line that is no header ends the section a load reads there; the
// lookups that met it, each a problem, say which.
void scan_bracket(LineScan *scan)
{
    const ParseReport &report = scan->result->report;
    const char *ended = nullptr;
    for (const ParseProblem &problem : std::span(report.problems, report.count)) {
        const IniWhere &where = problem.where;
        if (where.answer == INI_NO_KEY && where.ended_by_bracket && where.line == scan->line) {
            ended = section_name(TEMPLATE_KEYS[problem.row].section);
            break;
        }
    }
    add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                ended != nullptr ? "this line starts with '[' but is no section header; it ends "
                                   "[%s], and a load reads no key of [%s] after it"
                                 : "this line starts with '[' but is no section header",
                ended, ended);
}

// A key line: where a known key stands, and what a load does with it. An
// unknown key in a piece of a long line is that line's own warning; one in
// a section no load reads is its header's.
void scan_key(LineScan *scan, const IniLineParts &parts, bool long_line)
{
    size_t row = 0;
    uint32_t element = 0;
    const size_t slot = parse_key_name(parts.name, parts.name_length, &row, &element);
    CheckResult *result = scan->result;
    if (slot == KEY_SLOT_COUNT) {
        if (long_line || scan->unread_section) {
            return;
        }
        char shown[SHOWN_MOST];
        (void)show_text(parts.name, parts.name_length, shown, sizeof(shown), SHOW_C0, SHOW_CUT);
        // A warning beyond WARNING_MAX is only counted: no search for a near name.
        const char *nearest = result->warnings < WARNING_MAX
                                  ? nearest_key_name(parts.name, parts.name_length)
                                  : nullptr;
        add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                    nearest != nullptr ? "%s is not a key a load reads; did you mean %s?"
                                       : "%s is not a key a load reads",
                    shown, nearest);
        return;
    }
    // The first key line of a block the mode leaves out: one warning a
    // block. Only when the walk read VERSION, so that the mode is the file's;
    // PCIDID is read whatever the mode, its bit only stores it.
    KeySeen &seen = result->seen[slot];
    const TemplateKey &key = TEMPLATE_KEYS[row];
    const uint32_t mode = result->record.mode;
    if (result->report.places[VERSION_SLOT].answer == INI_FOUND && !key_enabled(mode, key) &&
        key.mode_bit != MODE_PCIDID && (scan->blocks_told & key.mode_bit) == 0) {
        scan->blocks_told |= key.mode_bit;
        add_finding(result, scan->line, NO_PROBLEM, slot,
                    "block 0x%02X is not read, from %s on: mode 0x%02X leaves it out", key.mode_bit,
                    key_name(slot), mode);
    }
    seen = seen.line == 0 ? KeySeen{scan->line, scan->header_line, scan->section} : seen;
    const IniWhere &where = result->report.places[slot];
    // Said only when another line is the one read: a key not read at all is an error's.
    if (where.answer == INI_FOUND && where.line != scan->line) {
        add_finding(scan->result, scan->line, NO_PROBLEM, slot,
                    scan->header_line == where.section_line
                        ? "%s is given again; a load takes the one at line %u"
                        : "%s here is not read; a load takes the one at line %u",
                    key_name(slot), where.line);
    }
}

void scan_piece(LineScan *scan, const char *piece, bool long_line)
{
    IniLineParts parts;
    describe_ini_line(piece, &parts);
    if (parts.kind == INI_LINE_HEADER) {
        scan_header(scan, parts);
    } else if (parts.kind == INI_LINE_BRACKET) {
        scan_bracket(scan);
    } else if (parts.kind == INI_LINE_KEY) {
        scan_key(scan, parts, long_line);
    } else if (parts.kind == INI_LINE_OTHER) {
        if (scan->line == 1 && strncmp(piece, "\xEF\xBB\xBF", 3) == 0) {
            describe_ini_line(piece + 3, &parts);
        }
        if (parts.kind == INI_LINE_HEADER) {
            add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                        "the file starts with a UTF-8 byte order mark; a load reads "
                        "\\xEF\\xBB\\xBF[%.*s] as no header",
                        static_cast<int>(parts.name_length), parts.name);
        } else if (!long_line && !scan->unread_section) {
            add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                        "this line is no key, section header or comment; a load passes over it");
        }
    }
}

}  // namespace

int32_t scan_lines(const char *path, CheckResult *result)
{
    LineScan scan{result, 1, 0, SEEN_OUTSIDE, false, {}, 0};
    IniLines lines;
    if (open_ini_lines(path, &lines) != 0) {
        return -1;
    }
    char *piece = nullptr;
    size_t length = 0;
    uint64_t line_start = 0;  // a line read in more than one piece is long
    uint32_t nul_line = 0;    // the last line told to hold a NUL byte
    while (next_ini_line(&lines, &piece, &length) == 0) {
        const bool cut = piece == lines.cut;
        const bool long_line = cut || result->bytes != line_start;
        if (nul_line != scan.line && memchr(piece, '\0', length) != nullptr) {
            nul_line = scan.line;
            add_finding(result, scan.line, NO_PROBLEM, KEY_SLOT_COUNT,
                        "this line holds a NUL byte; a load reads each piece of it only up to the "
                        "first");
        }
        scan_piece(&scan, piece, long_line);
        result->bytes += length;
        if (cut) {
            continue;
        }
        if (long_line) {
            add_finding(result, scan.line, NO_PROBLEM, KEY_SLOT_COUNT,
                        "this line has %" PRIu64
                        " characters; a load reads it in pieces of %u, each as a line of its own",
                        result->bytes - line_start - (piece[length - 1] == '\n' ? 1 : 0),
                        INI_LINE_SIZE - 1);
        }
        ++scan.line;
        line_start = result->bytes;
    }
    close_ini_lines(&lines);
    return 0;
}
