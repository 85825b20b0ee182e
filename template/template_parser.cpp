// Builds the resource template from a template file, one key at a time. A
// load stops at the first key that is missing, unreadable or out of range; a
// check walks the same keys in the same order and notes every problem.
#include "template/template_parser.h"

#include <cstring>

#include "bounded/bounded.h"
#include "template/template_keys.h"

namespace {

constexpr size_t PATH_COPY_SIZE = 512;
constexpr size_t VERSION_ROW = key_index("VERSION");
static_assert(VERSION_ROW == 0, "VERSION is read first");

struct ParseRun {
    const char *path;
    ParseScope scope;
    ResourceTemplate *record;
    ParseReport *report;
};

// Notes a problem, with its key's place from the report unless it brings
// one; the status says whether the walk goes on.
int32_t add_problem(const ParseRun &run, ParseProblem problem)
{
    ParseReport *report = run.report;
    if (problem.where.answer == INI_UNASKED && problem.row != NO_KEY_ROW) {
        problem.where = report->places[key_slot(problem.row, problem.element)];
    }
    if (report->count < PARSE_PROBLEM_MAX) {
        report->problems[report->count++] = problem;
    }
    return run.scope == PARSE_EVERY_KEY ? 0 : STATUS_FAILED;
}

// Element `element` of the key at `row`, looked up as a number in its
// section. 0 with `*read` set and the value; a lookup that fails, or a value
// that is no number, is a problem.
int32_t look_up_number(const ParseRun &run, size_t row, uint32_t element, uint32_t *value,
                       bool *read)
{
    const size_t slot = key_slot(row, element);
    IniWhere &where = run.report->places[slot];
    *read = false;
    if (lookup_ini_key(run.path, section_name(TEMPLATE_KEYS[row].section), key_name(slot),
                       &where) != 0 ||
        convert_uint_value(ini_value(where), value) != 0) {
        return add_problem(run, {.kind = PROBLEM_UNREADABLE,
                                 .row = static_cast<uint16_t>(row),
                                 .element = static_cast<uint8_t>(element)});
    }
    run.report->values[slot] = *value;
    *read = true;
    return 0;
}

// Reads one element of a number key (VERSION first of all), checks it
// against the key's bound and stores it.
int32_t read_number(const ParseRun &run, size_t row, uint32_t element)
{
    const TemplateKey &key = TEMPLATE_KEYS[row];
    uint32_t value = 0;
    bool read = false;
    const int32_t status = look_up_number(run, row, element, &value, &read);
    if (!read) {
        return status;
    }
    if (value > key.bound) {
        return add_problem(run, {.kind = PROBLEM_OUT_OF_RANGE,
                                 .row = static_cast<uint16_t>(row),
                                 .element = static_cast<uint8_t>(element),
                                 .value = value,
                                 .expected = key.bound});
    }
    if (key.kind == KEY_VERSION) {
        run.record->mode = value >> 1;  // the lowest bit of VERSION has no meaning
    } else {
        set_key_element(run.record, key, element, value);
    }
    return 0;
}

// Reads every element of one key; per-PF tables are read PF00 to PF15. A
// text too long for its field is read as empty.
int32_t read_key(const ParseRun &run, size_t row)
{
    const TemplateKey &key = TEMPLATE_KEYS[row];
    if (key.kind == KEY_TEXT) {
        IniWhere &where = run.report->places[key_slot(row, 0)];
        if (lookup_ini_key(run.path, section_name(key.section), key.name, &where) != 0) {
            return add_problem(run,
                               {.kind = PROBLEM_UNREADABLE, .row = static_cast<uint16_t>(row)});
        }
        memcpy(reinterpret_cast<char *>(run.record) + key.offset, ini_value(where),
               strlen(ini_value(where)) + 1);
        return 0;
    }
    for (uint32_t element = 0; element < key.count; ++element) {
        const int32_t status = read_number(run, row, element);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

}  // namespace

void parse_template_keys(const char *path, ParseScope scope, ResourceTemplate *record,
                         ParseReport *report)
{
    *record = ResourceTemplate{};
    *report = ParseReport{};
    const ParseRun run{path, scope, record, report};
    // The parse keeps its own copy of the path, of a fixed size.
    if (strnlen(path, PATH_COPY_SIZE) >= PATH_COPY_SIZE) {
        add_problem(run, {.kind = PROBLEM_PATH_TOO_LONG});
        return;
    }
    // VERSION, then in table order the base block and the blocks its mode
    // enables. PCIDID belongs to the identity checks, which compare it with
    // the card. In a check a VERSION that cannot be used leaves the mode 0,
    // so the basic keys are still looked at.
    int32_t status = read_key(run, VERSION_ROW);
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT && status == 0; ++row) {
        if (is_record_key(TEMPLATE_KEYS[row]) && key_enabled(record->mode, TEMPLATE_KEYS[row])) {
            status = read_key(run, row);
        }
    }
}

void parse_identity_keys(const char *path, ParseScope scope, const CardIdentity *card,
                         ResourceTemplate *record, ParseReport *report)
{
    constexpr size_t PCIDID_ROW = key_index("PCIDID");
    constexpr size_t METADATA_ROW = key_index("METADATA");
    const ParseRun run{path, scope, record, report};
    bool read = false;
    // An older driver cannot tell the card's id: PCIDID is then neither read
    // nor stored, so the record's PCIDID stays 0 and a template whose
    // checksum covers a nonzero PCIDID is refused by the METADATA check.
    if (driver_reports_pci_id(card)) {
        uint32_t file_id = 0;
        int32_t status = look_up_number(run, PCIDID_ROW, 0, &file_id, &read);
        if (read && file_id != card->pci_device_id) {
            status = add_problem(run, {.kind = PROBLEM_MISMATCH,
                                       .row = PCIDID_ROW,
                                       .value = file_id,
                                       .expected = card->pci_device_id});
        } else if (read && key_enabled(record->mode, TEMPLATE_KEYS[PCIDID_ROW])) {
            record->PCIDID = file_id;
        }
        if (status != 0) {
            return;
        }
    }
    report->checksum = template_checksum(record);
    uint32_t metadata = 0;
    look_up_number(run, METADATA_ROW, 0, &metadata, &read);
    // Against a record that lacks a value the checksum says nothing.
    if (read && metadata != report->checksum && report->count == 0) {
        add_problem(run, {.kind = PROBLEM_MISMATCH,
                          .row = METADATA_ROW,
                          .value = metadata,
                          .expected = report->checksum});
    }
}
