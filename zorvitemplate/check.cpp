#include "zorvitemplate/check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "bounded/shown_text.h"
#include "fileaccess/ini_reader.h"
#include "template/template_parser.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/replace_file.h"

namespace {

constexpr size_t SHOWN_VALUE_MOST = 31;

void set_trouble(CheckResult *result, const char *path, const char *what)
{
    snprintf(result->trouble, sizeof(result->trouble), "%s: %s", path, what);
}

// The file, opened without waiting for anything (a FIFO, a device, a
// lease) and judged by the descriptor itself; one that cannot be opened
// still says what it is.
int32_t open_template(const char *path, CheckResult *result)
{
    result->fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int error = result->fd < 0 ? errno : 0;
    struct stat &state = result->file_state;
    const bool known = (result->fd < 0 ? stat(path, &state) : fstat(result->fd, &state)) == 0;
    if (known &&
        check_regular(path, state.st_mode, result->trouble, sizeof(result->trouble)) != 0) {
        return -1;
    }
    if (!known || error != 0) {
        set_trouble(result, path, strerror(error != 0 ? error : errno));
        return -1;
    }
    return 0;
}

// Why a key a load asks for was not read, as the reader's answer and the
// place the key stands in the file (if anywhere) tell it.
enum Reason : uint8_t {
    REASON_MISSING,
    REASON_NO_SECTION,
    REASON_AFTER_END,  // after the line that ended its section
    REASON_SECOND,     // in a later section of its name
    REASON_OTHER,      // in the other section a load reads
    REASON_OUTSIDE,    // before any header, or in a section no load reads
    REASON_LONG_LINE,
    REASON_NOT_NUMBER,
    REASON_LONG_VALUE,
    REASON_COUNT,
};

// Reasons told once for the keys of a section, with a count of the others.
bool told_once(Reason reason)
{
    return reason == REASON_AFTER_END || reason == REASON_SECOND || reason == REASON_OUTSIDE ||
           reason == REASON_NO_SECTION;
}

Reason reason_of(const CheckResult *result, const ParseProblem &problem)
{
    const IniWhere &where = problem.where;
    const KeySeen &seen = result->seen[key_slot(problem.row, problem.element)];
    const TemplateSection section = TEMPLATE_KEYS[problem.row].section;
    switch (where.answer) {
        case INI_FOUND:
            return where.value_length >= INI_VALUE_SIZE ? REASON_LONG_VALUE : REASON_NOT_NUMBER;
        case INI_NO_SECTION:
            return REASON_NO_SECTION;
        case INI_LONG_LINE:
            return REASON_LONG_LINE;
        case INI_NO_KEY:
        case INI_NO_FILE:  // check_template sees to it that none is left
        case INI_UNASKED:
            break;
    }
    const SeenIn own = section == SECTION_INFO ? SEEN_INFO : SEEN_CONFIG;
    if (seen.line == 0) {
        return REASON_MISSING;
    }
    if (seen.header_line == where.section_line) {
        return REASON_AFTER_END;
    }
    if (seen.section == own) {
        return REASON_SECOND;
    }
    return seen.section == SEEN_INFO || seen.section == SEEN_CONFIG ? REASON_OTHER : REASON_OUTSIDE;
}

// A per-PF key whose sixteen elements are all simply missing, from `at` on.
bool whole_table_missing(const CheckResult *result, uint32_t at)
{
    const ParseReport &report = result->report;
    const ParseProblem &first = report.problems[at];
    if (first.kind != PROBLEM_UNREADABLE || TEMPLATE_KEYS[first.row].count != PF_COUNT ||
        first.element != 0 || at + PF_COUNT > report.count) {
        return false;
    }
    for (uint32_t pf = 0; pf < PF_COUNT; ++pf) {
        const ParseProblem &problem = report.problems[at + pf];
        if (problem.kind != PROBLEM_UNREADABLE || problem.row != first.row ||
            problem.element != pf || reason_of(result, problem) != REASON_MISSING) {
            return false;
        }
    }
    return true;
}

void add_unread(CheckResult *result, uint32_t at, const char *more)
{
    const ParseProblem &problem = result->report.problems[at];
    const IniWhere &where = problem.where;
    const size_t slot = key_slot(problem.row, problem.element);
    const KeySeen &seen = result->seen[slot];
    const TemplateSection own = TEMPLATE_KEYS[problem.row].section;
    const char *section = section_name(own);
    const char *other = section_name(own == SECTION_INFO ? SECTION_CONFIG : SECTION_INFO);
    const char *name = key_name(slot);
    const auto index = static_cast<int16_t>(at);
    FindingList *list = &result->findings;
    char value[SHOWN_VALUE_MOST * 4 + 4];
    switch (reason_of(result, problem)) {
        case REASON_MISSING:
            add_finding(list, 0, true, index, slot, "%s is missing from [%s]", name, section);
            break;
        case REASON_NO_SECTION:
            add_finding(list, 0, true, index, slot,
                        "there is no [%s] section; a load reads %s from it", section, name);
            break;
        case REASON_AFTER_END:
            add_finding(list, seen.line, true, index, slot,
                        "%s stands after line %u, which ended [%s], so a load does not find it%s",
                        name, where.line, section, more);
            break;
        case REASON_SECOND:
            add_finding(list, seen.line, true, index, slot,
                        "%s stands in a second [%s] section, but a load reads only the first%s",
                        name, section, more);
            break;
        case REASON_OTHER:
            add_finding(list, seen.line, true, index, slot,
                        "%s stands in [%s], but a load reads it from [%s]", name, other, section);
            break;
        case REASON_OUTSIDE:
            add_finding(list, seen.line, true, index, slot,
                        "%s stands outside any section a load reads; it belongs in [%s]%s", name,
                        section, more);
            break;
        case REASON_LONG_LINE:
            add_finding(list, where.line, true, index, slot,
                        "%s stands inside line %u, which is longer than 511 characters: a load "
                        "reads it in pieces and does not find %s",
                        name, where.line, name);
            break;
        case REASON_NOT_NUMBER:
            quote_file_text(where.value, strlen(where.value), SHOWN_VALUE_MOST, value,
                            sizeof(value));
            add_finding(list, where.line, true, index, slot, "%s = \"%s\" is not a number", name,
                        value);
            break;
        case REASON_LONG_VALUE:
            add_finding(list, where.line, true, index, slot,
                        "%s has a value of %zu characters; a load reads at most 31 and takes "
                        "this one as empty",
                        name, where.value_length);
            break;
        case REASON_COUNT:
            break;
    }
}

// The report's problems, in the order a load meets them, each where the
// reader met it.
void add_errors(const char *path, CheckResult *result)
{
    const ParseReport &report = result->report;
    // Keys of a section left unread for one reason are told at the first.
    uint32_t told_count[REASON_COUNT][2] = {};
    bool told[REASON_COUNT][2] = {};
    for (uint32_t i = 0; i < report.count; ++i) {
        const ParseProblem &problem = report.problems[i];
        if (problem.kind == PROBLEM_UNREADABLE) {
            ++told_count[reason_of(result, problem)][TEMPLATE_KEYS[problem.row].section];
        }
    }
    FindingList *list = &result->findings;
    for (uint32_t i = 0; i < report.count; ++i) {
        const ParseProblem &problem = report.problems[i];
        const auto index = static_cast<int16_t>(i);
        if (problem.kind == PROBLEM_PATH_TOO_LONG) {
            add_finding(list, 0, true, index, KEY_SLOT_COUNT,
                        "the path has %zu characters; a load takes at most 511", strlen(path));
            continue;
        }
        const TemplateKey &key = TEMPLATE_KEYS[problem.row];
        const size_t slot = key_slot(problem.row, problem.element);
        const char *name = key_name(slot);
        const uint32_t line = problem.where.line;
        if (problem.kind == PROBLEM_OUT_OF_RANGE) {
            add_finding(list, line, true, index, slot, "%s = %u is out of range 0 to %u", name,
                        problem.value, problem.expected);
        } else if (problem.kind == PROBLEM_MISMATCH && key.kind == KEY_CARD_ID) {
            add_finding(list, line, true, index, slot,
                        "PCIDID 0x%X is not the card's PCI device id 0x%X", problem.value,
                        problem.expected);
        } else if (problem.kind == PROBLEM_MISMATCH) {
            add_finding(list, line, true, index, slot,
                        "METADATA 0x%08X is not the checksum of the record the file describes, "
                        "0x%08X",
                        problem.value, problem.expected);
        } else if (whole_table_missing(result, i)) {
            add_finding(list, 0, true, index, slot, "%s00 to %s15 are missing from [%s]", key.name,
                        key.name, section_name(key.section));
            i += PF_COUNT - 1;
        } else {
            const Reason reason = reason_of(result, problem);
            bool &first = told[reason][key.section];
            if (told_once(reason) && first) {
                continue;
            }
            first = true;
            char more[64] = "";
            const uint32_t others = told_count[reason][key.section] - 1;
            if (told_once(reason) && reason != REASON_NO_SECTION && others != 0) {
                snprintf(more, sizeof(more), "; so do %u more key%s a load asks for", others,
                         others == 1 ? "" : "s");
            }
            add_unread(result, i, more);
        }
    }
}

}  // namespace

int32_t check_template_file(const char *path, const CardIdentity *card, ResourceTemplate *record,
                            ParseReport *report)
{
    parse_template_keys(path, PARSE_EVERY_KEY, record, report);
    return parse_identity_keys(path, PARSE_EVERY_KEY, card, record, report);
}

bool warning_kept(const FindingList *list)
{
    return list->warnings < WARNING_MAX;
}

void add_finding_v(FindingList *list, uint32_t line, bool error, int16_t problem, size_t slot,
                   const char *format, va_list args)
{
    if (!error && !warning_kept(list)) {
        ++list->dropped;
        return;
    }
    if (list->count >= FINDING_MAX) {
        return;
    }
    Finding *finding = &list->items[list->count++];
    finding->line = line;
    finding->error = error;
    finding->problem = problem;
    finding->slot = static_cast<uint16_t>(slot);
    list->warnings += error ? 0 : 1;
    vsnprintf(finding->text, sizeof(finding->text), format, args);
}

void add_finding(FindingList *list, uint32_t line, bool error, int16_t problem, size_t slot,
                 const char *format, ...)
{
    va_list args;
    va_start(args, format);
    add_finding_v(list, line, error, problem, slot, format, args);
    va_end(args);
}

void quote_file_text(const char *text, size_t length, size_t most, char *out, size_t size)
{
    static constexpr char CUT[] = "...";
    const size_t shown = length < most ? length : most;
    const size_t room = size > sizeof(CUT) ? size - (sizeof(CUT) - 1) : size;
    if (show_text(text, shown, out, room, SHOW_C0) >= 0 && shown < length) {
        strcat(out, CUT);
    }
}

int32_t check_template(const CheckSetup *setup, CheckResult *result)
{
    result->findings.count = 0;
    result->findings.warnings = 0;
    result->findings.dropped = 0;
    result->errors = 0;
    result->trouble[0] = '\0';
    const char *path = setup->path;
    if (open_template(path, result) != 0) {
        return -1;
    }
    CheckSetup used = *setup;
    if (used.pci_id_from_file) {
        used.card.pci_device_id = 0;
        IniWhere where;
        if (lookup_ini_key(path, "INFO", "PCIDID", &where) == 0) {
            (void)convert_uint_value(ini_value(where), &used.card.pci_device_id);
        }
    }
    result->card = used.card;
    const int32_t parsed = check_template_file(path, &used.card, &result->record, &result->report);
    const int32_t linted = parsed != 0 ? 0 : lint_template(&used, result);
    const int error = errno;
    // Whatever went wrong, a FIFO, device or socket put in the file's place
    // meanwhile is told as one that stood there from the start.
    struct stat after {};
    const bool there = stat(path, &after) == 0;
    if (there &&
        check_regular(path, after.st_mode, result->trouble, sizeof(result->trouble)) != 0) {
        return -1;
    }
    if (parsed != 0) {
        set_trouble(result, path, "the parse failed");
        return -1;
    }
    for (uint32_t i = 0; i < result->report.count; ++i) {
        if (result->report.problems[i].where.answer == INI_NO_FILE) {
            set_trouble(result, path, "could not be opened again; nothing was decided");
            return -1;
        }
    }
    if (linted != 0) {
        set_trouble(result, path, strerror(error));
        return -1;
    }
    if (!there || !same_file_state(result->file_state, after) ||
        result->bytes != static_cast<uint64_t>(after.st_size)) {
        set_trouble(result, path, "changed while it was read; nothing was decided");
        return -1;
    }
    // The warnings came first; the errors go before them, in the load's
    // order, and the warnings by line.
    FindingList *list = &result->findings;
    const uint32_t warnings = list->count;
    add_errors(path, result);
    result->errors = list->count - warnings;
    std::rotate(list->items, list->items + warnings, list->items + list->count);
    std::stable_sort(list->items + result->errors, list->items + list->count,
                     [](const Finding &a, const Finding &b) { return a.line < b.line; });
    return 0;
}

void print_findings(const char *path, const CheckResult *result)
{
    open_array("findings");
    for (uint32_t i = 0; i < result->findings.count; ++i) {
        const Finding &finding = result->findings.items[i];
        const char *name = finding.slot < KEY_SLOT_COUNT ? key_name(finding.slot) : nullptr;
        char load_message[LOAD_MESSAGE_SIZE];
        const bool has_message =
            finding.problem != NO_PROBLEM &&
            format_load_message(path, &result->report.problems[finding.problem], load_message,
                                sizeof(load_message)) == 0;
        open_object(nullptr);
        print_string(PRINT_TEXT, nullptr, "%s:", path);
        print_uint(PRINT_ANY, "line", "%u: ", finding.line);
        print_string(PRINT_ANY, "severity", "%s: ", finding.error ? "error" : "warning");
        print_string(PRINT_JSON, "key", nullptr, name);
        print_string(PRINT_ANY, "message", "%s\n", finding.text);
        print_string(PRINT_JSON, "load_message", nullptr, has_message ? load_message : nullptr);
        close_object();
    }
    if (result->findings.dropped != 0) {
        print_string(PRINT_TEXT, nullptr, "%s:", path);
        print_uint(PRINT_TEXT, nullptr, "0: warning: %u more warnings are not shown\n",
                   result->findings.dropped);
    }
    close_array();
}

void say_errors(const char *path, const CheckResult *result)
{
    for (uint32_t i = 0; i < result->errors; ++i) {
        const Finding &finding = result->findings.items[i];
        say_line("%s:%u: error: %s", path, finding.line, finding.text);
    }
}
