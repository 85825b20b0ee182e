#include "zorvitemplate/check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileaccess/ini_reader.h"
#include "template/template_parser.h"
#include "zorvitemplate/replace_file.h"
#include "zorvitemplate/voice.h"

namespace {

constexpr size_t SHOWN_VALUE_MOST = 31;
constexpr uint32_t PCI_ID_MAX = 0xFFFF;
constexpr uint32_t KNOWN_MODE_BITS = 0x7F;

void set_trouble(CheckResult *result, const char *path, const char *what)
{
    snprintf(result->trouble, sizeof(result->trouble), "%s: %s", path, what);
}

// A file the reader can take: a regular file that can be opened.
int32_t read_file_state(const char *path, struct stat *state, CheckResult *result)
{
    if (stat(path, state) != 0) {
        set_trouble(result, path, strerror(errno));
        return -1;
    }
    if (S_ISDIR(state->st_mode)) {
        set_trouble(result, path, "is a folder, not a template file");
        return -1;
    }
    if (!S_ISREG(state->st_mode)) {
        set_trouble(result, path, "is not a regular file");
        return -1;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        set_trouble(result, path, strerror(errno));
        return -1;
    }
    close(fd);
    return 0;
}

struct SlotInfo {
    char name[KEY_NAME_SIZE];
    TemplateSection section;
    size_t key_index;
};

SlotInfo slot_info(size_t slot)
{
    SlotInfo info{};
    describe_key_slot(slot, info.name, &info.section, &info.key_index);
    return info;
}

constexpr size_t STRAY_KINDS = STRAY_AFTER_BRACKET + 1;

// Keys that stand where a load does not look: those of a whole region are
// told at once, at the first of them.
struct UnreadTold {
    bool no_section[2];
    uint32_t strays[2][STRAY_KINDS];
    bool stray_told[2][STRAY_KINDS];
};

bool told_by_region(StrayPlace stray)
{
    return stray != STRAY_NONE && stray != STRAY_OTHER_SECTION;
}

// Why a key a load asks for was not read where it was looked for.
void add_unread_key(CheckResult *result, int16_t index, size_t slot, UnreadTold *told)
{
    const SlotInfo info = slot_info(slot);
    const KeyPlace &place = result->located.keys[slot];
    const char *section = section_name(info.section);
    FindingList *list = &result->findings;
    char value[SHOWN_VALUE_MOST * 4 + 4];
    if (place.line != 0) {
        if (place.value_length >= INI_VALUE_SIZE) {
            add_finding(list, place.line, true, index, info.name,
                        "%s has a value of %zu characters; a load reads at most 31 and takes "
                        "this one as empty",
                        info.name, place.value_length);
        } else {
            quote_file_text(place.value, place.value_length, SHOWN_VALUE_MOST, value,
                            sizeof(value));
            add_finding(list, place.line, true, index, info.name, "%s = \"%s\" is not a number",
                        info.name, value);
        }
        return;
    }
    if (result->located.section_line[info.section] == 0) {
        if (!told->no_section[info.section]) {
            told->no_section[info.section] = true;
            add_finding(list, 0, true, index, info.name,
                        "there is no [%s] section; a load reads %s from it", section, info.name);
        }
        return;
    }
    if (told_by_region(place.stray)) {
        if (told->stray_told[info.section][place.stray]) {
            return;
        }
        told->stray_told[info.section][place.stray] = true;
    }
    char more[64] = "";
    const uint32_t others =
        told_by_region(place.stray) ? told->strays[info.section][place.stray] - 1 : 0;
    if (others != 0) {
        snprintf(more, sizeof(more), "; so do %u more key%s a load asks for", others,
                 others == 1 ? "" : "s");
    }
    switch (place.stray) {
        case STRAY_NONE:
            add_finding(list, 0, true, index, info.name, "%s is missing from [%s]", info.name,
                        section);
            break;
        case STRAY_OTHER_SECTION:
            add_finding(list, place.stray_line, true, index, info.name,
                        "%s stands in [%s], but a load reads it from [%s]", info.name,
                        section_name(info.section == SECTION_INFO ? SECTION_CONFIG : SECTION_INFO),
                        section);
            break;
        case STRAY_SECOND_SECTION:
            add_finding(list, place.stray_line, true, index, info.name,
                        "%s stands in a second [%s] section, but a load reads only the first%s",
                        info.name, section, more);
            break;
        case STRAY_UNKNOWN_SECTION:
        case STRAY_BEFORE_SECTIONS:
            add_finding(list, place.stray_line, true, index, info.name,
                        "%s stands outside any section a load reads; it belongs in [%s]%s",
                        info.name, section, more);
            break;
        case STRAY_AFTER_BRACKET:
            add_finding(list, place.stray_line, true, index, info.name,
                        "%s stands after line %u, which ended [%s], so a load does not find it%s",
                        info.name, result->located.ended_at[info.section], section, more);
            break;
    }
}

bool simply_missing(const CheckResult *result, const ParseProblem &problem)
{
    if (problem.kind != PROBLEM_UNREADABLE && problem.kind != PROBLEM_PCIDID_UNREADABLE &&
        problem.kind != PROBLEM_METADATA_UNREADABLE) {
        return false;
    }
    const size_t slot = key_slot(problem.key_index, problem.element, problem.key);
    const KeyPlace &place = result->located.keys[slot];
    const TemplateSection section = slot_info(slot).section;
    return place.line == 0 && place.stray == STRAY_NONE &&
           result->located.section_line[section] != 0;
}

// A per-PF key whose sixteen entries are all simply missing: one finding.
bool whole_table_missing(const CheckResult *result, uint32_t at)
{
    const ParseProblem &first = result->report.problems[at];
    if (first.key_index >= TEMPLATE_KEY_COUNT || TEMPLATE_KEYS[first.key_index].count != PF_COUNT ||
        first.element != 0 || at + PF_COUNT > result->report.count) {
        return false;
    }
    for (uint32_t pf = 0; pf < PF_COUNT; ++pf) {
        const ParseProblem &problem = result->report.problems[at + pf];
        if (problem.key_index != first.key_index || problem.element != pf ||
            !simply_missing(result, problem)) {
            return false;
        }
    }
    return true;
}

// The report's problems, in the order a load meets them.
void add_errors(const CheckSetup *setup, CheckResult *result, bool (&errored)[KEY_SLOT_COUNT])
{
    UnreadTold told{};
    for (uint32_t i = 0; i < result->report.count; ++i) {
        const ParseProblem &problem = result->report.problems[i];
        if (problem.kind == PROBLEM_UNREADABLE || problem.kind == PROBLEM_PCIDID_UNREADABLE ||
            problem.kind == PROBLEM_METADATA_UNREADABLE) {
            const size_t slot = key_slot(problem.key_index, problem.element, problem.key);
            const KeyPlace &place = result->located.keys[slot];
            if (place.line == 0) {
                ++told.strays[slot_info(slot).section][place.stray];
            }
        }
    }
    FindingList *list = &result->findings;
    for (uint32_t i = 0; i < result->report.count; ++i) {
        const ParseProblem &problem = result->report.problems[i];
        const auto index = static_cast<int16_t>(i);
        if (problem.kind == PROBLEM_PATH_TOO_LONG) {
            add_finding(list, 0, true, index, "",
                        "the path has %zu characters; a load takes at most 511",
                        strlen(setup->path));
            continue;
        }
        const size_t slot = key_slot(problem.key_index, problem.element, problem.key);
        errored[slot] = true;
        const KeyPlace &place = result->located.keys[slot];
        switch (problem.kind) {
            case PROBLEM_UNREADABLE:
            case PROBLEM_PCIDID_UNREADABLE:
            case PROBLEM_METADATA_UNREADABLE:
                if (whole_table_missing(result, i)) {
                    const char *base = TEMPLATE_KEYS[problem.key_index].name;
                    add_finding(list, 0, true, index, problem.key,
                                "%s00 to %s15 are missing from [%s]", base, base,
                                section_name(TEMPLATE_KEYS[problem.key_index].section));
                    for (uint32_t pf = 1; pf < PF_COUNT; ++pf) {
                        errored[slot + pf] = true;
                    }
                    i += PF_COUNT - 1;
                } else {
                    add_unread_key(result, index, slot, &told);
                }
                break;
            case PROBLEM_OUT_OF_RANGE:
                add_finding(list, place.line, true, index, problem.key,
                            "%s = %u is out of range 0 to %u", problem.key, problem.value,
                            problem.expected);
                break;
            case PROBLEM_PCIDID_MISMATCH:
                add_finding(list, place.line, true, index, problem.key,
                            "PCIDID 0x%X is not the card's PCI device id 0x%X", problem.value,
                            problem.expected);
                break;
            case PROBLEM_METADATA_MISMATCH:
                add_finding(list, place.line, true, index, problem.key,
                            "METADATA 0x%08X is not the checksum of the record the file "
                            "describes, 0x%08X",
                            problem.value, problem.expected);
                break;
            case PROBLEM_PATH_TOO_LONG:
                break;
        }
    }
}

bool version_read(const CheckResult *result)
{
    for (uint32_t i = 0; i < result->report.count; ++i) {
        if (strcmp(result->report.problems[i].key, "VERSION") == 0) {
            return false;
        }
    }
    return true;
}

// Keys of blocks the mode leaves out: one warning a block, at its first line.
void warn_unread_blocks(CheckResult *result)
{
    const uint32_t mode = result->record.mode;
    for (uint32_t bit = 1; bit <= MODE_OVNP; bit <<= 1) {
        // PCIDID is read whatever the mode; its bit only stores it.
        if ((mode & bit) != 0 || bit == MODE_PCIDID) {
            continue;
        }
        size_t first = KEY_SLOT_COUNT;
        for (size_t slot = 0; slot < KEY_SLOT_COUNT; ++slot) {
            const SlotInfo info = slot_info(slot);
            if (info.key_index < TEMPLATE_KEY_COUNT &&
                TEMPLATE_KEYS[info.key_index].mode_bit == bit) {
                const uint32_t line = result->located.keys[slot].line;
                if (line != 0 &&
                    (first == KEY_SLOT_COUNT || line < result->located.keys[first].line)) {
                    first = slot;
                }
            }
        }
        if (first != KEY_SLOT_COUNT) {
            const SlotInfo info = slot_info(first);
            add_finding(&result->findings, result->located.keys[first].line, false, NO_PROBLEM,
                        info.name,
                        "block 0x%02X is not read, from %s on: mode 0x%02X leaves it out", bit,
                        info.name, mode);
        }
    }
}

void add_warnings(const CheckSetup *setup, CheckResult *result,
                  const bool (&errored)[KEY_SLOT_COUNT])
{
    FindingList *list = &result->findings;
    const LocatedFile &located = result->located;
    if (version_read(result)) {
        warn_unread_blocks(result);
        if (result->record.mode > KNOWN_MODE_BITS) {
            add_finding(list, located.keys[VERSION_SLOT].line, false, NO_PROBLEM, "VERSION",
                        "mode 0x%X has bits above 0x40, which add no block; the checksum then "
                        "covers the basic keys only",
                        result->record.mode);
        }
    }
    for (size_t slot = 0; slot < KEY_SLOT_COUNT; ++slot) {
        const KeyPlace &place = located.keys[slot];
        const SlotInfo info = slot_info(slot);
        if (place.stray_line != 0 && place.line != 0) {
            add_finding(list, place.stray_line, false, NO_PROBLEM, info.name,
                        "%s here is not read; a load takes the one at line %u", info.name,
                        place.line);
        } else if (place.stray_line != 0 && !errored[slot]) {
            add_finding(list, place.stray_line, false, NO_PROBLEM, info.name,
                        "%s stands outside the first [%s] section and is not read", info.name,
                        section_name(info.section));
        }
    }
    const size_t modename = key_slot(key_index("MODENAME"), 0, "MODENAME");
    if ((result->record.mode & MODE_MODENAME) != 0 && located.keys[modename].line != 0 &&
        located.keys[modename].value_length >= INI_VALUE_SIZE) {
        add_finding(list, located.keys[modename].line, false, NO_PROBLEM, "MODENAME",
                    "MODENAME has %zu characters; a load keeps at most 31 and reads this one as "
                    "empty",
                    located.keys[modename].value_length);
    }
    if (setup->pci_id_from_file && driver_reports_pci_id(&setup->card) &&
        setup->card.pci_device_id > PCI_ID_MAX) {
        const size_t pcidid = key_slot(key_index("PCIDID"), 0, "PCIDID");
        add_finding(list, located.keys[pcidid].line, false, NO_PROBLEM, "PCIDID",
                    "PCIDID 0x%X is wider than a PCI device id: no card has it",
                    setup->card.pci_device_id);
    }
}

// Errors first, in the order found; warnings after them by line. The scan's
// warnings stand before the errors, the other warnings after them.
void order_findings(FindingList *list, uint32_t scan_warnings, uint32_t errors)
{
    Finding *items = list->items;
    std::rotate(items, items + scan_warnings, items + scan_warnings + errors);
    for (uint32_t i = errors + 1; i < list->count; ++i) {
        if (items[i].line >= items[i - 1].line) {
            continue;
        }
        const Finding moving = items[i];
        uint32_t at = i;
        while (at > errors && items[at - 1].line > moving.line) {
            items[at] = items[at - 1];
            --at;
        }
        items[at] = moving;
    }
}

}  // namespace

int32_t check_template(const CheckSetup *setup, CheckResult *result)
{
    result->findings.count = 0;
    result->findings.dropped = 0;
    result->errors = 0;
    result->warnings = 0;
    result->trouble[0] = '\0';
    const char *path = setup->path;
    if (read_file_state(path, &result->file_state, result) != 0) {
        return -1;
    }
    if (locate_template_lines(path, &result->located, &result->findings) != 0) {
        set_trouble(result, path, strerror(errno));
        return -1;
    }
    if (result->located.nul_line != 0) {
        char what[96];
        snprintf(what, sizeof(what), "is no text file: line %u holds a NUL byte",
                 result->located.nul_line);
        set_trouble(result, path, what);
        return -1;
    }

    CheckSetup used = *setup;
    const int hushed = hush_libraries();
    if (used.pci_id_from_file) {
        used.card.pci_device_id = 0;
        (void)get_uint_key_value(path, "INFO", "PCIDID", &used.card.pci_device_id);
    }
    const int32_t status = check_template_file(path, &used.card, &result->record, &result->report);
    unhush_libraries(hushed);
    result->card = used.card;
    if (status != 0) {
        set_trouble(result, path, "the parse failed");
        return -1;
    }

    struct stat after {};
    if (stat(path, &after) != 0 || !same_file_state(result->file_state, after) ||
        result->located.bytes != static_cast<uint64_t>(after.st_size)) {
        set_trouble(result, path, "changed while it was read; nothing was decided");
        return -1;
    }

    bool errored[KEY_SLOT_COUNT] = {};
    const uint32_t scan_warnings = result->findings.count;
    add_errors(&used, result, errored);
    result->errors = result->findings.count - scan_warnings;
    add_warnings(&used, result, errored);
    order_findings(&result->findings, scan_warnings, result->errors);
    result->warnings = result->findings.count - result->errors + result->findings.dropped;
    return 0;
}

void print_findings(FILE *out, const char *path, const CheckResult *result, bool errors_only)
{
    for (uint32_t i = 0; i < result->findings.count; ++i) {
        const Finding &finding = result->findings.items[i];
        if (errors_only && !finding.error) {
            continue;
        }
        put_shown_line(out, "%s:%u: %s: %s", path, finding.line,
                       finding.error ? "error" : "warning", finding.text);
    }
    if (!errors_only && result->findings.dropped != 0) {
        put_shown_line(out, "%s:0: warning: %u more warnings are not shown", path,
                       result->findings.dropped);
    }
}

void print_findings_json(FILE *out, const char *path, const CheckResult *result, const char *indent)
{
    fprintf(out, "%s\"findings\": [", indent);
    for (uint32_t i = 0; i < result->findings.count; ++i) {
        const Finding &finding = result->findings.items[i];
        fprintf(out, "%s\n%s  {\"line\": %u, \"severity\": \"%s\", \"key\": ", i == 0 ? "" : ",",
                indent, finding.line, finding.error ? "error" : "warning");
        if (finding.key[0] == '\0') {
            fputs("null", out);
        } else {
            put_json_text(out, finding.key);
        }
        fputs(", \"message\": ", out);
        put_json_text(out, finding.text);
        fputs(", \"load_message\": ", out);
        char load_message[LOAD_MESSAGE_SIZE];
        if (finding.problem != NO_PROBLEM &&
            format_load_message(path, &result->report.problems[finding.problem], load_message,
                                sizeof(load_message)) == 0) {
            put_json_text(out, load_message);
        } else {
            fputs("null", out);
        }
        fputc('}', out);
    }
    if (result->findings.count != 0) {
        fprintf(out, "\n%s", indent);
    }
    fputc(']', out);
}
