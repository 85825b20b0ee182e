// export and diff: the card's template as a file, and a file against the
// card. Neither writes to the card.
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "bounded/shown_text.h"
#include "channel/device_target.h"
#include "fileaccess/ini_reader.h"
#include "template/identity_check.h"
#include "template/template_keys.h"
#include "template/template_writer.h"
#include "zorvitemplate/card.h"
#include "zorvitemplate/check.h"
#include "zorvitemplate/commands.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/records.h"
#include "zorvitemplate/replace_file.h"

namespace {

CheckResult g_check;
char g_text[TEMPLATE_TEXT_SIZE];

// The nonzero bytes where a record has no field (the word after the mode,
// the tail): a load leaves them zero.
uint32_t reserved_nonzero(const ResourceTemplate &record)
{
    const auto nonzero = [](const auto &field) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(&field);
        return std::count_if(bytes, bytes + sizeof(field), [](unsigned char byte) { return byte; });
    };
    return static_cast<uint32_t>(nonzero(record.reserved3) + nonzero(record.reserved_tail));
}

// The name's bytes up to its last nonzero one: bytes after its end are
// shown too (as \x00 for the end), or a name that only they change would
// look the same on both sides.
size_t name_length(const char (&name)[MODENAME_SIZE])
{
    return static_cast<size_t>(
        std::find_if(std::rbegin(name), std::rend(name), [](char byte) { return byte; }).base() -
        name);
}

// The record a load of the exported file builds, into a zeroed `out`: the
// card's, less what no file can carry.
void copy_carried(const ResourceTemplate &card_record, const CardIdentity &card,
                  ResourceTemplate *out)
{
    out->mode = card_record.mode & MODE_BITS_KNOWN;
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        const bool enabled = key_enabled(out->mode, key);
        if (enabled && key.kind == KEY_TEXT) {
            // As a load reads "MODENAME = name" back: 31 bytes at most, cut
            // where the reader cuts a value (a line end, "//"), blanks dropped.
            char line[sizeof("MODENAME=") + MODENAME_SIZE] = "MODENAME=";
            memcpy(line + strlen(line), card_record.MODENAME,
                   strnlen(card_record.MODENAME, MODENAME_SIZE - 1));
            IniLineParts parts;
            describe_ini_line(line, &parts);
            memcpy(out->MODENAME, parts.value, parts.value_length);
        } else if (enabled && key.kind == KEY_CARD_ID && driver_reports_pci_id(&card)) {
            // A load stores the card's own id, and only when the driver tells it.
            set_key_element(out, key, 0, card.pci_device_id);
        }
        for (uint32_t pf = 0; enabled && key.kind == KEY_NUMBER && pf < key.count; ++pf) {
            set_key_element(out, key, pf, std::min(key_element(&card_record, key, pf), key.bound));
        }
    }
}

// Where visit_changes puts each change: nowhere (diff counts first), or
// through the print calls as diff's line or element of "changes", or as
// export's line of what its file does not carry.
enum ChangeSink : uint8_t { CHANGES_COUNTED, CHANGES_PRINTED, CHANGES_WARNED };

// What a load of `file` changes on a card that holds `card`, in the order
// of the key table, each change KEY: CARD -> FILE; returns the count.
uint32_t visit_changes(const ResourceTemplate &card, const ResourceTemplate &file, ChangeSink sink)
{
    uint32_t count = 0;
    // Counts a change and, unless it is only counted, opens its element
    // with the key; the caller prints the two sides and closes it.
    const auto open_change = [&](const char *key) {
        ++count;
        if (sink != CHANGES_COUNTED) {
            open_json(nullptr, JSON_OBJECT);
            if (sink == CHANGES_WARNED) {
                print_string(nullptr, "%s: ", PROGRAM_NAME);
                print_string(nullptr, "%s: not carried: ", g_device_target.name);
            }
            print_string("key", "%s: ", key);
        }
        return sink != CHANGES_COUNTED;
    };
    // Nothing when the two sides agree; the text formats hold the arrow
    // and the line end.
    const auto change = [&](const char *key, const char *card_format, uint32_t was,
                            const char *file_format, uint32_t will) {
        if (was != will && open_change(key)) {
            print_uint("card", card_format, was);
            print_uint("file", file_format, will);
            close_json();
        }
    };
    change("mode", "0x%02X -> ", card.mode, "0x%02X\n", file.mode);
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        if (key.kind == KEY_TEXT && memcmp(card.MODENAME, file.MODENAME, MODENAME_SIZE) != 0 &&
            open_change(key.name)) {
            print_bytes("card", "\"%s\" -> ", card.MODENAME, name_length(card.MODENAME));
            print_bytes("file", "\"%s\"\n", file.MODENAME, name_length(file.MODENAME));
            close_json();
        }
        // The mode is above; METADATA is no field.
        const bool numbers = key.kind == KEY_NUMBER || key.kind == KEY_CARD_ID;
        const bool hex = key.format == SHOW_HEX || key.kind == KEY_CARD_ID;
        for (uint32_t pf = 0; numbers && pf < key.count; ++pf) {
            change(key_name(key_slot(row, pf)), hex ? "0x%X -> " : "%u -> ",
                   key_element(&card, key, pf), hex ? "0x%X\n" : "%u\n",
                   key_element(&file, key, pf));
        }
    }
    change("reserved", "%u non-zero bytes -> ", reserved_nonzero(card), "%u\n", 0);
    return count;
}

// The document of diff --json, or in text the changes alone; the findings
// are those of a refused file, which text tells on standard error.
void print_diff(const CommandOptions &options, const char *status, const char *error,
                int32_t card_status, const ResourceTemplate *was, const ResourceTemplate *will)
{
    open_json(nullptr, JSON_OBJECT);
    print_string("device", nullptr, g_device_target.name);
    print_string("file", nullptr, options.file);
    print_string("status", nullptr, status);
    print_string("error", nullptr, error);
    print_bool("card_empty", card_status > 0);
    print_uint("card_status", nullptr, static_cast<uint32_t>(card_status));
    open_json("findings", JSON_ARRAY);
    if (options.json && !load_accepts(&g_check)) {
        print_findings(options.file, &g_check);
    }
    close_json();
    open_json("changes", JSON_ARRAY);
    if (was != nullptr) {
        (void)visit_changes(*was, *will, CHANGES_PRINTED);
    }
    close_json();
    close_json();
}

// A file refused, its errors told first, or no answer to compare.
int diff_trouble(const CommandOptions &options, const char *status, const char *why)
{
    print_diff(options, status, why, 0, nullptr, nullptr);
    print_to(stderr, false);
    print_findings(options.file, &g_check, true);
    return warn("%s", why);
}

}  // namespace

int run_export(const CommandOptions &options)
{
    // An existing file is replaced where it really lies, not through a
    // link, and only a regular file is; this is settled before the card is
    // asked anything.
    ReplacedFile file{};
    const bool placed =
        options.output == nullptr || resolve_replace_target(options.output, true, &file) == 0;
    char why[CARD_TROUBLE_SIZE];
    CardIdentity card{};
    ResourceTemplate card_record{};
    if (!placed || !ask_card_identity(&card, why) || fetch_card_template(&card_record, why) != 0) {
        return warn("%s; nothing was written", placed ? why : file.why);
    }
    ResourceTemplate loadable{};
    copy_carried(card_record, card, &loadable);
    // What the file does not carry is told in diff's words, to the person.
    print_to(stderr, false);
    const uint32_t uncarried = visit_changes(card_record, loadable, CHANGES_WARNED);
    // The comment says where and when the backup was taken, in lines of the
    // file: a line end in a name would end one and leave the rest to be
    // read as keys.
    char device[DEVICE_NAME_SIZE * 4];
    char host[4 * HOST_NAME_MAX + 4] = "?";
    char taken[TIME_TEXT_SIZE];
    (void)show_text(g_device_target.name, strlen(g_device_target.name), device, sizeof(device),
                    SHOW_C0);
    utsname machine{};
    (void)uname(&machine);
    (void)show_text(machine.nodename, strlen(machine.nodename), host, sizeof(host), SHOW_C0);
    now_text(taken);
    char card_id[32] = "";
    if (driver_reports_pci_id(&card)) {
        snprintf(card_id, sizeof(card_id), "card PCI device id 0x%04X, ", card.pci_device_id);
    }
    char comment[512];
    snprintf(comment, sizeof(comment),
             "Template of %s, written by %s export\n# Taken from host %s (%sdriver %u.%u.%u.%u) "
             "at %s",
             device, PROGRAM_NAME, host, card_id, card.driver_version[0], card.driver_version[1],
             card.driver_version[2], card.driver_version[3], taken);
    size_t length = 0;
    if (write_template_text(&loadable, driver_reports_pci_id(&card) ? &card.pci_device_id : nullptr,
                            comment, g_text, sizeof(g_text), &length) != 0) {
        return warn("%s: the template does not fit the text buffer; nothing was written",
                    g_device_target.name);
    }
    if (options.output == nullptr) {
        fwrite(g_text, 1, length, stdout);  // the program's end checks that it got there
    } else if (start_replacing(&file) != 0 || write_replacing(&file, g_text, length) != 0 ||
               finish_replacing(&file, 0600, nullptr) != 0) {
        return warn("%s", file.why);
    } else {
        note_written(file.path);
    }
    if (uncarried != 0) {
        warn("%s: the file does not carry all the card holds (%u item%s above)",
             g_device_target.name, uncarried, uncarried == 1 ? "" : "s");
    }
    return uncarried != 0 ? EXIT_NO : EXIT_GOOD;
}

// A load of FILE against the card, or with --running what the next boot
// changes: what the card runs, as the boot service recorded it, against
// what it holds.
int run_diff(const CommandOptions &options)
{
    char why[CARD_TROUBLE_SIZE];
    CardIdentity card{};
    const bool asked = options.running || ask_card_identity(&card, why);
    if (!asked || (!options.running && check_template(options.file, &card, false, &g_check) != 0)) {
        return diff_trouble(options, "error", asked ? g_check.trouble : why);
    }
    if (!load_accepts(&g_check)) {
        char refused[TROUBLE_SIZE];
        snprintf(refused, sizeof(refused), "%s: a load on %s would refuse it", options.file,
                 g_device_target.name);
        return diff_trouble(options, "refused", refused);
    }
    ResourceTemplate card_record{};
    RunningRecord running{};
    const int32_t fetched = fetch_card_template(&card_record, why);
    const bool unrecorded = fetched >= 0 && options.running && !read_running(&running);
    if (unrecorded) {
        snprintf(why, sizeof(why),
                 "%s: no record of what the card runs since this boot (zorvi-boot.service)",
                 g_device_target.name);
    }
    if (fetched < 0 || unrecorded) {
        return diff_trouble(options, "error", why);
    }
    if (fetched > 0 && !options.running) {
        // No template to compare with (a fetch that failed left the record
        // all zeros): a load changes the card whatever the file's values.
        warn("%s; a load would store the whole template", why);
    }
    const ResourceTemplate &was = options.running ? running.running : card_record;
    const ResourceTemplate &will = options.running ? card_record : g_check.record;
    const bool same = options.running
                          ? !differs_from_running(running, fetched, card_record)
                          : fetched == 0 && visit_changes(was, will, CHANGES_COUNTED) == 0;
    print_diff(options, same ? "same" : "changes", nullptr, fetched, &was, &will);
    return same ? EXIT_GOOD : EXIT_NO;
}
