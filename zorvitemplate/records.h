// What the host keeps about each card, a file a record, of the card behind
// g_device_target, each written whole or not at all: what it runs. A card
// applies its stored template when the host boots, and the driver answers
// only the stored one: so `boot`, which the boot service runs, records what
// each card holds then, with the boot's id, under /run (which the next boot
// empties). A record of another boot counts as none.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "template/resource_template.h"

constexpr size_t BOOT_ID_SIZE = 40;    // 36 characters, the NUL, room to spare
constexpr size_t TIME_TEXT_SIZE = 24;  // "2026-12-09T04:05:06Z", UTC

struct RunningRecord {
    char boot_id[BOOT_ID_SIZE];     // as the kernel tells it, without the line end
    char recorded[TIME_TEXT_SIZE];  // when the boot service ran
    int32_t card_status;            // 0: `running` is the card's template; else its answer
    ResourceTemplate running;
};
static_assert(offsetof(RunningRecord, boot_id) == 0);
static_assert(offsetof(RunningRecord, recorded) == 40);
static_assert(offsetof(RunningRecord, card_status) == 64);
static_assert(offsetof(RunningRecord, running) == 68);
static_assert(sizeof(RunningRecord) == 1092);

enum RecordKind : uint8_t { RECORD_RUNNING };

// 0 with the record whole (its texts ended within their fields), or -1.
int32_t read_record(RecordKind kind, void *record, size_t size);
// 0, or -1 once a message has said why.
int32_t write_record(RecordKind kind, const void *record, size_t size);
int32_t remove_record(RecordKind kind);

// The id of this boot, which the kernel makes anew at every boot.
bool read_boot_id(char (&id)[BOOT_ID_SIZE]);
// Now, as the records write a time.
void now_text(char (&text)[TIME_TEXT_SIZE]);

// What the card behind g_device_target runs, as recorded at this boot: 0,
// or -1 when there is no record of this boot.
int32_t read_running(RunningRecord *record);

// Whether the card's stored template (or the status it answered, `fetched`)
// differs from what it runs: it does once a reboot would change it.
bool differs_from_running(const RunningRecord &running, int32_t fetched,
                          const ResourceTemplate &stored);
