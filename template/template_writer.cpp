#include "template/template_writer.h"

#include <algorithm>
#include <cstring>

#include "bounded/bounded.h"
#include "fileaccess/ini_reader.h"
#include "template/identity_check.h"
#include "template/template_keys.h"

namespace {

// The text grows line by line; the first line that does not fit ends it.
struct TextOut {
    char *text;
    size_t size;
    size_t length;
    int32_t status;
};

void put_line(TextOut *out, const char *format, ...) __attribute__((format(printf, 2, 3)));

void put_line(TextOut *out, const char *format, ...)
{
    if (out->status != 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    const int32_t written =
        vsprintf_s(out->text + out->length, out->size - out->length, format, args);
    va_end(args);
    if (written < 0 || out->length + static_cast<size_t>(written) + 1 >= out->size) {
        out->status = STATUS_BAD_ARGUMENT;
        return;
    }
    out->length += static_cast<size_t>(written);
    out->text[out->length++] = '\n';
    out->text[out->length] = '\0';
}

}  // namespace

void carried_record(const ResourceTemplate *card_record, const uint32_t *pci_device_id,
                    ResourceTemplate *out)
{
    out->mode = card_record->mode & MODE_BITS_KNOWN;
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        const bool enabled = key_enabled(out->mode, key);
        if (enabled && key.kind == KEY_TEXT) {
            // As a load reads "MODENAME = name" back: 31 bytes at most, cut
            // where the reader cuts a value (a line end, "//"), blanks dropped.
            char line[sizeof("MODENAME=") + MODENAME_SIZE] = "MODENAME=";
            memcpy(line + strlen(line), card_record->MODENAME,
                   strnlen(card_record->MODENAME, MODENAME_SIZE - 1));
            IniLineParts parts;
            describe_ini_line(line, &parts);
            memcpy(out->MODENAME, parts.value, parts.value_length);
        } else if (enabled && key.kind == KEY_CARD_ID && pci_device_id != nullptr) {
            set_key_element(out, key, 0, *pci_device_id);
        }
        for (uint32_t pf = 0; enabled && key.kind == KEY_NUMBER && pf < key.count; ++pf) {
            set_key_element(out, key, pf, std::min(key_element(card_record, key, pf), key.bound));
        }
    }
}

int32_t write_template_text(const ResourceTemplate *record, const uint32_t *pci_device_id,
                            const char *comment, char *text, size_t size, size_t *length)
{
    if (record == nullptr || text == nullptr || length == nullptr || size < 2 ||
        record->mode > VERSION_MAX / 2) {
        return STATUS_BAD_ARGUMENT;
    }
    TextOut out{text, size, 0, 0};
    text[0] = '\0';
    if (comment != nullptr) {
        put_line(&out, "# %s", comment);
        put_line(&out, "%s", "");
    }
    put_line(&out, "[INFO]");
    put_line(&out, "VERSION = %u", record->mode * 2);
    if (key_enabled(record->mode, TEMPLATE_KEYS[key_index("MODENAME")])) {
        put_line(&out, "MODENAME = %.*s", static_cast<int>(MODENAME_SIZE - 1), record->MODENAME);
    }
    if (pci_device_id != nullptr) {
        put_line(&out, "PCIDID = 0x%X", *pci_device_id);
    }
    put_line(&out, "METADATA = 0x%08X", template_checksum(record));
    put_line(&out, "%s", "");
    put_line(&out, "[CONFIG]");
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        if (key.section != SECTION_CONFIG || !key_enabled(record->mode, key)) {
            continue;
        }
        // A key the display shows in hexadecimal is written in hexadecimal.
        for (uint32_t pf = 0; pf < key.count; ++pf) {
            put_line(&out, key.format == SHOW_HEX ? "%s = 0x%X" : "%s = %u",
                     key_name(key_slot(row, pf)), key_element(record, key, pf));
        }
    }
    if (out.status != 0) {
        text[0] = '\0';
        return out.status;
    }
    *length = out.length;
    return 0;
}
