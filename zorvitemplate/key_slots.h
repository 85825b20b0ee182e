// Every key a load can read, one slot each: VERSION, each element of each
// key of the table, METADATA. Slots follow the key table, so they come in
// the order a load reads the keys of one section.
#pragma once

#include <cstddef>
#include <cstdint>

#include "template/template_keys.h"

constexpr size_t count_key_slots()
{
    size_t count = 2;  // VERSION, METADATA
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        count += key.count;
    }
    return count;
}

constexpr size_t KEY_SLOT_COUNT = count_key_slots();
constexpr size_t VERSION_SLOT = 0;
constexpr size_t METADATA_SLOT = KEY_SLOT_COUNT - 1;
constexpr size_t KEY_NAME_SIZE = 16;

// The slot of element `element` of table key `key_index`; NO_TABLE_KEY
// (TEMPLATE_KEY_COUNT) names VERSION with `name` "VERSION", else METADATA.
size_t key_slot(size_t key_index, uint32_t element, const char *name);
// The slot of the key `name` (not NUL-terminated), or KEY_SLOT_COUNT.
size_t find_key_slot(const char *name, size_t length);
// The key's name, its section and its line in the table (TEMPLATE_KEY_COUNT
// for VERSION and METADATA).
void describe_key_slot(size_t slot, char (&name)[KEY_NAME_SIZE], TemplateSection *section,
                       size_t *key_index);
