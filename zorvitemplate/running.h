// What each card runs. A card applies its stored template when the host
// boots, and the driver answers only the stored one: so `boot`, which the
// boot service runs, records what each card holds then, with the boot's id,
// under /run (which the next boot empties). A record of another boot counts
// as none.
#pragma once

#include <cstddef>
#include <cstdint>

#include "template/resource_template.h"

constexpr size_t BOOT_ID_SIZE = 40;  // 36 characters, the NUL, room to spare

struct RunningRecord {
    char boot_id[BOOT_ID_SIZE];  // as the kernel tells it, without the line end
    char recorded[24];           // when the boot service ran, "2026-12-09T04:05:06Z"
    int32_t card_status;         // 0: `running` is the card's template; else its answer
    ResourceTemplate running;
};
static_assert(offsetof(RunningRecord, boot_id) == 0);
static_assert(offsetof(RunningRecord, recorded) == 40);
static_assert(offsetof(RunningRecord, card_status) == 64);
static_assert(offsetof(RunningRecord, running) == 68);
static_assert(sizeof(RunningRecord) == 1092);

// What the card behind g_device_target runs, as recorded at this boot: 0,
// or -1 when there is no record of this boot.
int32_t read_running(RunningRecord *record);

// Whether the card's stored template (or the status it answered, `fetched`)
// differs from what it runs: it does once a reboot would change it.
bool differs_from_running(const RunningRecord &running, int32_t fetched,
                          const ResourceTemplate &stored);
