// Checks that a parsed template fits the card: driver version, PCI device id
// and the METADATA checksum.
#pragma once

#include <cstddef>
#include <cstdint>

#include "template/resource_template.h"

constexpr uint32_t DRIVER_VERSION_PARTS = 4;
// The widest PCI device id a card can have.
constexpr uint32_t PCI_ID_MAX = 0xFFFF;

// What a load learns of the card before it compares the file with it.
struct CardIdentity {
    uint32_t driver_version[DRIVER_VERSION_PARTS];
    uint32_t pci_device_id;  // asked of a driver of 1.4.3.0 or later only
};

// True when a driver of this version reports the card's id, so a load reads
// and compares PCIDID.
bool driver_reports_pci_id(const CardIdentity *card);
// A driver's version text as a load reads it: its first word, cut in place.
int32_t parse_driver_version_text(char *text, uint32_t parts[DRIVER_VERSION_PARTS]);
// The version a load read, as its four numbers dotted.
constexpr size_t VERSION_TEXT_SIZE = 48;
void show_driver_version(const CardIdentity &card, char (&text)[VERSION_TEXT_SIZE]);
// CRC-32 with polynomial 0x04C11DB7, initial 0, unreflected, inverted at the
// end. 0 for a null address or a zero length.
uint32_t template_crc32(const void *data, uint32_t length);
// The METADATA a load compares with: template_crc32 of the record from
// offset 32, template_length bytes.
uint32_t template_checksum(const ResourceTemplate *record);
// Sets the `length` and `crc` a store carries and the card checks.
void seal_template(ResourceTemplate *record);
