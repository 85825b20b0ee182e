#include "zorvitemplate/key_slots.h"

#include <cstdio>
#include <cstring>

namespace {

// The first slot of each key of the table.
size_t first_slot(size_t key_index)
{
    size_t slot = VERSION_SLOT + 1;
    for (size_t i = 0; i < key_index; ++i) {
        slot += TEMPLATE_KEYS[i].count;
    }
    return slot;
}

bool same_name(const char *name, size_t length, const char *known)
{
    return strlen(known) == length && memcmp(name, known, length) == 0;
}

}  // namespace

size_t key_slot(size_t key_index, uint32_t element, const char *name)
{
    if (key_index >= TEMPLATE_KEY_COUNT) {
        return strcmp(name, "VERSION") == 0 ? VERSION_SLOT : METADATA_SLOT;
    }
    return first_slot(key_index) + element;
}

size_t find_key_slot(const char *name, size_t length)
{
    if (same_name(name, length, "VERSION")) {
        return VERSION_SLOT;
    }
    if (same_name(name, length, "METADATA")) {
        return METADATA_SLOT;
    }
    size_t slot = VERSION_SLOT + 1;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        const size_t base = strlen(key.name);
        if (key.count == 1 && same_name(name, length, key.name)) {
            return slot;
        }
        // A per-PF key: the base name and exactly two digits, 00 to 15.
        if (key.count != 1 && length == base + 2 && memcmp(name, key.name, base) == 0 &&
            name[base] >= '0' && name[base] <= '9' && name[base + 1] >= '0' &&
            name[base + 1] <= '9') {
            const auto pf = static_cast<uint32_t>((name[base] - '0') * 10 + (name[base + 1] - '0'));
            if (pf < key.count) {
                return slot + pf;
            }
        }
        slot += key.count;
    }
    return KEY_SLOT_COUNT;
}

void describe_key_slot(size_t slot, char (&name)[KEY_NAME_SIZE], TemplateSection *section,
                       size_t *key_index)
{
    *section = SECTION_INFO;
    *key_index = TEMPLATE_KEY_COUNT;
    if (slot == VERSION_SLOT || slot >= METADATA_SLOT) {
        snprintf(name, sizeof(name), "%s", slot == VERSION_SLOT ? "VERSION" : "METADATA");
        return;
    }
    size_t first = VERSION_SLOT + 1;
    for (size_t i = 0; i < TEMPLATE_KEY_COUNT; ++i) {
        const TemplateKey &key = TEMPLATE_KEYS[i];
        if (slot < first + key.count) {
            *section = key.section;
            *key_index = i;
            if (key.count == 1) {
                snprintf(name, sizeof(name), "%s", key.name);
            } else {
                snprintf(name, sizeof(name), "%s%02u", key.name,
                         static_cast<unsigned>(slot - first));
            }
            return;
        }
        first += key.count;
    }
}
