// export and diff: the card's template as a file, and a file against the
// card. Neither writes to the card.
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bounded/shown_text.h"
#include "channel/device_target.h"
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

char g_text[TEMPLATE_TEXT_SIZE];

// The name's bytes up to its last nonzero one: bytes after its end are
// shown too (as \x00 for the end), or a name that only they change would
// look the same on both sides.
size_t name_length(const char (&name)[MODENAME_SIZE])
{
    return std::string_view(name, MODENAME_SIZE).find_last_not_of('\0') + 1;  // npos + 1 is 0
}

// Where visit_changes puts each change: nowhere (diff counts first), one
// entry a value (diff's JSON, or export's line of what its file does not
// carry), or diff's text, tables as the display shows them.
enum ChangeSink : uint8_t { CHANGES_COUNTED, CHANGES_LISTED, CHANGES_TABLED };

// The words that name diff's two sides, in its rows and JSON: OLD NEW of
// one kind, a card and a file, what the card runs and holds.
using SideNames = const char *const[2];
// An operand that holds no template: every value is zero (git gives it for
// a file added or removed).
constexpr const char *NO_TEMPLATE = "/dev/null";
constexpr SideNames SIDES_ALIKE = {"old", "new"}, SIDES_LOAD = {"card", "file"},
                    SIDES_BACK = {"file", "card"}, SIDES_RUNNING = {"running", "stored"};

// A per-PF key as the display shows its table, with the columns of the PFs
// that change and a row for each side.
void print_table_change(const TemplateKey &key, const ResourceTemplate *const (&records)[2],
                        SideNames &sides)
{
    print_string(nullptr, "[%s]\n", key.name);
    for (int row = -1; row < 2; ++row) {
        print_string(nullptr, "%s", row < 0 ? "" : sides[row]);
        for (uint32_t pf = 0; pf < PF_COUNT; ++pf) {
            char text[KEY_VALUE_TEXT_SIZE];
            if (key_element(records[0], key, pf) != key_element(records[1], key, pf)) {
                row < 0 ? (void)snprintf(text, sizeof(text), "PF%02u", pf)
                        : show_key_value(key, key_element(records[row], key, pf), text);
                print_string(nullptr, "\t%s", text);
            }
        }
        print_string(nullptr, "%s\n", "");
    }
}

// What changes from `was` to `will`, in the order of the key table, each
// value as the display shows it; returns the count.
uint32_t visit_changes(const ResourceTemplate &was, const ResourceTemplate &will, SideNames &sides,
                       ChangeSink sink)
{
    uint32_t count = 0;
    bool listed = sink != CHANGES_COUNTED;  // a table's values are counted, then it is shown
    // Counts a change and, when it is listed, opens its entry with the key;
    // the caller prints the two sides and closes it.
    const auto open_change = [&](const char *key) {
        ++count;
        if (listed) {
            open_json(nullptr, JSON_OBJECT);
            if (sink == CHANGES_LISTED) {  // text only: export's warning
                print_string(nullptr, "%s: ", PROGRAM_NAME);
                print_string(nullptr, "%s: not carried: ", g_device_target.name);
            }
            print_string("key", "%s: ", key);
        }
        return listed;
    };
    // JSON has the numbers; text KEY: OLD -> NEW, each as `show` writes it.
    const auto change = [&](const char *key, uint32_t old, uint32_t now, auto show) {
        char text[2][KEY_VALUE_TEXT_SIZE];
        if (old != now && open_change(key)) {
            show(old, text[0]);
            show(now, text[1]);
            print_uint(sides[0], nullptr, old);
            print_string(nullptr, "%s -> ", text[0]);
            print_uint(sides[1], nullptr, now);
            print_string(nullptr, "%s\n", text[1]);
            close_json();
        }
    };
    change("mode", was.mode, will.mode,
           [](uint32_t value, auto &text) { snprintf(text, sizeof(text), "0x%02X", value); });
    uint32_t tables = 0;
    uint32_t in_tables = 0;
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        const bool table = sink == CHANGES_TABLED && key.count == PF_COUNT;
        listed = sink != CHANGES_COUNTED && !table;
        if (key.kind == KEY_TEXT && memcmp(was.MODENAME, will.MODENAME, MODENAME_SIZE) != 0 &&
            open_change(key.name)) {
            print_bytes(sides[0], "\"%s\" -> ", was.MODENAME, name_length(was.MODENAME));
            print_bytes(sides[1], "\"%s\"\n", will.MODENAME, name_length(will.MODENAME));
            close_json();
        }
        // The mode is above; METADATA is no field.
        const bool numbers = key.kind == KEY_NUMBER || key.kind == KEY_CARD_ID;
        const uint32_t before = count;
        for (uint32_t pf = 0; numbers && pf < key.count; ++pf) {
            change(key_name(key_slot(row, pf)), key_element(&was, key, pf),
                   key_element(&will, key, pf),
                   [&key](uint32_t value, auto &text) { show_key_value(key, value, text); });
        }
        if (table && count != before) {
            print_table_change(key, {&was, &will}, sides);
            ++tables;
            in_tables += count - before;
        }
    }
    listed = sink != CHANGES_COUNTED;
    change("reserved", reserved_nonzero(was), reserved_nonzero(will),
           [](uint32_t value, auto &text) {
               snprintf(text, sizeof(text), "%u non-zero bytes", value);
           });
    if (sink == CHANGES_TABLED && count != 0) {
        print_uint(nullptr, count == 1 ? "%u value changes" : "%u values change", count);
        print_uint(nullptr, ", %u of them", in_tables, tables != 0);
        print_uint(nullptr, tables == 1 ? " in %u table" : " in %u tables", tables, tables != 0);
        print_string(nullptr, "%s\n", "");
    }
    return count;
}
// One operand of diff: a card, as it holds its template, or a file, as a
// load builds its record.
struct DiffSide {
    const char *operand;
    bool card;
    int32_t status;  // a card's answer to the fetch: 0, its status byte, below 0
    ResourceTemplate record;
    CheckResult check;  // a file's
};
DiffSide g_sides[2];

// The document of diff --json, or in text the changes alone; the findings
// are those of a refused file, which text tells on standard error.
void print_diff(SideNames &sides, const char *status, const char *error, const DiffSide *refused,
                ChangeSink sink)
{
    const DiffSide &card = g_sides[1].card ? g_sides[1] : g_sides[0];
    open_json(nullptr, JSON_OBJECT);
    print_string(sides[0], nullptr, g_sides[0].operand);
    print_string(sides[1], nullptr, g_sides[1].operand);
    print_string("status", nullptr, status);
    print_string("error", nullptr, error);
    print_bool("card_empty", card.status > 0);
    print_uint("card_status", nullptr, static_cast<uint32_t>(card.status));
    open_json("findings", JSON_ARRAY);
    if (refused != nullptr) {
        print_findings(refused->operand, &refused->check);
    }
    close_json();
    open_json("changes", JSON_ARRAY);
    (void)visit_changes(g_sides[0].record, g_sides[1].record, sides, sink);
    close_json();
    close_json();
}

// A file refused, its errors told first, or no answer to compare.
int diff_trouble(const CommandOptions &options, SideNames &sides, const char *status,
                 const char *why, const DiffSide *refused)
{
    print_diff(sides, status, why, options.json ? refused : nullptr, CHANGES_COUNTED);
    print_to(stderr, false);
    if (refused != nullptr) {
        print_findings(refused->operand, &refused->check, true);
    }
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
    // A load stores the card's own id, and only when the driver tells it.
    const uint32_t *pci_id = driver_reports_pci_id(&card) ? &card.pci_device_id : nullptr;
    ResourceTemplate loadable{};
    carried_record(&card_record, pci_id, &loadable);
    // What the file does not carry is told in diff's words, to the person.
    print_to(stderr, false);
    const uint32_t uncarried = visit_changes(card_record, loadable, SIDES_LOAD, CHANGES_LISTED);
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
    if (pci_id != nullptr) {
        snprintf(card_id, sizeof(card_id), "card PCI device id 0x%04X, ", *pci_id);
    }
    char version[VERSION_TEXT_SIZE];
    show_driver_version(card, version);
    char comment[512];
    snprintf(comment, sizeof(comment),
             "Template of %s, written by %s export\n# Taken from host %s (%sdriver %s) at %s",
             device, PROGRAM_NAME, host, card_id, version, taken);
    size_t length = 0;
    if (write_template_text(&loadable, pci_id, comment, g_text, sizeof(g_text), &length) != 0) {
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

// What changes from OLD to NEW: each a card, asked only what a load asks,
// or a file, judged as a load on the card it is compared with would judge
// it (as check does when there is none); with --running, from what the
// card runs, as the boot service recorded it, to what it holds.
int run_diff(const CommandOptions &options)
{
    g_sides[0].operand = options.first;
    g_sides[1].operand = options.file;  // with --running, the same device
    for (DiffSide &side : g_sides) {
        side.card = options.running ||
                    (strchr(side.operand, '/') == nullptr && is_card_device(side.operand));
    }
    const bool mixed = g_sides[0].card != g_sides[1].card;
    SideNames &sides = options.running   ? SIDES_RUNNING
                       : !mixed          ? SIDES_ALIKE
                       : g_sides[0].card ? SIDES_LOAD
                                         : SIDES_BACK;
    char why[CARD_TROUBLE_SIZE];
    CardIdentity card = DEFAULT_CARD;
    const char *device = g_sides[g_sides[0].card ? 0 : 1].operand;
    if (mixed && (!select_device(device) || !ask_card_identity(&card, why))) {
        return diff_trouble(options, sides, "error", why, nullptr);
    }
    RunningRecord running{};
    // A file first, so that one refused is told before a note on the card.
    const int first = g_sides[0].card ? 1 : 0;
    for (const int i : {first, 1 - first}) {
        DiffSide &side = g_sides[i];
        if (options.running && i == 0) {
            if (!read_running(&running)) {
                snprintf(why, sizeof(why),
                         "%s: no record of what the card runs since this boot (zorvi-boot.service)",
                         g_device_target.name);
                return diff_trouble(options, sides, "error", why, nullptr);
            }
            side.status = running.card_status;
            side.record = running.running;
        } else if (side.card) {
            (void)select_device(side.operand);
            side.status = fetch_card_template(&side.record, why);
            if (side.status < 0) {
                return diff_trouble(options, sides, "error", why, nullptr);
            }
            // No template to compare with (a fetch that failed left the
            // record all zeros): a load changes the card whatever it loads.
            if (side.status > 0 && !options.running) {
                warn("%s; its values are taken as zeros", why);
            }
        } else if (strcmp(side.operand, NO_TEMPLATE) != 0) {
            if (check_template(side.operand, &card, !mixed, &side.check) != 0) {
                return diff_trouble(options, sides, "error", side.check.trouble, nullptr);
            }
            if (!load_accepts(&side.check)) {
                char refused[TROUBLE_SIZE];
                snprintf(refused, sizeof(refused), "%s: a load%s%s would refuse it", side.operand,
                         mixed ? " on " : "", mixed ? device : "");
                return diff_trouble(options, sides, "refused", refused, &side);
            }
            side.record = side.check.record;
        }
    }
    // The next boot changes what list says it changes; a card that answered
    // a status differs from one that did not.
    const bool same =
        options.running
            ? !differs_from_running(running, g_sides[1].status, g_sides[1].record)
            : g_sides[0].status == g_sides[1].status &&
                  visit_changes(g_sides[0].record, g_sides[1].record, sides, CHANGES_COUNTED) == 0;
    print_diff(sides, same ? "same" : "changes", nullptr, nullptr,
               options.json ? CHANGES_LISTED : CHANGES_TABLED);
    return same ? EXIT_GOOD : EXIT_NO;
}
