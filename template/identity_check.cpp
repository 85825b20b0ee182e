// The checks that end a parse: the template must fit the driver and card it
// is loaded onto, and carry the checksum of the record it describes.
#include "template/identity_check.h"

#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"
#include "channel/card_queries.h"
#include "channel/device_target.h"
#include "channel/template_exchange.h"
#include "fileaccess/ini_reader.h"

namespace {

// Drivers older than this cannot report the card's PCI device id.
constexpr uint32_t MIN_DRIVER_VERSION[DRIVER_VERSION_PARTS] = {1, 4, 3, 0};

// Reads the driver's version into `parts`; 0 or the status to stop with.
int32_t read_driver_version(uint32_t parts[DRIVER_VERSION_PARTS])
{
    char text[DRIVER_VERSION_SIZE];
    if (memset_s(text, sizeof(text), 0, sizeof(text)) != 0) {
        puts("Init drv_version buff failed.");
        return STATUS_FAILED;
    }
    int32_t status = get_driver_version(g_device_target, text);
    if (status != 0) {
        puts("Get driver version failed.");
        return status;
    }
    // A reply that fills the whole buffer has no terminator of its own.
    text[sizeof(text) - 1] = '\0';
    if (text[0] == '\0') {
        puts("Get driver version failed.");
        return STATUS_FAILED;
    }
    char *rest = nullptr;
    const char *word = strtok_r(text, " ", &rest);
    for (uint32_t i = 0; i < DRIVER_VERSION_PARTS; ++i) {
        parts[i] = 0;
    }
    status = (word == nullptr) ? STATUS_BAD_ARGUMENT : parse_version_string(word, parts);
    if (status != 0) {
        printf("Invalid driver version with (%s)\n", text);
        return status;
    }
    return 0;
}

// Reads one of the [INFO] numbers the checks need, naming it when it cannot.
int32_t read_info_number(const char *path, const char *key, uint32_t *value)
{
    int32_t status = get_uint_key_value(path, "INFO", key, value);
    if (status != 0) {
        printf("Error happened when reading %s to get %s\n", path, key);
    }
    return status;
}

// Compares the file's PCIDID with the card's id; keeps it in the record when
// the template's mode has a PCIDID block.
int32_t check_pci_device_id(const char *path, ResourceTemplate *record)
{
    uint32_t card_id = 0;
    int32_t status = get_pci_device_id(g_device_target, &card_id);
    if (status != 0) {
        puts("Get PCI device ID failed.");
        return status;
    }
    uint32_t file_id = 0;
    status = read_info_number(path, "PCIDID", &file_id);
    if (status != 0) {
        return status;
    }
    if (file_id != card_id) {
        printf("Error happened when reading %s, Incorrect PCIDID 0x%x.\n", path, card_id);
        return STATUS_FAILED;
    }
    if ((record->mode & MODE_PCIDID) != 0) {
        record->PCIDID = file_id;
    }
    return 0;
}

}  // namespace

int32_t parse_version_string(const char *text, uint32_t parts[DRIVER_VERSION_PARTS])
{
    if (text == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    uint32_t index = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '.') {
            if (++index >= DRIVER_VERSION_PARTS) {
                return STATUS_BAD_ARGUMENT;
            }
        } else if (*c >= '0' && *c <= '9') {
            // Unsigned arithmetic: an overlong part wraps instead of failing.
            parts[index] = parts[index] * 10 + static_cast<uint32_t>(*c - '0');
        } else {
            return STATUS_BAD_ARGUMENT;
        }
    }
    return 0;
}

int32_t check_min_driver_version(const uint32_t parts[DRIVER_VERSION_PARTS])
{
    for (uint32_t i = 0; i < DRIVER_VERSION_PARTS; ++i) {
        if (MIN_DRIVER_VERSION[i] > parts[i]) {
            return STATUS_FAILED;
        }
        if (MIN_DRIVER_VERSION[i] < parts[i]) {
            return 0;
        }
    }
    return 0;
}

int32_t check_template_identity(const char *path, ResourceTemplate *record)
{
    uint32_t driver_version[DRIVER_VERSION_PARTS] = {};
    int32_t status = read_driver_version(driver_version);
    if (status != 0) {
        return status;
    }
    // An older driver cannot tell the card's id: PCIDID is then neither read
    // nor stored, so the record's PCIDID stays 0 and a template whose
    // checksum covers a nonzero PCIDID is refused by the METADATA check.
    if (check_min_driver_version(driver_version) == 0) {
        status = check_pci_device_id(path, record);
        if (status != 0) {
            return status;
        }
    }

    const uint32_t checksum =
        template_crc32(reinterpret_cast<const unsigned char *>(record) + TEMPLATE_BODY_OFFSET,
                       template_length(record));
    uint32_t metadata = 0;
    status = read_info_number(path, "METADATA", &metadata);
    if (status != 0) {
        return status;
    }
    if (metadata != checksum) {
        printf("Error happened when reading %s, Incorrect METADATA.\n", path);
        return STATUS_FAILED;
    }
    return 0;
}
