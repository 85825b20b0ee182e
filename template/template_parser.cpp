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
constexpr size_t KEY_NAME_SIZE = 512;
// A check of a path the parser cannot take: nothing further can be read.
constexpr int32_t NO_KEY_READABLE = 1;

// One walk through a file: a load has no report.
struct ParseRun {
    const char *path;
    const char *section;
    ResourceTemplate *record;
    ParseReport *report;
};

int32_t meet(const ParseRun &run, ProblemKind kind, size_t key_index, uint32_t element,
             const char *key_name, uint32_t value, uint32_t expected, int32_t status)
{
    return meet_problem(run.path, run.report, kind, key_index, element, key_name, value, expected,
                        status);
}

// Reads one number (a single key, or entry `index` of a per-PF table named
// `key_name`), checks it against the key's bound and stores it.
int32_t read_number(const ParseRun &run, size_t key_index, const char *key_name, uint32_t index)
{
    const TemplateKey &key = TEMPLATE_KEYS[key_index];
    uint32_t value = 0;
    int32_t status = get_uint_key_value(run.path, run.section, key_name, &value);
    if (status != 0) {
        return meet(run, PROBLEM_UNREADABLE, key_index, index, key_name, 0, 0, status);
    }
    if (value > key.bound) {
        return meet(run, PROBLEM_OUT_OF_RANGE, key_index, index, key_name, value, key.bound,
                    STATUS_FAILED);
    }
    set_key_element(run.record, key, index, value);
    return 0;
}

// Reads every element of one table key; per-PF tables are read PF00 to PF15.
int32_t read_table_key(const ParseRun &run, size_t key_index)
{
    const TemplateKey &key = TEMPLATE_KEYS[key_index];
    if (key.kind == KEY_TEXT) {
        int32_t status = get_string_key_value(run.path, section_name(key.section), key.name,
                                              reinterpret_cast<char *>(run.record) + key.offset);
        if (status != 0) {
            return meet(run, PROBLEM_UNREADABLE, key_index, 0, key.name, 0, 0, status);
        }
        return 0;
    }
    if (key.count == 1) {
        return read_number(run, key_index, key.name, 0);
    }
    char key_name[KEY_NAME_SIZE];
    for (uint32_t pf = 0; pf < key.count; ++pf) {
        if (sprintf_s(key_name, sizeof(key_name), "%s%02u", key.name, pf) == STATUS_FAILED) {
            // The lookup below then fails and names the problem.
            puts("Failed to sprintf key string");
        }
        int32_t status = read_number(run, key_index, key_name, pf);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

int32_t read_mode_tables(const ParseRun &run)
{
    for (size_t i = 0; i < TEMPLATE_KEY_COUNT; ++i) {
        const TemplateKey &key = TEMPLATE_KEYS[i];
        // PCIDID belongs to the identity checks, which compare it with the card.
        if (key.mode_bit == 0 || key.kind == KEY_CARD_ID ||
            (run.record->mode & key.mode_bit) == 0) {
            continue;
        }
        int32_t status = read_table_key(run, i);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

// Everything up to the checks against the card. In a check a VERSION that
// cannot be used leaves the mode 0, so the basic keys are still looked at.
int32_t read_template_keys(ParseRun &run, char (&path_copy)[PATH_COPY_SIZE],
                           char (&section)[SECTION_SIZE], const char *path)
{
    if (memset_s(run.record, sizeof(ResourceTemplate), 0, sizeof(ResourceTemplate)) != 0) {
        puts("Init config data failed!");
        return STATUS_FAILED;
    }
    size_t path_size = (path == nullptr) ? 0 : strlen(path) + 1;
    if (memcpy_s(path_copy, sizeof(path_copy), path, path_size) != 0) {
        const int32_t status =
            meet(run, PROBLEM_PATH_TOO_LONG, NO_TABLE_KEY, 0, "", 0, 0, STATUS_FAILED);
        return status != 0 ? status : NO_KEY_READABLE;
    }
    static constexpr char CONFIG_SECTION[] = "CONFIG";
    if (memcpy_s(section, sizeof(section), CONFIG_SECTION, sizeof(CONFIG_SECTION)) != 0) {
        puts("Copy data failed!");
        return STATUS_FAILED;
    }
    run.path = path_copy;
    run.section = section;

    uint32_t version = 0;
    int32_t status = check_ini_file(path_copy);
    if (status == 0) {
        status = get_uint_key_value(path_copy, "INFO", "VERSION", &version);
    }
    if (status != 0) {
        status = meet(run, PROBLEM_UNREADABLE, NO_TABLE_KEY, 0, "VERSION", 0, 0, status);
    } else if (version > VERSION_MAX) {
        status = meet(run, PROBLEM_OUT_OF_RANGE, NO_TABLE_KEY, 0, "VERSION", version, VERSION_MAX,
                      STATUS_FAILED);
    } else {
        run.record->mode = version >> 1;  // the lowest bit of VERSION has no meaning
    }
    if (status != 0) {
        return status;
    }

    for (size_t i = 0; i < TEMPLATE_KEY_COUNT; ++i) {
        if (TEMPLATE_KEYS[i].mode_bit != 0) {
            continue;
        }
        status = read_table_key(run, i);
        if (status != 0) {
            return status;
        }
    }
    return read_mode_tables(run);
}

}  // namespace

int32_t parse_mode_tables(const char *path, const char *section, ResourceTemplate *record)
{
    return read_mode_tables(ParseRun{path, section, record, nullptr});
}

int32_t parse_template_file(const char *path, ResourceTemplate *record)
{
    char path_copy[PATH_COPY_SIZE];
    char section[SECTION_SIZE];
    ParseRun run{path, nullptr, record, nullptr};
    int32_t status = read_template_keys(run, path_copy, section, path);
    if (status != 0) {
        return status;
    }
    return check_template_identity(path_copy, record);
}

int32_t check_template_file(const char *path, const CardIdentity *card, ResourceTemplate *record,
                            ParseReport *report)
{
    if (card == nullptr || report == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    report->count = 0;
    report->metadata_read = false;
    report->metadata = 0;
    report->checksum = 0;
    char path_copy[PATH_COPY_SIZE];
    char section[SECTION_SIZE];
    ParseRun run{path, nullptr, record, report};
    int32_t status = read_template_keys(run, path_copy, section, path);
    if (status == NO_KEY_READABLE) {
        return 0;
    }
    if (status != 0) {
        return status;
    }
    return check_identity_keys(path_copy, card, record, report);
}
