// Builds the resource template from a template file, one key at a time. A
// load stops at the first key that is missing, unreadable or out of range; a
// check walks the same keys in the same order and notes every problem.
#include "template/template_parser.h"

#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"
#include "fileaccess/ini_reader.h"
#include "template/template_keys.h"

namespace {

constexpr size_t PATH_COPY_SIZE = 512;
constexpr size_t SECTION_SIZE = 512;
constexpr size_t VERSION_ROW = key_index("VERSION");
static_assert(VERSION_ROW == 0, "VERSION is read first");

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
        return meet_problem(run, {.kind = PROBLEM_OUT_OF_RANGE,
                                  .row = static_cast<uint16_t>(row),
                                  .element = static_cast<uint8_t>(element),
                                  .value = value,
                                  .expected = key.bound,
                                  .status = STATUS_FAILED});
    }
    if (key.kind == KEY_VERSION) {
        run.record->mode = value >> 1;  // the lowest bit of VERSION has no meaning
    } else {
        set_key_element(run.record, key, element, value);
    }
    return 0;
}

// Reads every element of one key; per-PF tables are read PF00 to PF15.
int32_t read_key(const ParseRun &run, size_t row)
{
    const TemplateKey &key = TEMPLATE_KEYS[row];
    if (key.kind == KEY_TEXT) {
        IniWhere *where = run.report == nullptr ? nullptr : &run.report->places[key_slot(row, 0)];
        const int32_t status =
            get_string_key_value(run.path, section_name(key.section), key.name,
                                 reinterpret_cast<char *>(run.record) + key.offset, where);
        if (status != 0) {
            return meet_problem(
                run,
                {.kind = PROBLEM_UNREADABLE, .row = static_cast<uint16_t>(row), .status = status});
        }
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

// The optional blocks that `mode` selects, in table order. PCIDID belongs
// to the identity checks, which compare it with the card.
int32_t parse_mode_tables(const ParseRun &run)
{
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        if (key.mode_bit == 0 || !is_record_key(key) || (run.record->mode & key.mode_bit) == 0) {
            continue;
        }
        const int32_t status = read_key(run, row);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

// VERSION, the base block and the mode's blocks: everything up to the
// checks against the card. In a check a VERSION that cannot be used leaves
// the mode 0, so the basic keys are still looked at.
int32_t read_template_keys(const ParseRun &run)
{
    int32_t status = 0;
    // A device or FIFO would never end as a template: it is refused before
    // the first lookup, as a file that cannot be opened.
    if (check_ini_file(run.path) != 0) {
        ParseProblem problem{.kind = PROBLEM_UNREADABLE, .row = VERSION_ROW};
        problem.where.answer = INI_NO_FILE;
        status = meet_problem(run, problem);
    } else {
        status = read_key(run, VERSION_ROW);
    }
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT && status == 0; ++row) {
        if (TEMPLATE_KEYS[row].mode_bit == 0 && is_record_key(TEMPLATE_KEYS[row])) {
            status = read_key(run, row);
        }
    }
    return status != 0 ? status : parse_mode_tables(run);
}

// Clears the record and keeps the path and the section name as the parse
// uses them. A path that does not fit is met as a problem; nothing further
// can be read then, in a check either.
int32_t start_parse(ParseRun *run, char (&path_copy)[PATH_COPY_SIZE], char (&section)[SECTION_SIZE],
                    const char *path)
{
    if (memset_s(run->record, sizeof(ResourceTemplate), 0, sizeof(ResourceTemplate)) != 0) {
        puts("Init config data failed!");
        return STATUS_FAILED;
    }
    const size_t path_size = (path == nullptr) ? 0 : strlen(path) + 1;
    if (memcpy_s(path_copy, sizeof(path_copy), path, path_size) != 0) {
        meet_problem(*run, {.kind = PROBLEM_PATH_TOO_LONG,
                            .row = NO_KEY_ROW,
                            .status = STATUS_FAILED,
                            .where = {}});
        return STATUS_FAILED;
    }
    static constexpr char CONFIG_SECTION[] = "CONFIG";
    if (memcpy_s(section, sizeof(section), CONFIG_SECTION, sizeof(CONFIG_SECTION)) != 0) {
        puts("Copy data failed!");
        return STATUS_FAILED;
    }
    run->path = path_copy;
    run->config_section = section;
    return 0;
}

}  // namespace

int32_t parse_template_file(const char *path, ResourceTemplate *record)
{
    char path_copy[PATH_COPY_SIZE];
    char section[SECTION_SIZE];
    ParseRun run{path, nullptr, record, nullptr};
    int32_t status = start_parse(&run, path_copy, section, path);
    if (status == 0) {
        status = read_template_keys(run);
    }
    if (status == 0) {
        status = check_template_identity(run);
    }
    return status;
}

int32_t check_template_file(const char *path, const CardIdentity *card, ResourceTemplate *record,
                            ParseReport *report)
{
    if (card == nullptr || report == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    *report = ParseReport{};
    char path_copy[PATH_COPY_SIZE];
    char section[SECTION_SIZE];
    ParseRun run{path, nullptr, record, report};
    int32_t status = start_parse(&run, path_copy, section, path);
    if (status != 0) {
        // A path the parse cannot take is the one problem; the check is done.
        return report->count != 0 ? 0 : status;
    }
    status = read_template_keys(run);
    return status != 0 ? status : check_identity_keys(run, card);
}
