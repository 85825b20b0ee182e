// check: the load's parse of a file, every problem noted, then one pass over
// its lines for what a load passes over: unknown keys, keys given twice or
// outside the sections a load reads, a second section of a name, NUL bytes,
// long lines, values that wrap at 2^32. Whether a key is read is the walk's
// answer, never a rule of the pass; the pass only notes where each key
// stands, for the errors to say.
#include "zorvitemplate/check.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "bounded/shown_text.h"
#include "fileaccess/ini_reader.h"
#include "template/template_parser.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/replace_file.h"

namespace {

constexpr size_t SHOWN_MOST = 44;  // a name or value of the file, shown, cut when long
constexpr uint32_t MODE_BITS_ABOVE = ~MODE_BITS_KNOWN;
constexpr size_t VERSION_SLOT = key_slot(key_index("VERSION"), 0);
constexpr size_t PCIDID_SLOT = key_slot(key_index("PCIDID"), 0);
constexpr size_t MODENAME_SLOT = key_slot(key_index("MODENAME"), 0);

// An error stands for a problem of the report; a warning for none.
__attribute__((format(printf, 5, 6))) void add_finding(CheckResult *result, uint32_t line,
                                                       int16_t problem, size_t slot,
                                                       const char *format, ...)
{
    const bool error = problem != NO_PROBLEM;
    if (!error && result->warnings == WARNING_MAX) {
        ++result->dropped;
        return;
    }
    Finding &finding =
        error ? result->error[result->errors++] : result->warning[result->warnings++];
    finding = Finding{line, problem, static_cast<uint16_t>(slot), {}};
    va_list args;
    va_start(args, format);
    vsnprintf(finding.text, sizeof(finding.text), format, args);
    va_end(args);
}

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

// Optimal string alignment distance of a name and a key's, letters compared
// without case, transpositions counting once; SIZE_MAX for a name too long
// to be compared, which is near no key.
size_t name_distance(const char *a, size_t a_length, const char *b, size_t b_length)
{
    const auto same = [&](size_t i, size_t j) { return strncasecmp(a + i, b + j, 1) == 0; };
    size_t d[KEY_NAME_SIZE * 2 + 1][KEY_NAME_SIZE + 1];
    if (a_length >= std::size(d)) {
        return SIZE_MAX;
    }
    for (size_t j = 0; j <= b_length; ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a_length; ++i) {
        d[i][0] = i;
        for (size_t j = 1; j <= b_length; ++j) {
            const size_t cost = same(i - 1, j - 1) ? 0 : 1;
            size_t best = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && same(i - 1, j - 2) && same(i - 2, j - 1)) {
                best = std::min(best, d[i - 2][j - 2] + 1);
            }
            d[i][j] = best;
        }
    }
    return d[a_length][b_length];
}

// The key name nearest to `name` when it looks like a misspelling of it:
// short names one edit away, longer ones two; nullptr when none is.
const char *nearest_key_name(const char *name, size_t length)
{
    size_t best = (length <= 4) ? 2 : 3;
    const char *nearest = nullptr;
    for (size_t slot = 0; slot < KEY_SLOT_COUNT; ++slot) {
        const size_t distance = name_distance(name, length, key_name(slot), strlen(key_name(slot)));
        if (distance < best) {
            best = distance;
            nearest = key_name(slot);
        }
    }
    return nearest;
}

void scan_header(LineScan *scan, const IniLineParts &parts)
{
    const std::string_view name(parts.name, parts.name_length);
    const bool info = name == "INFO";
    scan->header_line = scan->line;
    scan->section = info ? SEEN_INFO : name == "CONFIG" ? SEEN_CONFIG : SEEN_OUTSIDE;
    if (scan->section == SEEN_OUTSIDE) {
        scan->unread_section = true;
        char shown[SHOWN_MOST];
        (void)show_text(parts.name, parts.name_length, shown, sizeof(shown), SHOW_C0, SHOW_CUT);
        add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                    "section [%s] is not read by a load", shown);
        return;
    }
    uint32_t &first = scan->first_header[info ? SECTION_INFO : SECTION_CONFIG];
    scan->unread_section = first != 0;
    if (first != 0) {
        add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                    "a second [%s] section: a load reads only the first, at line %u",
                    info ? "INFO" : "CONFIG", first);
    }
    first = first != 0 ? first : scan->line;
}

// A '[' line that is no header ends the section a load reads there; the
// lookups that met it, each a problem, say which.
void scan_bracket(LineScan *scan)
{
    const ParseReport &report = scan->result->report;
    for (const ParseProblem &problem : std::span(report.problems, report.count)) {
        const IniWhere &where = problem.where;
        if (where.answer == INI_NO_KEY && where.ended_by_bracket && where.line == scan->line) {
            const char *section = section_name(TEMPLATE_KEYS[problem.row].section);
            add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                        "this line starts with '[' but is no section header; it ends [%s], "
                        "and a load reads no key of [%s] after it",
                        section, section);
            return;
        }
    }
    add_finding(scan->result, scan->line, NO_PROBLEM, KEY_SLOT_COUNT,
                "this line starts with '[' but is no section header");
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
        if (result->warnings == WARNING_MAX) {
            ++result->dropped;  // spares the search for a near name
            return;
        }
        char shown[SHOWN_MOST];
        (void)show_text(parts.name, parts.name_length, shown, sizeof(shown), SHOW_C0, SHOW_CUT);
        const char *nearest = nearest_key_name(parts.name, parts.name_length);
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
    if (seen.line == 0 && result->report.places[VERSION_SLOT].answer == INI_FOUND &&
        !key_enabled(mode, key) && key.mode_bit != MODE_PCIDID &&
        (scan->blocks_told & key.mode_bit) == 0) {
        scan->blocks_told |= key.mode_bit;
        add_finding(result, scan->line, NO_PROBLEM, slot,
                    "block 0x%02X is not read, from %s on: mode 0x%02X leaves it out", key.mode_bit,
                    key_name(slot), mode);
    }
    seen = seen.line == 0 ? KeySeen{scan->line, scan->header_line, scan->section} : seen;
    const IniWhere &where = result->report.places[slot];
    if (where.answer != INI_FOUND || where.line == scan->line) {
        return;  // read here, or not read at all: an error tells that
    }
    add_finding(scan->result, scan->line, NO_PROBLEM, slot,
                scan->header_line == where.section_line
                    ? "%s is given again; a load takes the one at line %u"
                    : "%s here is not read; a load takes the one at line %u",
                key_name(slot), where.line);
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
                        "this line is no key, section header or comment; a load passes "
                        "over it");
        }
    }
}

// A number written past 32 bits, or below 0: a load reads another, as glibc
// tells by reading it in 64 bits.
bool wraps(const char *text)
{
    bool hex = false;
    const char *digits = value_digits(text, &hex);
    errno = 0;
    const unsigned long long value = strtoull(digits, nullptr, hex ? 16 : 10);
    return errno == ERANGE || value > 0xFFFFFFFFull;
}

// Warnings about what the walk read: values, the mode, the card's id.
void warn_about_values(bool pci_id_from_file, CheckResult *result)
{
    const ParseReport &report = result->report;
    char shown[4 * INI_VALUE_SIZE];
    for (size_t slot = 0; slot < KEY_SLOT_COUNT; ++slot) {
        const IniWhere &where = report.places[slot];
        const bool text = where.answer == INI_FOUND && slot == MODENAME_SLOT;
        const bool number = where.answer == INI_FOUND && slot != MODENAME_SLOT;
        if (text && where.value_length >= INI_VALUE_SIZE) {
            add_finding(
                result, where.line, NO_PROBLEM, slot,
                "%s has %zu characters; a load keeps at most 31 and reads this one as empty",
                key_name(slot), where.value_length);
        } else if (text && strchr(where.value, '#') != nullptr) {
            add_finding(result, where.line, NO_PROBLEM, slot,
                        "%s holds a '#'; a load keeps it and what follows in the name",
                        key_name(slot));
        } else if (text && show_text(where.value, strlen(where.value), shown, sizeof(shown),
                                     SHOW_C0_C1) != static_cast<int32_t>(strlen(where.value))) {
            add_finding(result, where.line, NO_PROBLEM, slot,
                        "%s holds control bytes, shown here and by the display as \\xHH: %s",
                        key_name(slot), shown);
        } else if (number && where.value_length < INI_VALUE_SIZE && wraps(where.value)) {
            add_finding(result, where.line, NO_PROBLEM, slot,
                        "%s = %s does not fit in 32 bits; a load reads it as %u", key_name(slot),
                        where.value, report.values[slot]);
        }
    }
    if (report.places[VERSION_SLOT].answer == INI_FOUND &&
        (result->record.mode & MODE_BITS_ABOVE) != 0) {
        add_finding(result, report.places[VERSION_SLOT].line, NO_PROBLEM, VERSION_SLOT,
                    "mode 0x%X has bits above 0x40, which add no block; the checksum then covers "
                    "the basic keys only",
                    result->record.mode);
    }
    const CardIdentity &card = result->card;
    if (pci_id_from_file && driver_reports_pci_id(&card) && card.pci_device_id > PCI_ID_MAX) {
        add_finding(result, report.places[PCIDID_SLOT].line, NO_PROBLEM, PCIDID_SLOT,
                    "PCIDID 0x%X is wider than a PCI device id: no card has it",
                    card.pci_device_id);
    }
}

// The warnings, and where each key stands (`seen`). 0, or -1 when the file
// cannot be read.
int32_t scan_lines(const char *path, bool pci_id_from_file, CheckResult *result)
{
    LineScan scan{result, 1, 0, SEEN_OUTSIDE, false, {}, 0};
    warn_about_values(pci_id_from_file, result);
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
                        " characters; a load reads it in pieces of 511, each as a line of its own",
                        result->bytes - line_start - (piece[length - 1] == '\n' ? 1 : 0));
        }
        ++scan.line;
        line_start = result->bytes;
    }
    close_ini_lines(&lines);
    return 0;
}

// Why a key a load asks for was not read, as the reader's answer and the
// place the key stands in the file (if anywhere) tell it. The keys of a
// section left unread for a reason up to REASON_OUTSIDE are told at the
// first, with a count of the others but for REASON_NO_SECTION.
enum Reason : uint8_t {
    REASON_NO_SECTION,
    REASON_AFTER_END,  // after the line that ended its section
    REASON_SECOND,     // in a later section of its name
    REASON_OUTSIDE,    // before any header, or in a section no load reads
    REASON_MISSING,
    REASON_OTHER,  // in the other section a load reads
    REASON_LONG_LINE,
    REASON_NOT_NUMBER,
    REASON_LONG_VALUE,
    REASON_COUNT,
};

// Each reason's error. The text takes the key's name, its section (the
// value a load read, for a value that is no number) and a number: the line
// where the reader met it, or the length of a value too long.
constexpr const char *REASON_TEXTS[REASON_COUNT] = {
    "%s is not read: there is no [%s] section",
    "%s stands in [%s] after line %u, which ended it, so a load does not find it",
    "%s stands in a second [%s] section, but a load reads only the first",
    "%s stands outside any section a load reads; it belongs in [%s]",
    "%s is missing from [%s]",
    "%s stands in the other section, but a load reads it from [%s]",
    ("%s of [%s] stands inside line %u, which is longer than 511 characters: a load reads it in "
     "pieces and does not find it"),
    "%s = \"%s\" is not a number",
    "%s of [%s] has a value of %u characters; a load reads at most 31 and takes this one as empty",
};

Reason reason_of(const CheckResult *result, const ParseProblem &problem)
{
    const IniWhere &where = problem.where;
    const KeySeen &seen = result->seen[key_slot(problem.row, problem.element)];
    const SeenIn own = TEMPLATE_KEYS[problem.row].section == SECTION_INFO ? SEEN_INFO : SEEN_CONFIG;
    // Past the reader's own answers, no key where it looked (check_template
    // leaves no INI_NO_FILE): the place the pass saw it at tells why.
    return where.answer == INI_FOUND && where.value_length >= INI_VALUE_SIZE ? REASON_LONG_VALUE
           : where.answer == INI_FOUND                                       ? REASON_NOT_NUMBER
           : where.answer == INI_NO_SECTION                                  ? REASON_NO_SECTION
           : where.answer == INI_LONG_LINE                                   ? REASON_LONG_LINE
           : seen.line == 0                                                  ? REASON_MISSING
           : seen.header_line == where.section_line                          ? REASON_AFTER_END
           : seen.section == own                                             ? REASON_SECOND
           : seen.section != SEEN_OUTSIDE                                    ? REASON_OTHER
                                                                             : REASON_OUTSIDE;
}

// An unread key's error; `others` more keys of its section share a grouped
// reason. Each text is a literal of REASON_TEXTS.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void add_unread(CheckResult *result, uint32_t at, Reason reason, uint32_t others)
{
    const ParseProblem &problem = result->report.problems[at];
    const IniWhere &where = problem.where;
    const size_t slot = key_slot(problem.row, problem.element);
    // The reader's line; where it met no key in the section, the key's own.
    const uint32_t line = where.answer == INI_NO_KEY ? result->seen[slot].line : where.line;
    char value[SHOWN_MOST];
    (void)show_text(where.value, strlen(where.value), value, sizeof(value), SHOW_C0, SHOW_CUT);
    char text[FINDING_TEXT_SIZE];
    snprintf(text, sizeof(text), REASON_TEXTS[reason], key_name(slot),
             reason == REASON_NOT_NUMBER ? value : section_name(TEMPLATE_KEYS[problem.row].section),
             static_cast<uint32_t>(reason == REASON_LONG_VALUE ? where.value_length : where.line));
    add_finding(result, line, static_cast<int16_t>(at), slot,
                others != 0 ? "%s; so do %u more key%s a load asks for" : "%s", text, others,
                others == 1 ? "" : "s");
}
#pragma GCC diagnostic pop

// The report's problems, in the order a load meets them, each where the
// reader met it.
void add_errors(const char *path, CheckResult *result)
{
    const ParseReport &report = result->report;
    uint32_t unread[REASON_COUNT][2] = {};      // keys by reason and section, 0 once told
    uint32_t missing[TEMPLATE_KEY_COUNT] = {};  // elements by key; a table when PF_COUNT
    for (const ParseProblem &problem : std::span(report.problems, report.count)) {
        if (problem.kind == PROBLEM_UNREADABLE) {
            const Reason reason = reason_of(result, problem);
            ++unread[reason][TEMPLATE_KEYS[problem.row].section];
            missing[problem.row] += reason == REASON_MISSING ? 1 : 0;
        }
    }
    for (uint32_t i = 0; i < report.count; ++i) {
        const ParseProblem &problem = report.problems[i];
        const auto index = static_cast<int16_t>(i);
        if (problem.kind == PROBLEM_PATH_TOO_LONG) {
            add_finding(result, 0, index, KEY_SLOT_COUNT,
                        "the path has %zu characters; a load takes at most 511", strlen(path));
            continue;
        }
        const TemplateKey &key = TEMPLATE_KEYS[problem.row];
        const size_t slot = key_slot(problem.row, problem.element);
        const uint32_t line = problem.where.line;
        if (problem.kind == PROBLEM_OUT_OF_RANGE) {
            add_finding(result, line, index, slot, "%s = %u is out of range 0 to %u",
                        key_name(slot), problem.value, problem.expected);
        } else if (problem.kind == PROBLEM_MISMATCH && key.kind == KEY_CARD_ID) {
            add_finding(result, line, index, slot,
                        "PCIDID 0x%X is not the card's PCI device id 0x%X", problem.value,
                        problem.expected);
        } else if (problem.kind == PROBLEM_MISMATCH) {
            add_finding(result, line, index, slot,
                        "METADATA 0x%08X is not the checksum of the record the file describes, "
                        "0x%08X",
                        problem.value, problem.expected);
        } else if (missing[problem.row] == PF_COUNT) {
            if (problem.element == 0) {
                add_finding(result, 0, index, slot, "%s00 to %s15 are missing from [%s]", key.name,
                            key.name, section_name(key.section));
            }
        } else {
            const Reason reason = reason_of(result, problem);
            // Every one of a reason not grouped is told; of a grouped one,
            // only the first.
            uint32_t &keys = unread[reason][key.section];
            if (keys != 0) {
                const bool counted = reason > REASON_NO_SECTION && reason <= REASON_OUTSIDE;
                add_unread(result, i, reason, counted ? keys - 1 : 0);
                keys = reason > REASON_OUTSIDE ? keys : 0;
            }
        }
    }
}

// 0 for a regular file (`state`, when known, tells) and nothing gone wrong
// (`what` null); else -1, and the result is zero but for the trouble: what
// stands in the file's place, or `what`.
int32_t judge_file(const char *path, const struct stat *state, const char *what,
                   CheckResult *result)
{
    char trouble[TROUBLE_SIZE];
    if (state == nullptr || check_regular(path, state->st_mode, trouble, sizeof(trouble)) == 0) {
        if (what == nullptr) {
            return 0;
        }
        snprintf(trouble, sizeof(trouble), "%s: %s", path, what);
    }
    *result = CheckResult{};
    memcpy(result->trouble, trouble, sizeof(trouble));
    return -1;
}

// The file read, parsed and passed over, or -1 with the trouble. It is
// opened without waiting for anything (a FIFO, a device, a lease) and judged
// by the descriptor itself; one that cannot be opened still says what it is.
int32_t read_template(const char *path, const CardIdentity *card, bool pci_id_from_file,
                      CheckResult *result)
{
    result->fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int open_error = errno;
    struct stat &state = result->file_state;
    const bool known = (result->fd < 0 ? stat(path, &state) : fstat(result->fd, &state)) == 0;
    const char *why = result->fd < 0 ? strerror(open_error) : !known ? strerror(errno) : nullptr;
    if (judge_file(path, known ? &state : nullptr, why, result) != 0) {
        return -1;
    }
    result->card = *card;
    IniWhere where;
    if (pci_id_from_file && lookup_ini_key(path, "INFO", "PCIDID", &where) == 0) {
        (void)convert_uint_value(ini_value(where), &result->card.pci_device_id);
    }
    // The load's parse, every problem noted, and the pass over the lines
    // both read the file: errno tells why either failed.
    parse_template_keys(path, PARSE_EVERY_KEY, &result->record, &result->report);
    parse_identity_keys(path, PARSE_EVERY_KEY, &result->card, &result->record, &result->report);
    const int32_t read = scan_lines(path, pci_id_from_file, result);
    const int error = errno;
    // Whatever went wrong, a FIFO, device or socket put in the file's place
    // meanwhile is told as one that stood there from the start.
    struct stat after {};
    const bool there = stat(path, &after) == 0;
    const bool reopened = std::ranges::none_of(
        std::span(result->report.problems, result->report.count),
        [](const ParseProblem &problem) { return problem.where.answer == INI_NO_FILE; });
    const bool changed = !there || !same_file_state(result->file_state, after) ||
                         result->bytes != static_cast<uint64_t>(after.st_size);
    const char *what = !reopened   ? "could not be opened again; nothing was decided"
                       : read != 0 ? strerror(error)
                       : changed   ? "changed while it was read; nothing was decided"
                                   : nullptr;
    return judge_file(path, there ? &after : nullptr, what, result);
}

}  // namespace

int32_t check_template(const char *path, const CardIdentity *card, bool pci_id_from_file,
                       CheckResult *result)
{
    *result = CheckResult{};
    if (read_template(path, card, pci_id_from_file, result) != 0) {
        return -1;
    }
    add_errors(path, result);
    std::stable_sort(result->warning, result->warning + result->warnings,
                     [](const Finding &a, const Finding &b) { return a.line < b.line; });
    return 0;
}

void print_findings(const char *path, const CheckResult *result, bool errors_only)
{
    const uint32_t shown = result->errors + (errors_only ? 0 : result->warnings);
    for (uint32_t i = 0; i < shown; ++i) {
        const bool error = i < result->errors;
        const Finding &finding = error ? result->error[i] : result->warning[i - result->errors];
        char load_message[LOAD_MESSAGE_SIZE];
        const bool has_message =
            finding.problem != NO_PROBLEM &&
            format_load_message(path, &result->report.problems[finding.problem], load_message,
                                sizeof(load_message)) == 0;
        open_json(nullptr, JSON_OBJECT);
        print_string(PRINT_TEXT, nullptr, "%s:", path);
        print_uint(PRINT_ANY, "line", "%u: ", finding.line);
        print_string(PRINT_ANY, "severity", "%s: ", error ? "error" : "warning");
        print_string(PRINT_JSON, "key", nullptr,
                     finding.slot < KEY_SLOT_COUNT ? key_name(finding.slot) : nullptr);
        print_string(PRINT_ANY, "message", "%s\n", finding.text);
        print_string(PRINT_JSON, "load_message", nullptr, has_message ? load_message : nullptr);
        close_json();
    }
    if (!errors_only && result->dropped != 0) {
        print_string(PRINT_TEXT, nullptr, "%s:", path);
        print_uint(PRINT_TEXT, nullptr, "0: warning: %u more warnings are not shown\n",
                   result->dropped);
    }
}
