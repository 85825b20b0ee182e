// findings: what a check learns, told as FILE:LINE findings. The load's own
// walk gives the errors, each said with why its key was not read, where
// the line pass saw the key; the warnings are about the values the walk
// read (numbers that wrap at 2^32, the mode, the card's id, MODENAME) and
// the line pass's own.
#include <fcntl.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#include "bounded/shown_text.h"
#include "fileaccess/ini_reader.h"
#include "template/template_parser.h"
#include "zorvitemplate/check.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/replace_file.h"

void add_finding(CheckResult *result, uint32_t line, int16_t problem, size_t slot,
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

namespace {

constexpr size_t PCIDID_SLOT = key_slot(key_index("PCIDID"), 0);
constexpr size_t MODENAME_SLOT = key_slot(key_index("MODENAME"), 0);

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
// value a load read, for a value that is no number), a number (the line
// where the reader met it, or the length of a value too long) and the most
// characters a load reads of a line or of a value.
constexpr const char *REASON_TEXTS[REASON_COUNT] = {
    "%s is not read: there is no [%s] section",
    "%s stands in [%s] after line %u, which ended it, so a load does not find it",
    "%s stands in a second [%s] section, but a load reads only the first",
    "%s stands outside any section a load reads; it belongs in [%s]",
    "%s is missing from [%s]",
    "%s stands in the other section, but a load reads it from [%s]",
    ("%s of [%s] stands inside line %u, which is longer than %u characters: a load reads it in "
     "pieces and does not find it"),
    "%s = \"%s\" is not a number",
    "%s of [%s] has a value of %u characters; a load reads at most %u and takes this one as empty",
};

Reason reason_of(const CheckResult *result, const ParseProblem &problem)
{
    const IniWhere &where = problem.where;
    const KeySeen &seen = result->seen[key_slot(problem.row, problem.element)];
    const auto own = static_cast<SeenIn>(TEMPLATE_KEYS[problem.row].section);
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

// The report's problems, in the order a load meets them, each where the
// reader met it. An unread key's text is a literal of REASON_TEXTS.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
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
    for (const ParseProblem &problem : std::span(report.problems, report.count)) {
        const auto index = static_cast<int16_t>(&problem - report.problems);
        if (problem.kind == PROBLEM_PATH_TOO_LONG) {
            add_finding(result, 0, index, KEY_SLOT_COUNT,
                        "the path has %zu characters; a load takes at most 511", strlen(path));
            continue;
        }
        const TemplateKey &key = TEMPLATE_KEYS[problem.row];
        const size_t slot = key_slot(problem.row, problem.element);
        const IniWhere &where = problem.where;
        // A value out of range, or the card's id or the checksum not matched.
        if (problem.kind != PROBLEM_UNREADABLE) {
            add_finding(result, where.line, index, slot,
                        problem.kind == PROBLEM_OUT_OF_RANGE ? "%s = %u is out of range 0 to %u"
                        : key.kind == KEY_CARD_ID ? "%s 0x%X is not the card's PCI device id 0x%X"
                                                  : "%s 0x%08X is not the checksum of the record "
                                                    "the file describes, 0x%08X",
                        key_name(slot), problem.value, problem.expected);
        } else if (missing[problem.row] == PF_COUNT) {
            if (problem.element == 0) {
                add_finding(result, 0, index, slot, "%s00 to %s15 are missing from [%s]", key.name,
                            key.name, section_name(key.section));
            }
        } else if (const Reason reason = reason_of(result, problem);
                   unread[reason][key.section] != 0) {
            // Every key of a reason not grouped is told; of a grouped one
            // only the first, which empties its group and counts the others
            // but for REASON_NO_SECTION.
            const uint32_t keys =
                reason > REASON_OUTSIDE ? 1 : std::exchange(unread[reason][key.section], 0);
            const uint32_t others = reason == REASON_NO_SECTION ? 0 : keys - 1;
            char value[SHOWN_MOST];
            char text[FINDING_TEXT_SIZE];
            (void)show_text(where.value, strlen(where.value), value, sizeof(value), SHOW_C0,
                            SHOW_CUT);
            snprintf(text, sizeof(text), REASON_TEXTS[reason], key_name(slot),
                     reason == REASON_NOT_NUMBER ? value : section_name(key.section),
                     static_cast<uint32_t>(reason == REASON_LONG_VALUE ? where.value_length
                                                                       : where.line),
                     reason == REASON_LONG_LINE ? INI_LINE_SIZE - 1 : INI_VALUE_SIZE - 1);
            // The reader's line; where it met no key in the section, the key's own.
            add_finding(result, where.answer == INI_NO_KEY ? result->seen[slot].line : where.line,
                        index, slot, others != 0 ? "%s; so do %u more key%s a load asks for" : "%s",
                        text, others, others == 1 ? "" : "s");
        }
    }
}
#pragma GCC diagnostic pop

// Warnings about what the walk read: values, the mode, the card's id.
void warn_about_values(bool pci_id_from_file, CheckResult *result)
{
    const ParseReport &report = result->report;
    char shown[4 * INI_VALUE_SIZE];
    for (size_t slot = 0; slot < KEY_SLOT_COUNT; ++slot) {
        const IniWhere &where = report.places[slot];
        const bool text = where.answer == INI_FOUND && slot == MODENAME_SLOT;
        // A number written past 32 bits, or below 0: a load reads another,
        // as glibc tells by reading it in 64 bits (and one past 64 bits as
        // ULLONG_MAX).
        bool hex = false;
        const char *digits = value_digits(ini_value(where), &hex);
        if (text && where.value_length >= INI_VALUE_SIZE) {
            add_finding(
                result, where.line, NO_PROBLEM, slot,
                "%s has %zu characters; a load keeps at most %u and reads this one as empty",
                key_name(slot), where.value_length, INI_VALUE_SIZE - 1);
        } else if (text && strchr(where.value, '#') != nullptr) {
            add_finding(result, where.line, NO_PROBLEM, slot,
                        "%s holds a '#'; a load keeps it and what follows in the name",
                        key_name(slot));
        } else if (text && show_text(where.value, strlen(where.value), shown, sizeof(shown),
                                     SHOW_C0_C1) != static_cast<int32_t>(strlen(where.value))) {
            add_finding(result, where.line, NO_PROBLEM, slot,
                        "%s holds control bytes, shown here and by the display as \\xHH: %s",
                        key_name(slot), shown);
        } else if (where.answer == INI_FOUND && !text &&
                   strtoull(digits, nullptr, hex ? 16 : 10) > UINT32_MAX) {
            add_finding(result, where.line, NO_PROBLEM, slot,
                        "%s = %s does not fit in 32 bits; a load reads it as %u", key_name(slot),
                        where.value, report.values[slot]);
        }
    }
    if (report.places[VERSION_SLOT].answer == INI_FOUND &&
        (result->record.mode & ~MODE_BITS_KNOWN) != 0) {
        add_finding(result, report.places[VERSION_SLOT].line, NO_PROBLEM, VERSION_SLOT,
                    "mode 0x%X has bits above 0x%X, which add no block; the checksum then "
                    "covers the basic keys only",
                    result->record.mode, std::bit_floor(MODE_BITS_KNOWN));
    }
    const CardIdentity &card = result->card;
    if (pci_id_from_file && driver_reports_pci_id(&card) && card.pci_device_id > PCI_ID_MAX) {
        add_finding(result, report.places[PCIDID_SLOT].line, NO_PROBLEM, PCIDID_SLOT,
                    "PCIDID 0x%X is wider than a PCI device id: no card has it",
                    card.pci_device_id);
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

}  // namespace

// The file is opened without waiting for anything (a FIFO, a device, a
// lease) and judged by the descriptor itself; one that cannot be opened
// still says what it is.
int32_t check_template(const char *path, const CardIdentity *card, bool pci_id_from_file,
                       CheckResult *result)
{
    *result = CheckResult{};
    result->fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int open_error = errno;
    struct stat &state = result->file_state;
    const bool known = (result->fd < 0 ? stat(path, &state) : fstat(result->fd, &state)) == 0;
    const char *why = result->fd < 0 ? strerror(open_error) : !known ? strerror(errno) : nullptr;
    if (judge_file(path, known ? &state : nullptr, why, result) != 0) {
        return -1;
    }
    result->card = *card;
    const TemplateKey &pcidid = TEMPLATE_KEYS[key_index("PCIDID")];
    if (IniWhere where; pci_id_from_file && lookup_ini_key(path, section_name(pcidid.section),
                                                           pcidid.name, &where) == 0) {
        result->pci_id_from_file =
            convert_uint_value(ini_value(where), &result->card.pci_device_id) == 0;
    }
    // The load's parse, every problem noted, and the pass over the lines
    // both read the file: errno tells why either failed.
    parse_template_keys(path, PARSE_EVERY_KEY, &result->record, &result->report);
    parse_identity_keys(path, PARSE_EVERY_KEY, &result->card, &result->record, &result->report);
    warn_about_values(pci_id_from_file, result);
    const char *read_error = scan_lines(path, result) != 0 ? strerror(errno) : nullptr;
    // Whatever went wrong, a FIFO, device or socket put in the file's place
    // meanwhile is told as one that stood there from the start.
    struct stat after {};
    const bool there = stat(path, &after) == 0;
    const bool reopened =
        std::ranges::count(result->report.places, INI_NO_FILE, &IniWhere::answer) == 0;
    const bool changed = !there || !same_file_state(result->file_state, after) ||
                         result->bytes != static_cast<uint64_t>(after.st_size);
    const char *what = !reopened               ? "could not be opened again; nothing was decided"
                       : read_error != nullptr ? read_error
                       : changed               ? "changed while it was read; nothing was decided"
                                               : nullptr;
    if (judge_file(path, there ? &after : nullptr, what, result) != 0) {
        return -1;
    }
    add_errors(path, result);
    std::ranges::stable_sort(std::span(result->warning, result->warnings), {}, &Finding::line);
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
            error && format_load_message(path, &result->report.problems[finding.problem],
                                         load_message, sizeof(load_message)) == 0;
        open_json(nullptr, JSON_OBJECT);
        print_string(nullptr, "%s:", path);
        print_uint("line", "%u: ", finding.line);
        print_string("severity", "%s: ", error ? "error" : "warning");
        print_string("key", nullptr,
                     finding.slot < KEY_SLOT_COUNT ? key_name(finding.slot) : nullptr);
        print_string("message", "%s\n", finding.text);
        print_string("load_message", nullptr, has_message ? load_message : nullptr);
        close_json();
    }
    if (!errors_only && result->dropped != 0) {
        print_string(nullptr, "%s:", path);
        print_uint(nullptr, "0: warning: %u more warnings are not shown\n", result->dropped);
    }
}
