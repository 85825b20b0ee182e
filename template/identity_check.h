// Checks that a parsed template fits the card: driver version, PCI device id
// and the METADATA checksum.
#pragma once

#include <cstdint>

#include "template/parse_report.h"
#include "template/resource_template.h"

constexpr uint32_t DRIVER_VERSION_PARTS = 4;
// The widest PCI device id a card can have.
constexpr uint32_t PCI_ID_MAX = 0xFFFF;

// What a load learns of the card before it compares the file with it.
struct CardIdentity {
    uint32_t driver_version[DRIVER_VERSION_PARTS];
    uint32_t pci_device_id;  // asked of a driver of 1.4.3.0 or later only
};

// The load's checks: asks the driver and the card through g_device_target.
int32_t check_template_identity(const ParseRun &run);
// The load's two questions, with its messages: the driver's version and,
// when the driver can tell it, the card's PCI device id.
int32_t query_card_identity(CardIdentity *card);
// True when a driver of this version reports the card's id, so a load reads
// and compares PCIDID.
bool driver_reports_pci_id(const CardIdentity *card);
// A driver's version text as a load reads it: its first word, cut in place.
int32_t parse_driver_version_text(char *text, uint32_t parts[DRIVER_VERSION_PARTS]);
// PCIDID and METADATA of the file against `card` and the record the walk
// built; every problem goes to meet_problem.
int32_t check_identity_keys(const ParseRun &run, const CardIdentity *card);
// The METADATA a load compares with: template_crc32 of the record from
// offset 32, template_length bytes.
uint32_t template_checksum(const ResourceTemplate *record);

int32_t parse_version_string(const char *text, uint32_t parts[DRIVER_VERSION_PARTS]);
int32_t check_min_driver_version(const uint32_t parts[DRIVER_VERSION_PARTS]);
