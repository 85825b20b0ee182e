// Fetch and store of the card's template, and the checksum that seals it.
#pragma once

#include <cstdint>

#include "channel/device_target.h"
#include "template/resource_template.h"

// 0 with the card's template in `dest`; else the transport result or the
// card's status byte. `dest` is written only after a successful fetch.
int32_t get_template_from_card(DeviceTarget target, ResourceTemplate *dest);
// 0 on success; else the card's status byte or the transport result. The
// caller's record is never modified.
int32_t set_template_to_card(DeviceTarget target, const ResourceTemplate *record);
// CRC-32 with polynomial 0x04C11DB7, initial 0, unreflected, inverted at the
// end. 0 for a null address or a zero length.
uint32_t template_crc32(const void *data, uint32_t length);
