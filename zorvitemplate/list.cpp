// list: every network device of the zorvi driver, with what the driver and
// the card answer. Nothing here writes to the card.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "bounded/status.h"
#include "channel/device_target.h"
#include "template/identity_check.h"
#include "zorvitemplate/card.h"
#include "zorvitemplate/commands.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/records.h"

namespace {

// By RevertOutcome; 0 is none.
constexpr const char *REVERT_OUTCOMES[] = {nullptr, "loaded", "failed", "disarmed"};

// One device, a line in text. False when its driver or card could not be
// asked; a status the card answers instead of a template is an answer.
bool list_device(const char *name)
{
    (void)select_device(name);
    char why[CARD_TROUBLE_SIZE] = {};
    CardIdentity card{};
    ResourceTemplate record{};
    const bool known = ask_card_identity(&card, why);
    const int32_t fetched = known ? fetch_card_template(&record, why) : STATUS_FAILED;
    char version[VERSION_TEXT_SIZE];
    show_driver_version(card, version);
    char metadata[12];
    snprintf(metadata, sizeof(metadata), "0x%08X", template_checksum(&record));
    open_json(nullptr, JSON_OBJECT);
    print_string("device", "%s", name);
    print_string("driver_version", " driver %s", known ? version : nullptr);
    print_uint("pci_device_id", " pci-id 0x%04X", card.pci_device_id,
               known && driver_reports_pci_id(&card));
    print_bool("template", fetched == 0);
    print_uint("card_status", fetched > 0 ? " no template (card status %u)" : nullptr,
               static_cast<uint32_t>(fetched > 0 ? fetched : 0));
    print_uint("mode", " mode 0x%02X", record.mode, fetched == 0);
    print_string("metadata", " metadata %s", fetched == 0 ? metadata : nullptr);
    print_bytes("modename", " modename \"%s\"", fetched == 0 ? record.MODENAME : nullptr,
                strnlen(record.MODENAME, MODENAME_SIZE));
    // Unknown without a record of this boot, or without the card's answer.
    RunningRecord running{};
    const bool known_running = fetched >= 0 && read_running(&running);
    const bool pending = known_running && differs_from_running(running, fetched, record);
    print_bool("reboot_pending", pending, known_running);
    const char *said = !known_running ? "unknown" : pending ? "yes" : "no";
    print_string(nullptr, " reboot-pending %s", fetched < 0 ? nullptr : said);
    print_string("running_recorded", nullptr, known_running ? running.recorded : nullptr);
    // A load armed to be confirmed, and the last revert, as the host keeps them.
    ArmingRecord armed{};
    const bool arming = read_record(RECORD_ARMING, &armed, sizeof(armed)) == 0;
    const bool waiting = arming && armed.state == ARM_ARMED;
    const bool timed = waiting && armed.until[0] != '\0';  // not before the boot after the load
    print_bool("armed", waiting);
    print_string(nullptr, " armed-until %s",
                 waiting ? (timed ? armed.until : "next-boot") : nullptr);
    print_string("armed_until", nullptr, timed ? armed.until : nullptr);
    print_string("confirmed", " confirmed %s",
                 arming && armed.state == ARM_CONFIRMED ? armed.confirmed : nullptr);
    RevertRecord reverted{};
    if (read_record(RECORD_REVERT, &reverted, sizeof(reverted)) != 0) {
        print_string("last_revert", nullptr, nullptr);
    } else {
        snprintf(metadata, sizeof(metadata), "0x%08X", reverted.metadata);
        const auto outcome = static_cast<uint32_t>(reverted.outcome);  // none below 0
        open_json("last_revert", JSON_OBJECT);
        print_string("at", " reverted %s", reverted.at);
        print_string("metadata", nullptr, metadata);
        print_string("outcome", nullptr,
                     outcome < std::size(REVERT_OUTCOMES) ? REVERT_OUTCOMES[outcome] : nullptr);
        print_string("told", nullptr, reverted.told);
        close_json();
    }
    print_string("error", " unreadable", fetched < 0 ? why : nullptr);
    print_string(nullptr, "\n", "");  // the line end, in text alone
    close_json();
    if (fetched < 0) {
        warn("%s", why);
    }
    return fetched >= 0;
}

}  // namespace

int run_list(const CommandOptions &)
{
    if (find_cards() != 0) {
        return warn("cannot read %s: %s", NET_DEVICES, strerror(errno));
    }
    bool whole = true;
    open_json(nullptr, JSON_OBJECT);
    open_json("devices", JSON_ARRAY);
    for (size_t i = 0; i < g_cards.count; ++i) {
        whole = list_device(g_cards.names[i]) && whole;
    }
    close_json();
    close_json();
    return whole ? EXIT_GOOD : EXIT_NO;
}
