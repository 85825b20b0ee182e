// What the host keeps about each card, a file a record, of the card behind
// g_device_target, each written whole or not at all:
// - what it runs. A card applies its stored template when the host boots,
//   and the driver answers only the stored one: so `boot`, which the boot
//   service runs, records what each card holds then, with the boot's id,
//   under /run (which the next boot empties). A record of another boot
//   counts as none.
// - a load armed to be confirmed, and the last revert, under /var/lib/zorvi,
//   which outlive a boot.
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

// A load that must be confirmed within `minutes` of the next boot, or the
// backup is loaded back.
enum ArmState : uint32_t { ARM_ARMED = 1, ARM_CONFIRMED = 2 };
struct ArmingRecord {
    uint32_t state;
    uint32_t minutes;
    uint32_t metadata;               // of the template armed
    uint32_t backup_metadata;        // of the backup
    char load_boot[BOOT_ID_SIZE];    // the boot the load was armed in
    char timer_boot[BOOT_ID_SIZE];   // the boot whose timer runs; empty before
    char armed[TIME_TEXT_SIZE];      // when
    char until[TIME_TEXT_SIZE];      // when the timer ends; empty before the boot
    char confirmed[TIME_TEXT_SIZE];  // when; empty while armed
    char backup[PATH_MAX];           // the backup, a file a load accepts
};
static_assert(offsetof(ArmingRecord, load_boot) == 16);
static_assert(offsetof(ArmingRecord, timer_boot) == 56);
static_assert(offsetof(ArmingRecord, armed) == 96);
static_assert(offsetof(ArmingRecord, until) == 120);
static_assert(offsetof(ArmingRecord, confirmed) == 144);
static_assert(offsetof(ArmingRecord, backup) == 168);
static_assert(sizeof(ArmingRecord) == 168 + PATH_MAX);

// What a revert did, as it told the system log.
enum RevertOutcome : int32_t { REVERT_LOADED = 1, REVERT_FAILED = 2, REVERT_DISARMED = 3 };
struct RevertRecord {
    int32_t outcome;
    uint32_t metadata;         // of the template reverted
    uint32_t backup_metadata;  // of the backup loaded in its place
    char at[TIME_TEXT_SIZE];
    char told[512];  // the line of the system log
};
static_assert(offsetof(RevertRecord, at) == 12);
static_assert(offsetof(RevertRecord, told) == 36);
static_assert(sizeof(RevertRecord) == 548);

enum RecordKind : uint8_t { RECORD_RUNNING, RECORD_ARMING, RECORD_REVERT };

// 0 with the record whole (its texts ended within their fields), RECORD_NONE
// when there is none, or -1 when it cannot be read whole (errno says why).
constexpr int32_t RECORD_NONE = 1;
int32_t read_record(RecordKind kind, void *record, size_t size);
// 0, or -1 once a message has said why.
int32_t write_record(RecordKind kind, const void *record, size_t size);
int32_t remove_record(RecordKind kind);

// The id of this boot, which the kernel makes anew at every boot.
bool read_boot_id(char (&id)[BOOT_ID_SIZE]);
// Now, or `minutes_on` from now, as the records write a time.
void now_text(char (&text)[TIME_TEXT_SIZE], uint32_t minutes_on = 0);

// What the card behind g_device_target runs, as recorded at this boot;
// false when there is no record of this boot.
bool read_running(RunningRecord *record);

// Whether the card's stored template (or the status it answered, `fetched`)
// differs from what it runs: it does once a reboot would change it.
bool differs_from_running(const RunningRecord &running, int32_t fetched,
                          const ResourceTemplate &stored);

// At boot, after what the card runs is recorded: starts the revert timer of
// a load armed in an earlier boot. 0, or -1 after a message.
int32_t start_revert_timer();
