// Key names, as a template file writes them and as a check reads them back.
#include "template/template_keys.h"

#include <cstring>

size_t parse_key_name(const char *name, size_t length, size_t *row, uint32_t *element)
{
    for (size_t at = 0; at < TEMPLATE_KEY_COUNT; ++at) {
        const TemplateKey &key = TEMPLATE_KEYS[at];
        const size_t base = strlen(key.name);
        const size_t digits = key.count == 1 ? 0 : 2;
        if (length != base + digits || memcmp(name, key.name, base) != 0) {
            continue;
        }
        uint32_t pf = 0;
        for (size_t i = base; i < length; ++i) {
            if (name[i] < '0' || name[i] > '9') {
                return KEY_SLOT_COUNT;
            }
            pf = pf * 10 + static_cast<uint32_t>(name[i] - '0');
        }
        if (pf >= key.count) {
            return KEY_SLOT_COUNT;
        }
        *row = at;
        *element = pf;
        return key_slot(at, pf);
    }
    return KEY_SLOT_COUNT;
}
