// The checks that end a parse: the template must fit the driver and card it
// is loaded onto, and carry the checksum of the record it describes.
#include "template/identity_check.h"

#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"
#include "channel/card_queries.h"
#include "channel/device_target.h"
#include "channel/template_exchange.h"
#include "template/template_keys.h"

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
    status = parse_driver_version_text(text, parts);
    if (status != 0) {
        printf("Invalid driver version with (%s)\n", text);
        return status;
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

int32_t parse_driver_version_text(char *text, uint32_t parts[DRIVER_VERSION_PARTS])
{
    char *rest = nullptr;
    const char *word = strtok_r(text, " ", &rest);
    for (uint32_t i = 0; i < DRIVER_VERSION_PARTS; ++i) {
        parts[i] = 0;
    }
    return (word == nullptr) ? STATUS_BAD_ARGUMENT : parse_version_string(word, parts);
}

bool driver_reports_pci_id(const CardIdentity *card)
{
    return check_min_driver_version(card->driver_version) == 0;
}

int32_t query_card_identity(CardIdentity *card)
{
    *card = CardIdentity{};
    int32_t status = read_driver_version(card->driver_version);
    if (status != 0) {
        return status;
    }
    if (driver_reports_pci_id(card)) {
        status = get_pci_device_id(g_device_target, &card->pci_device_id);
        if (status != 0) {
            puts("Get PCI device ID failed.");
            return status;
        }
    }
    return 0;
}

uint32_t template_checksum(const ResourceTemplate *record)
{
    return template_crc32(reinterpret_cast<const unsigned char *>(record) + TEMPLATE_BODY_OFFSET,
                          template_length(record));
}

int32_t check_identity_keys(const ParseRun &run, const CardIdentity *card)
{
    constexpr size_t PCIDID_ROW = key_index("PCIDID");
    constexpr size_t METADATA_ROW = key_index("METADATA");
    ResourceTemplate *record = run.record;
    int32_t status = 0;
    bool read = false;
    // An older driver cannot tell the card's id: PCIDID is then neither read
    // nor stored, so the record's PCIDID stays 0 and a template whose
    // checksum covers a nonzero PCIDID is refused by the METADATA check.
    if (driver_reports_pci_id(card)) {
        uint32_t file_id = 0;
        status = look_up_number(run, PCIDID_ROW, 0, &file_id, &read);
        if (read && file_id != card->pci_device_id) {
            status = meet_problem(run, {.kind = PROBLEM_MISMATCH,
                                        .row = PCIDID_ROW,
                                        .value = file_id,
                                        .expected = card->pci_device_id,
                                        .status = STATUS_FAILED});
        } else if (read && (record->mode & MODE_PCIDID) != 0) {
            record->PCIDID = file_id;
        }
        if (status != 0) {
            return status;
        }
    }

    const uint32_t checksum = template_checksum(record);
    if (run.report != nullptr) {
        run.report->checksum = checksum;
    }
    uint32_t metadata = 0;
    status = look_up_number(run, METADATA_ROW, 0, &metadata, &read);
    // Against a record that lacks a value the checksum says nothing.
    if (read && metadata != checksum && (run.report == nullptr || run.report->count == 0)) {
        return meet_problem(run, {.kind = PROBLEM_MISMATCH,
                                  .row = METADATA_ROW,
                                  .value = metadata,
                                  .expected = checksum,
                                  .status = STATUS_FAILED});
    }
    return status;
}

int32_t check_template_identity(const ParseRun &run)
{
    CardIdentity card{};
    int32_t status = query_card_identity(&card);
    if (status != 0) {
        return status;
    }
    return check_identity_keys(run, &card);
}
