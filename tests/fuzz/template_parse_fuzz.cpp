// Any bytes as a template file through the whole parse, identity checks
// included, with the card queries answered here. The outcome must be the one
// a model built on the INI model and the reference checksum predicts, record
// byte for byte; and a record that passes must be one the card may receive:
// header clear but for mode, unselected blocks and reserved bytes zero,
// every value within its key's bound.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "channel/card_queries.h"
#include "channel/template_exchange.h"
#include "template/template_keys.h"
#include "template/template_parser.h"
#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/ini_model.h"
#include "tests/property/random_template.h"
#include "tests/template/template_file.h"
#include "tool/device_target.h"

namespace {

constexpr uint32_t CARD_PCI_DEVICE_ID = 0x1822;

// Driver replies, picked by the input's length so the file bytes stay as
// the fuzzer made them: current, with a build suffix, too old for the PCI id
// query, and a reply that fills the whole buffer with no terminator.
const char *g_version_reply;
char g_full_reply[DRIVER_VERSION_SIZE];

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "template parse: %s\n", what);
        abort();
    }
}

uint32_t element(const ResourceTemplate &record, const TemplateKey &key, uint32_t index)
{
    const auto *field = reinterpret_cast<const uint8_t *>(&record) + key.offset + index * key.width;
    uint32_t value = 0;
    memcpy(&value, field, key.width > 4 ? 4 : key.width);  // little-endian
    return value;
}

bool all_zero(const void *data, size_t size)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

void check_parsed_record(const ResourceTemplate &record, uint32_t older_driver)
{
    ResourceTemplate header{};
    memcpy(&header, &record, TEMPLATE_BODY_OFFSET);
    header.mode = 0;
    check(all_zero(&header, TEMPLATE_BODY_OFFSET), "header filled by the parser");
    check(record.mode <= 0x7FFF, "mode above VERSION / 2");
    check(all_zero(record.reserved_tail, sizeof(record.reserved_tail)), "reserved tail");
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        const auto *field = reinterpret_cast<const uint8_t *>(&record) + key.offset;
        bool selected = key.mode_bit == 0 || (record.mode & key.mode_bit) != 0;
        if (!selected) {
            check(all_zero(field, key.width * key.count), "unselected block not zero");
            continue;
        }
        if (key.kind == KEY_TEXT) {
            check(memchr(field, '\0', key.width) != nullptr, "text field without NUL");
        } else if (key.kind == KEY_CARD_ID) {
            check(element(record, key, 0) == (older_driver ? 0 : CARD_PCI_DEVICE_ID),
                  "PCIDID differs from the card");
        } else {
            for (uint32_t i = 0; i < key.count; ++i) {
                check(element(record, key, i) <= key.bound, "value above its bound");
            }
        }
    }
}

// The parse as the model sees it: the record, or nothing when it must fail.
std::optional<ResourceTemplate> model_parse(const uint8_t *data, size_t size, bool older_driver)
{
    const std::vector<std::string> lines = zorvifuzz::read_lines(data, size);
    auto number = [&](const char *section, const std::string &key) -> std::optional<uint32_t> {
        auto text = zorvifuzz::model_lookup(lines, section, key);
        if (!text) {
            return std::nullopt;
        }
        zorvifuzz::ScanResult scan = zorvifuzz::model_number_value(*text);
        return scan.result == 1 ? std::optional<uint32_t>(scan.value) : std::nullopt;
    };
    ResourceTemplate record{};
    auto version = number("INFO", "VERSION");
    if (!version || *version > VERSION_MAX) {
        return std::nullopt;
    }
    record.mode = *version >> 1;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.mode_bit != 0 && (record.mode & key.mode_bit) == 0) {
            continue;
        }
        if (key.kind == KEY_CARD_ID) {
            continue;  // read with the identity checks, after the tables
        }
        if (key.kind == KEY_TEXT) {
            auto text = zorvifuzz::model_lookup(lines, "INFO", key.name);
            if (!text) {
                return std::nullopt;
            }
            memcpy(record.MODENAME, text->c_str(), text->size() + 1);
            continue;
        }
        for (uint32_t i = 0; i < key.count; ++i) {
            char name[32];
            snprintf(name, sizeof(name), key.count == 1 ? "%s" : "%s%02u", key.name, i);
            auto value = number(section_name(key.section), name);
            if (!value || *value > key.bound) {
                return std::nullopt;
            }
            zorvitest::set_element(record, key, i, *value);
        }
    }
    if (!older_driver) {
        auto id = number("INFO", "PCIDID");
        if (!id || *id != CARD_PCI_DEVICE_ID) {
            return std::nullopt;
        }
        if ((record.mode & MODE_PCIDID) != 0) {
            record.PCIDID = *id;
        }
    }
    const uint32_t length = zorviprop::reference_length(record.mode);
    const uint32_t checksum = zorviprop::reference_crc32(
        reinterpret_cast<const uint8_t *>(&record) + TEMPLATE_BODY_OFFSET, length);
    auto metadata = number("INFO", "METADATA");
    if (!metadata || *metadata != checksum) {
        return std::nullopt;
    }
    return record;
}

}  // namespace

// Stand-ins for the two card queries of the channel library.
int32_t get_driver_version(DeviceTarget, char *version)
{
    memcpy(version, g_version_reply, strnlen(g_version_reply, DRIVER_VERSION_SIZE));
    return 0;
}

int32_t get_pci_device_id(DeviceTarget, uint32_t *device_id)
{
    *device_id = CARD_PCI_DEVICE_ID;
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zorvifuzz::silence_stdout();
    memset(g_full_reply, 'x', sizeof(g_full_reply));
    memcpy(g_full_reply, "1.4.3.0 ", 8);
    g_device_target.id = 0;
    strcpy(g_device_target.name, "zorvi0");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const REPLIES[] = {"1.4.3.0", "1.4.3.0 build 5", "1.4.2.9", nullptr};
    size_t pick = size % 4;
    g_version_reply = REPLIES[pick] != nullptr ? REPLIES[pick] : g_full_reply;
    // strnlen above must not run off the unterminated reply either.
    static_assert(sizeof(g_full_reply) == DRIVER_VERSION_SIZE);

    const char *path = zorvifuzz::write_scratch_file(data, size);
    ResourceTemplate record;
    memset(&record, 0xA5, sizeof(record));
    int32_t status = parse_template_file(path, &record);
    check(status == 0 || status == -1, "unexpected parse status");
    const std::optional<ResourceTemplate> expected = model_parse(data, size, pick == 2);
    check((status == 0) == expected.has_value(), "parse outcome differs from the model");
    if (status == 0) {
        check(memcmp(&record, &*expected, sizeof(record)) == 0, "record differs from the model");
        check_parsed_record(record, pick == 2);
        uint32_t length = template_length(&record);
        check(length >= TEMPLATE_BASE_LENGTH && length <= TEMPLATE_SIZE - TEMPLATE_BODY_OFFSET,
              "checksum length outside the record");
    }
    return 0;
}
