// Builds the resource template from a template file, one key at a time,
// stopping at the first key that is missing, unreadable or out of range.
#include "template/template_parser.h"

#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"
#include "fileaccess/ini_reader.h"
#include "template/identity_check.h"
#include "template/template_keys.h"

namespace {

constexpr size_t PATH_COPY_SIZE = 512;
constexpr size_t SECTION_SIZE = 512;
constexpr size_t KEY_NAME_SIZE = 512;

// Reads one number (a single key, or entry `index` of a per-PF table named
// `key_name`), checks it against the key's bound and stores it.
int32_t read_number(const char *path, const char *section, const TemplateKey &key,
                    const char *key_name, uint32_t index, ResourceTemplate *record)
{
    uint32_t value = 0;
    int32_t status = get_uint_key_value(path, section, key_name, &value);
    if (status != 0) {
        printf("Error happened when reading %s, %s\n", path, key_name);
        return status;
    }
    if (value > key.bound) {
        printf("%s %u out of range[ %u, %u]\n", key.name, value, 0u, key.bound);
        return STATUS_FAILED;
    }
    set_key_element(record, key, index, value);
    return 0;
}

// Reads every element of one table key; per-PF tables are read PF00 to PF15.
int32_t read_table_key(const char *path, const char *section, const TemplateKey &key,
                       ResourceTemplate *record)
{
    if (key.kind == KEY_TEXT) {
        int32_t status = get_string_key_value(path, section_name(key.section), key.name,
                                              reinterpret_cast<char *>(record) + key.offset);
        if (status != 0) {
            printf("Error happened when reading %s, MODENAME\n", path);
        }
        return status;
    }
    if (key.count == 1) {
        return read_number(path, section, key, key.name, 0, record);
    }
    char key_name[KEY_NAME_SIZE];
    for (uint32_t pf = 0; pf < key.count; ++pf) {
        if (sprintf_s(key_name, sizeof(key_name), "%s%02u", key.name, pf) == STATUS_FAILED) {
            // The lookup below then fails and names the problem.
            puts("Failed to sprintf key string");
        }
        int32_t status = read_number(path, section, key, key_name, pf, record);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

}  // namespace

int32_t parse_mode_tables(const char *path, const char *section, ResourceTemplate *record)
{
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        // PCIDID belongs to the identity checks, which compare it with the card.
        if (key.mode_bit == 0 || key.kind == KEY_CARD_ID || (record->mode & key.mode_bit) == 0) {
            continue;
        }
        int32_t status = read_table_key(path, section, key, record);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

int32_t parse_template_file(const char *path, ResourceTemplate *record)
{
    if (memset_s(record, sizeof(ResourceTemplate), 0, sizeof(ResourceTemplate)) != 0) {
        puts("Init config data failed!");
        return STATUS_FAILED;
    }
    char path_copy[PATH_COPY_SIZE];
    size_t path_size = (path == nullptr) ? 0 : strlen(path) + 1;
    if (memcpy_s(path_copy, sizeof(path_copy), path, path_size) != 0) {
        puts("Copy data failed!");
        return STATUS_FAILED;
    }
    char section[SECTION_SIZE];
    static constexpr char CONFIG_SECTION[] = "CONFIG";
    if (memcpy_s(section, sizeof(section), CONFIG_SECTION, sizeof(CONFIG_SECTION)) != 0) {
        puts("Copy data failed!");
        return STATUS_FAILED;
    }

    uint32_t version = 0;
    int32_t status = get_uint_key_value(path_copy, "INFO", "VERSION", &version);
    if (status != 0) {
        printf("Error happened when reading %s, %s\n", path_copy, "VERSION");
        return status;
    }
    if (version > VERSION_MAX) {
        printf("%s %u out of range[ %u, %u]\n", "VERSION", version, 0u, VERSION_MAX);
        return STATUS_FAILED;
    }
    record->mode = version >> 1;  // the lowest bit of VERSION has no meaning

    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.mode_bit != 0) {
            continue;
        }
        status = read_table_key(path_copy, section, key, record);
        if (status != 0) {
            return status;
        }
    }
    status = parse_mode_tables(path_copy, section, record);
    if (status != 0) {
        return status;
    }
    return check_template_identity(path_copy, record);
}
