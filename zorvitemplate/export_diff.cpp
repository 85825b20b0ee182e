// export and diff: the card's template as a file, and a file against the
// card. Neither writes to the card.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
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
#include "zorvitemplate/replace_file.h"

namespace {

constexpr uint32_t RESERVED_WORD = offsetof(ResourceTemplate, reserved3);
constexpr uint32_t RESERVED_TAIL = offsetof(ResourceTemplate, reserved_tail);
constexpr mode_t EXPORT_MODE = 0600;
constexpr size_t SHOWN_TEXT_SIZE = MODENAME_SIZE * 4 + 4;

CheckResult g_check;
char g_text[TEMPLATE_TEXT_SIZE];

uint32_t count_nonzero(const ResourceTemplate *record, uint32_t from, uint32_t to)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(record);
    uint32_t count = 0;
    for (uint32_t i = from; i < to; ++i) {
        count += bytes[i] != 0 ? 1 : 0;
    }
    return count;
}

uint32_t reserved_nonzero(const ResourceTemplate *record)
{
    return count_nonzero(record, RESERVED_WORD, TEMPLATE_BODY_OFFSET) +
           count_nonzero(record, RESERVED_TAIL, TEMPLATE_SIZE);
}

// The name as a load reads it back from "MODENAME = name", into `out`: the
// reader's own cut of a key line's value (at a line end or "//", blanks
// dropped). Returns the length kept.
size_t read_back_name(const char *name, size_t length, char (&out)[MODENAME_SIZE])
{
    static constexpr char KEY[] = "MODENAME=";
    char line[sizeof(KEY) + MODENAME_SIZE] = {};
    memcpy(line, KEY, sizeof(KEY) - 1);
    memcpy(line + sizeof(KEY) - 1, name, length);
    IniLineParts parts;
    describe_ini_line(line, &parts);
    memset(out, 0, sizeof(out));
    memcpy(out, parts.value, parts.value_length);
    return parts.value_length;
}

uint32_t carry_modename(const ResourceTemplate &card_record, ResourceTemplate *out)
{
    const char *device = g_device_target.name;
    const char *field = card_record.MODENAME;
    uint32_t uncarried = 0;
    size_t length = strnlen(field, MODENAME_SIZE);
    if (length == MODENAME_SIZE) {
        warn("%s: MODENAME fills all 32 bytes without an end; the file keeps its first 31", device);
        length = MODENAME_SIZE - 1;
        ++uncarried;
    }
    for (size_t i = length + 1; i < MODENAME_SIZE; ++i) {
        if (field[i] != 0) {
            warn("%s: MODENAME has bytes after its end, which no file carries", device);
            ++uncarried;
            break;
        }
    }
    const size_t kept = read_back_name(field, length, out->MODENAME);
    if (kept != length || memcmp(out->MODENAME, field, length) != 0) {
        char shown[SHOWN_TEXT_SIZE];
        (void)show_text(field, length, shown, sizeof(shown), SHOW_C0);
        char kept_shown[SHOWN_TEXT_SIZE];
        (void)show_text(out->MODENAME, kept, kept_shown, sizeof(kept_shown), SHOW_C0);
        warn("%s: MODENAME \"%s\" cannot stand in a file as it is; the file has \"%s\"", device,
             shown, kept_shown);
        ++uncarried;
    }
    return uncarried;
}

// Copies into `out` the record a load of the exported file builds: the
// card's, save what no file can carry, each of which is told. Returns how
// many such items there are.
uint32_t copy_carried(const ResourceTemplate &card_record, const CardIdentity &card,
                      ResourceTemplate *out)
{
    const char *device = g_device_target.name;
    uint32_t uncarried = 0;
    *out = ResourceTemplate{};
    out->mode = card_record.mode & MODE_BITS_KNOWN;
    if (card_record.mode != out->mode) {
        warn(
            "%s: mode 0x%X has bits above 0x40 (0x%X), which select no block; the file has mode "
            "0x%02X",
            device, card_record.mode, card_record.mode & ~MODE_BITS_KNOWN, out->mode);
        ++uncarried;
    }
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        const bool enabled = key_enabled(out->mode, key);
        if (!is_record_key(key) && key.kind != KEY_CARD_ID) {
            continue;  // VERSION and METADATA come from the mode and the record
        }
        if (key.kind == KEY_CARD_ID) {
            // A load stores the card's own id, and only when the driver tells it.
            const uint32_t held = key_element(&card_record, key, 0);
            const bool stored = enabled && driver_reports_pci_id(&card);
            if (stored) {
                set_key_element(out, key, 0, card.pci_device_id);
            }
            if (stored && held != card.pci_device_id) {
                warn("%s: PCIDID holds 0x%X, but a load stores the card's own id 0x%X", device,
                     held, card.pci_device_id);
                ++uncarried;
            } else if (!stored && held != 0) {
                warn("%s: PCIDID holds 0x%X, but a load on this card stores none (%s)", device,
                     held, enabled ? "its driver is older than 1.4.3.0" : "the mode leaves it out");
                ++uncarried;
            }
            continue;
        }
        if (!enabled) {
            if (count_nonzero(&card_record, key.offset, key.offset + key.width * key.count) != 0) {
                warn("%s: %s holds values, but mode 0x%02X leaves out its block 0x%02X", device,
                     key.name, out->mode, key.mode_bit);
                ++uncarried;
            }
            continue;
        }
        if (key.kind == KEY_TEXT) {
            uncarried += carry_modename(card_record, out);
            continue;
        }
        for (uint32_t pf = 0; pf < key.count; ++pf) {
            const uint32_t value = key_element(&card_record, key, pf);
            if (value > key.bound) {
                const char *name = key_name(key_slot(row, pf));
                warn("%s: %s = %u is above its bound %u; the file has %u", device, name, value,
                     key.bound, key.bound);
                ++uncarried;
            }
            set_key_element(out, key, pf, value > key.bound ? key.bound : value);
        }
    }
    const uint32_t reserved = reserved_nonzero(&card_record);
    if (reserved != 0) {
        warn("%s: %u reserved bytes are not zero; no file sets them", device, reserved);
        ++uncarried;
    }
    return uncarried;
}

// `target` is nullptr for standard output.
int write_export(const ReplaceTarget *target, size_t length)
{
    if (target == nullptr) {
        print_raw(g_text, length);
        return EXIT_GOOD;
    }
    char why[REPLACE_TROUBLE_SIZE];
    ReplacedFile file{};
    if (start_replacing(target, &file, why) != 0 ||
        write_replacing(&file, g_text, length, why) != 0 ||
        finish_replacing(&file, EXPORT_MODE, nullptr, nullptr, why) != 0) {
        warn("%s", why);
        return EXIT_TROUBLE;
    }
    note_written(target->path);
    return EXIT_GOOD;
}

// What a load of `file` changes on a card that holds `card`, in the order
// of the key table: the count and, when `print`, each change as a line
// KEY: CARD -> FILE or an element of "changes".
uint32_t visit_changes(const ResourceTemplate &card, const ResourceTemplate &file, bool print)
{
    uint32_t count = 0;
    const auto change = [&](const char *key, const char *card_format, uint32_t was,
                            const char *file_format, uint32_t will) {
        ++count;
        if (print) {
            open_object(nullptr);
            print_string(PRINT_ANY, "key", "%s: ", key);
            print_uint(PRINT_ANY, "card", card_format, was);
            print_uint(PRINT_ANY, "file", file_format, will);
            close_object();
        }
    };
    if (card.mode != file.mode) {
        change("mode", "0x%02X -> ", card.mode, "0x%02X\n", file.mode);
    }
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        if (key.kind == KEY_TEXT && memcmp(card.MODENAME, file.MODENAME, MODENAME_SIZE) != 0) {
            ++count;
            if (print) {
                open_object(nullptr);
                print_string(PRINT_ANY, "key", "%s: ", key.name);
                print_bytes(PRINT_ANY, "card", "\"%s\" -> ", card.MODENAME,
                            strnlen(card.MODENAME, MODENAME_SIZE));
                print_bytes(PRINT_ANY, "file", "\"%s\"\n", file.MODENAME,
                            strnlen(file.MODENAME, MODENAME_SIZE));
                close_object();
            }
        }
        if (key.kind != KEY_NUMBER && key.kind != KEY_CARD_ID) {
            continue;  // the mode is above; METADATA is no field
        }
        const bool hex = key.format == SHOW_HEX || key.kind == KEY_CARD_ID;
        for (uint32_t pf = 0; pf < key.count; ++pf) {
            const uint32_t was = key_element(&card, key, pf);
            const uint32_t will = key_element(&file, key, pf);
            if (was != will) {
                change(key_name(key_slot(row, pf)), hex ? "0x%X -> " : "%u -> ", was,
                       hex ? "0x%X\n" : "%u\n", will);
            }
        }
    }
    const uint32_t reserved = reserved_nonzero(&card);
    if (reserved != 0) {
        change("reserved", "%u non-zero bytes -> ", reserved, "%u\n", 0);
    }
    return count;
}

// The document of diff --json, or in text the changes alone; the findings
// are those of a refused file.
void print_diff(const CommandOptions &options, const char *status, const char *error,
                int32_t card_status, const ResourceTemplate *card)
{
    open_object(nullptr);
    print_string(PRINT_JSON, "device", nullptr, options.device);
    print_string(PRINT_JSON, "file", nullptr, options.file);
    print_string(PRINT_JSON, "status", nullptr, status);
    print_string(PRINT_JSON, "error", nullptr, error);
    print_bool("card_empty", card_status > 0);
    print_uint(PRINT_JSON, "card_status", nullptr,
               static_cast<uint32_t>(card_status > 0 ? card_status : 0));
    open_array("findings");
    if (!load_accepts(&g_check)) {
        print_findings(options.file, &g_check);
    }
    close_array();
    open_array("changes");
    if (card != nullptr) {
        (void)visit_changes(*card, g_check.record, true);
    }
    close_array();
    close_object();
}

// A file refused, its errors told first, or no answer to compare.
int diff_trouble(const CommandOptions &options, const char *status, const char *why)
{
    if (printing_json()) {
        print_diff(options, status, why, 0, nullptr);
    }
    warn_errors(options.file, &g_check);
    warn("%s", why);
    return EXIT_TROUBLE;
}

}  // namespace

int run_export(const CommandOptions &options)
{
    // An existing file is replaced where it really lies, not through a
    // link, and only a regular file is; this is settled before the card is
    // asked anything.
    ReplaceTarget target{};
    if (options.output != nullptr) {
        char trouble[REPLACE_TROUBLE_SIZE];
        if (resolve_replace_target(options.output, true, &target, trouble) != 0) {
            warn("%s; nothing was written", trouble);
            return EXIT_TROUBLE;
        }
    }
    char why[CARD_TROUBLE_SIZE];
    CardIdentity card{};
    ResourceTemplate card_record{};
    if (!ask_card_identity(&card, why) || fetch_card_template(&card_record, why) != 0) {
        warn("%s; nothing was written", why);
        return EXIT_TROUBLE;
    }
    ResourceTemplate loadable{};
    const uint32_t uncarried = copy_carried(card_record, card, &loadable);
    // The comment is a line of the file: a line end in the device name
    // would end it and leave the rest to be read as keys.
    char device[DEVICE_NAME_SIZE * 4];
    (void)show_text(g_device_target.name, strlen(g_device_target.name), device, sizeof(device),
                    SHOW_C0);
    char comment[128];
    snprintf(comment, sizeof(comment), "Template of %s, written by %s export", device,
             PROGRAM_NAME);
    size_t length = 0;
    if (write_template_text(&loadable, driver_reports_pci_id(&card) ? &card.pci_device_id : nullptr,
                            comment, g_text, sizeof(g_text), &length) != 0) {
        warn("%s: the template does not fit the text buffer; nothing was written",
             g_device_target.name);
        return EXIT_TROUBLE;
    }
    const int status = write_export(options.output != nullptr ? &target : nullptr, length);
    if (status != EXIT_GOOD) {
        return status;
    }
    if (uncarried != 0) {
        warn("%s: the file does not carry all the card holds (%u item%s above)",
             g_device_target.name, uncarried, uncarried == 1 ? "" : "s");
        return EXIT_NO;
    }
    return EXIT_GOOD;
}

int run_diff(const CommandOptions &options)
{
    print_json(options.json);
    char why[CARD_TROUBLE_SIZE];
    CheckSetup setup{options.file, {}, false};
    if (!ask_card_identity(&setup.card, why)) {
        return diff_trouble(options, "error", why);
    }
    if (check_template(&setup, &g_check) != 0) {
        return diff_trouble(options, "error", g_check.trouble);
    }
    if (!load_accepts(&g_check)) {
        char refused[TROUBLE_SIZE];
        snprintf(refused, sizeof(refused), "%s: a load on %s would refuse it", options.file,
                 g_device_target.name);
        return diff_trouble(options, "refused", refused);
    }
    ResourceTemplate card_record{};
    const int32_t fetched = fetch_card_template(&card_record, why);
    if (fetched < 0) {
        return diff_trouble(options, "error", why);
    }
    if (fetched > 0) {
        // The display takes any status as an empty card, and so does diff;
        // the status goes with it, for a caller to whom that is no answer.
        warn("%s; it counts as an empty card, all zeros", why);
        card_record = ResourceTemplate{};
    }
    const uint32_t changes = visit_changes(card_record, g_check.record, false);
    print_diff(options, changes == 0 ? "same" : "changes", nullptr, fetched, &card_record);
    return changes == 0 ? EXIT_GOOD : EXIT_NO;
}
