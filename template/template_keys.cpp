// Key names, as a template file writes them and as a check reads them back.
#include "template/template_keys.h"

#include <cstdio>
#include <cstring>

size_t parse_key_name(const char *name, size_t length, size_t *row, uint32_t *element)
{
    for (size_t at = 0; at < TEMPLATE_KEY_COUNT; ++at) {
        for (uint32_t pf = 0; pf < TEMPLATE_KEYS[at].count; ++pf) {
            const char *known = key_name(key_slot(at, pf));
            if (strlen(known) == length && memcmp(known, name, length) == 0) {
                *row = at;
                *element = pf;
                return key_slot(at, pf);
            }
        }
    }
    return KEY_SLOT_COUNT;
}

void show_key_value(const TemplateKey &key, uint32_t value, char (&text)[KEY_VALUE_TEXT_SIZE])
{
    const bool table = key.count == PF_COUNT;
    if (table && key.format == SHOW_HEX) {
        snprintf(text, sizeof(text), "0x%02x", value);
    } else if (table) {
        snprintf(text, sizeof(text), "%02d", static_cast<int>(value));
    } else if (key.format == SHOW_HEX) {
        snprintf(text, sizeof(text), "0x%0*X", static_cast<int>(2 * key.width), value);
    } else {
        snprintf(text, sizeof(text), "%u", value);
    }
}
