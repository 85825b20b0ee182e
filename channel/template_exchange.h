// Fetch and store of the card's template: the bytes of the record, framed as
// a request.
#pragma once

#include <cstdint>

#include "channel/device_target.h"
#include "template/resource_template.h"

// 0 with the card's template in `dest`; else the transport result or the
// card's status byte. `dest` is written only after a successful fetch.
int32_t get_template_from_card(DeviceTarget target, ResourceTemplate *dest);
// Stores `record` as seal_template left it, with the store flag and the
// magic set in a copy. 0 on success; else the card's status byte or the
// transport result. The caller's record is never modified.
int32_t set_template_to_card(DeviceTarget target, const ResourceTemplate *record);
