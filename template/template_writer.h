// Writes the text of a template file from a record, walking the key table:
// [INFO] with VERSION, MODENAME when the mode has it, PCIDID when one is
// given, and the METADATA of the record; [CONFIG] with every key the mode
// asks for, in the order a load reads them. What such a text can carry of
// a card's record is its rule too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "template/resource_template.h"

// Room for every key of every block with its value, and a comment.
constexpr size_t TEMPLATE_TEXT_SIZE = 16384;

// `record` is the record a load of the text is to build: mode at most
// 0x7FFF, a MODENAME the reader gives back unchanged. `pci_device_id` is
// the PCIDID line's value, or nullptr for none; `comment` (may be nullptr)
// goes first as one "# " line. 0 with the text and its length, or
// STATUS_BAD_ARGUMENT when it does not fit `size`.
// The record a load of the text written from `card_record` builds, into a
// zeroed `out`: the card's, less what no file can carry (mode bits no load
// knows, values past their bounds, a MODENAME a load reads back otherwise,
// the reserved bytes); PCIDID is `pci_device_id` when given, as a load
// stores the card's own id.
void carried_record(const ResourceTemplate *card_record, const uint32_t *pci_device_id,
                    ResourceTemplate *out);

int32_t write_template_text(const ResourceTemplate *record, const uint32_t *pci_device_id,
                            const char *comment, char *text, size_t size, size_t *length);
