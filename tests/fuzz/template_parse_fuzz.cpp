// Any bytes as a template file through the whole parse, identity checks
// included, with the card queries answered in-process. The status must be
// the one a model built on the INI model, the driver version rules and the
// reference checksum predicts, and a record that passes must be the model's
// byte for byte: header clear but for mode, unselected blocks zero.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "channel/card_queries.h"
#include "channel/device_target.h"
#include "channel/template_exchange.h"
#include "template/template_keys.h"
#include "template/template_parser.h"
#include "tests/fuzz/ini_model.h"
#include "tests/property/random_template.h"
#include "tests/template/fake_card.h"
#include "tests/template/template_file.h"

namespace {

const uint32_t CARD_PCI_DEVICE_ID = zorvitest::FakeCard{}.pci_device_id;

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "template parse: %s\n", what);
        abort();
    }
}

// The driver's reply as the identity checks must read it: at most 127
// characters up to a NUL; -1 when empty, -6 unless its first word is a
// dotted decimal of at most four parts (each wrapping at 2^32), else 0 with
// `older` telling whether it is below 1.4.3.0.
int32_t model_reply(const std::string &reply, bool *older)
{
    const std::string text =
        reply.substr(0, std::min<size_t>(reply.find('\0'), DRIVER_VERSION_SIZE - 1));
    if (text.empty()) {
        return -1;
    }
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) {
        return -6;
    }
    const uint32_t oldest[4] = {1, 4, 3, 0};
    uint32_t parts[4] = {};
    size_t part = 0;
    for (size_t i = start; i < text.size() && text[i] != ' '; ++i) {
        if (text[i] == '.' && ++part == 4) {
            return -6;
        }
        if (text[i] != '.' && (text[i] < '0' || text[i] > '9')) {
            return -6;
        }
        if (text[i] != '.') {
            parts[part] = parts[part] * 10 + static_cast<uint32_t>(text[i] - '0');
        }
    }
    *older = std::lexicographical_compare(parts, parts + 4, oldest, oldest + 4);
    return 0;
}

// The parse as the model sees it: its status, and the record when it is 0.
int32_t model_parse(const uint8_t *data, size_t size, const std::string &reply,
                    ResourceTemplate *record)
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
    *record = ResourceTemplate{};
    auto version = number("INFO", "VERSION");
    if (!version || *version > VERSION_MAX) {
        return -1;
    }
    record->mode = *version >> 1;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if ((key.mode_bit != 0 && (record->mode & key.mode_bit) == 0) || key.kind == KEY_CARD_ID) {
            continue;  // PCIDID is read with the identity checks, after the tables
        }
        if (key.kind == KEY_TEXT) {
            auto text = zorvifuzz::model_lookup(lines, "INFO", key.name);
            if (!text) {
                return -1;
            }
            memcpy(record->MODENAME, text->c_str(), text->size() + 1);
            continue;
        }
        for (uint32_t i = 0; i < key.count; ++i) {
            char name[32];
            snprintf(name, sizeof(name), key.count == 1 ? "%s" : "%s%02u", key.name, i);
            auto value = number(section_name(key.section), name);
            if (!value || *value > key.bound) {
                return -1;
            }
            zorvitest::set_element(*record, key, i, *value);
        }
    }
    bool older = false;
    const int32_t reply_status = model_reply(reply, &older);
    if (reply_status != 0) {
        return reply_status;
    }
    if (!older) {
        auto id = number("INFO", "PCIDID");
        if (!id || *id != CARD_PCI_DEVICE_ID) {
            return -1;
        }
        if ((record->mode & MODE_PCIDID) != 0) {
            record->PCIDID = *id;
        }
    }
    const uint32_t length = zorviprop::reference_length(record->mode);
    const uint32_t checksum = zorvitest::reference_crc32(
        reinterpret_cast<const uint8_t *>(record) + TEMPLATE_BODY_OFFSET, length);
    auto metadata = number("INFO", "METADATA");
    return metadata && *metadata == checksum ? 0 : -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    check(freopen("/dev/null", "w", stdout) != nullptr, "cannot silence stdout");
    g_device_target.id = 0;
    strcpy(g_device_target.name, "zorvi0");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The driver's reply, picked by the input's length so the file bytes stay
    // as the fuzzer made them: current, too old for the PCI id query, or the
    // file's own first 128 bytes, raw (a full reply has no terminator).
    std::string &reply = zorvitest::g_fake_card.version_reply;
    switch (size % 3) {
        case 0:
            reply = "1.4.3.0";
            break;
        case 1:
            reply = "1.4.2.9";
            break;
        default:
            reply.assign(reinterpret_cast<const char *>(data),
                         std::min<size_t>(size, DRIVER_VERSION_SIZE));
    }

    const char *path = zorvifuzz::write_scratch_file(data, size);
    ResourceTemplate record;
    memset(&record, 0xA5, sizeof(record));
    const int32_t status = parse_template_file(path, &record);
    ResourceTemplate expected;
    check(status == model_parse(data, size, reply, &expected),
          "parse status differs from the model");
    if (status == 0) {
        check(memcmp(&record, &expected, sizeof(record)) == 0, "record differs from the model");
        uint32_t length = template_length(&record);
        check(length >= TEMPLATE_BASE_LENGTH && length <= TEMPLATE_SIZE - TEMPLATE_BODY_OFFSET,
              "checksum length outside the record");
    }
    return 0;
}
