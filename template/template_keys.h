// The keys of a template file, one line each, in the order the parser reads
// them. The parser, the display and the tools that write or check template
// files all walk this table, so a key is changed in one place.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "template/resource_template.h"

enum TemplateSection : uint8_t { SECTION_INFO, SECTION_CONFIG };

enum TemplateKeyKind : uint8_t {
    KEY_VERSION,   // VERSION: range-checked, stored halved as `mode`
    KEY_NUMBER,    // unsigned number, range-checked and stored at its width
    KEY_TEXT,      // NUL-terminated text filling the whole field
    KEY_CARD_ID,   // PCIDID: compared with the card, read by the identity checks
    KEY_CHECKSUM,  // METADATA: compared with the checksum of the record, not stored
};

// How the display shows a value (show_key_value).
enum KeyFormat : uint8_t { SHOW_DEC, SHOW_HEX };

struct TemplateKey {
    const char *name;  // base name; 16-entry keys add the PF number "00".."15"
    TemplateSection section;
    TemplateKeyKind kind;
    uint32_t bound;     // inclusive upper bound; the lower bound is always 0
    uint32_t offset;    // of the field in ResourceTemplate (METADATA: the crc it
                        // is compared with)
    uint32_t width;     // bytes per element
    uint32_t count;     // 1, or PF_COUNT for a per-PF table
    uint32_t mode_bit;  // 0 for the base block, else the bit that enables it
    KeyFormat format;
};

constexpr const char *SECTION_NAMES[] = {"INFO", "CONFIG"};
constexpr const char *section_name(TemplateSection section)
{
    return SECTION_NAMES[section];
}

// Width and count of a field: an array of numbers is a per-PF table, a
// char array one text element.
template <typename T>
constexpr bool IS_TEXT_FIELD = std::is_same_v<std::remove_extent_t<T>, char>;
template <typename T>
constexpr uint32_t FIELD_WIDTH = IS_TEXT_FIELD<T> ? sizeof(T) : sizeof(std::remove_extent_t<T>);
template <typename T>
constexpr uint32_t FIELD_COUNT = IS_TEXT_FIELD<T> || std::extent_v<T> == 0 ? 1 : std::extent_v<T>;

// The key name is the field name, so offset, width and count cannot drift;
// VERSION and METADATA name the header fields they become and meet.
// clang-format off
#define ZORVI_FIELD_KEY(NAME, FIELD, SECTION, KIND, BOUND, MODE, FORMAT)                     \
    TemplateKey                                                                              \
    {                                                                                        \
        NAME, SECTION, KIND, BOUND, offsetof(ResourceTemplate, FIELD),                       \
            FIELD_WIDTH<decltype(ResourceTemplate::FIELD)>,                                  \
            FIELD_COUNT<decltype(ResourceTemplate::FIELD)>, MODE, FORMAT                     \
    }
#define ZORVI_TEMPLATE_KEY(FIELD, SECTION, KIND, BOUND, MODE, FORMAT)                        \
    ZORVI_FIELD_KEY(#FIELD, FIELD, SECTION, KIND, BOUND, MODE, FORMAT)
// clang-format on

// VERSION is stored halved into `mode`; METADATA is not stored at all.
constexpr uint32_t VERSION_MAX = 65535;
// A bound no u32 exceeds: the key takes any value.
constexpr uint32_t KEY_ANY_VALUE = 0xFFFFFFFF;

constexpr TemplateKey TEMPLATE_KEYS[] = {
    ZORVI_FIELD_KEY("VERSION", mode, SECTION_INFO, KEY_VERSION, VERSION_MAX, 0, SHOW_DEC),
    // Base block, always read.
    ZORVI_TEMPLATE_KEY(HN, SECTION_CONFIG, KEY_NUMBER, 3, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(PN, SECTION_CONFIG, KEY_NUMBER, 15, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(PM, SECTION_CONFIG, KEY_NUMBER, 65535, 0, SHOW_HEX),
    ZORVI_TEMPLATE_KEY(PH, SECTION_CONFIG, KEY_NUMBER, KEY_ANY_VALUE, 0, SHOW_HEX),
    ZORVI_TEMPLATE_KEY(INP, SECTION_CONFIG, KEY_NUMBER, 12, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(VINP, SECTION_CONFIG, KEY_NUMBER, 12, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(VNP, SECTION_CONFIG, KEY_NUMBER, 255, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(QNP, SECTION_CONFIG, KEY_NUMBER, 1024, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(VQNP, SECTION_CONFIG, KEY_NUMBER, 255, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(QPNP, SECTION_CONFIG, KEY_NUMBER, 1048576, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(VQPNP, SECTION_CONFIG, KEY_NUMBER, 1048576, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(CQNP, SECTION_CONFIG, KEY_NUMBER, 1048576, 0, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(VCQNP, SECTION_CONFIG, KEY_NUMBER, 1048576, 0, SHOW_DEC),
    // Optional blocks, read in this order when their bit is set.
    ZORVI_TEMPLATE_KEY(MODENAME, SECTION_INFO, KEY_TEXT, 0, MODE_MODENAME, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O1QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O2QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O4QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O8QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O16QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O32QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O64QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O128QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(O256QVN, SECTION_CONFIG, KEY_NUMBER, 1024, MODE_QVN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(SM, SECTION_CONFIG, KEY_NUMBER, 16, MODE_SM, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(SMP, SECTION_CONFIG, KEY_NUMBER, 255, MODE_SM, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(GAN, SECTION_CONFIG, KEY_NUMBER, 2, MODE_GAN_GCN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(GCN, SECTION_CONFIG, KEY_NUMBER, 5, MODE_GAN_GCN, SHOW_DEC),
    ZORVI_TEMPLATE_KEY(PCIDID, SECTION_INFO, KEY_CARD_ID, KEY_ANY_VALUE, MODE_PCIDID, SHOW_HEX),
    ZORVI_TEMPLATE_KEY(CBMP, SECTION_CONFIG, KEY_NUMBER, 255, MODE_CBMP, SHOW_HEX),
    ZORVI_TEMPLATE_KEY(CBMOP, SECTION_CONFIG, KEY_NUMBER, 255, MODE_CBMP, SHOW_HEX),
    ZORVI_TEMPLATE_KEY(OVNP, SECTION_CONFIG, KEY_NUMBER, 255, MODE_OVNP, SHOW_HEX),
    // Read last, by the identity checks.
    ZORVI_FIELD_KEY("METADATA", crc, SECTION_INFO, KEY_CHECKSUM, KEY_ANY_VALUE, 0, SHOW_HEX),
};

#undef ZORVI_TEMPLATE_KEY
#undef ZORVI_FIELD_KEY

constexpr size_t TEMPLATE_KEY_COUNT = std::size(TEMPLATE_KEYS);

// A key the load reads into the record, one element at a time.
constexpr bool is_record_key(const TemplateKey &key)
{
    return key.kind == KEY_NUMBER || key.kind == KEY_TEXT;
}

// The key's block is in a record of this mode: the base block always, an
// optional block when its bit is set.
constexpr bool key_enabled(uint32_t mode, const TemplateKey &key)
{
    return key.mode_bit == 0 || (mode & key.mode_bit) != 0;
}

// One slot for every name a file can give: each element of each key, in
// table order. FIRST_SLOTS[row] is the first slot of a row.
constexpr auto FIRST_SLOTS = [] {
    std::array<uint16_t, TEMPLATE_KEY_COUNT + 1> first{};
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        first[row + 1] = static_cast<uint16_t>(first[row] + TEMPLATE_KEYS[row].count);
    }
    return first;
}();
constexpr size_t KEY_SLOT_COUNT = FIRST_SLOTS[TEMPLATE_KEY_COUNT];

constexpr size_t key_slot(size_t row, uint32_t element)
{
    return FIRST_SLOTS[row] + element;
}

// "O256QVN15" and its NUL, with room to spare.
constexpr size_t KEY_NAME_SIZE = 16;

// The name of every slot as a file writes it: the base name, and for a
// per-PF key the PF number "00" to "15". Made once, at compile time.
struct KeyName {
    char text[KEY_NAME_SIZE];
};
constexpr auto KEY_NAMES = [] {
    std::array<KeyName, KEY_SLOT_COUNT> names{};
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        for (uint32_t element = 0; element < key.count; ++element) {
            char *text = names[key_slot(row, element)].text;
            size_t at = 0;
            for (; key.name[at] != '\0'; ++at) {
                text[at] = key.name[at];
            }
            if (key.count != 1) {
                text[at++] = static_cast<char>('0' + element / 10);
                text[at] = static_cast<char>('0' + element % 10);
            }
        }
    }
    return names;
}();

constexpr const char *key_name(size_t slot)
{
    return KEY_NAMES[slot].text;
}
// The slot of the `length` characters at `name`, or KEY_SLOT_COUNT when no
// key has that name; `row` and `element` receive its key and element.
size_t parse_key_name(const char *name, size_t length, size_t *row, uint32_t *element);

// "-2147483648" and its NUL, with room for a few words about a value.
constexpr size_t KEY_VALUE_TEXT_SIZE = 24;

// A value of `key` as the display shows it: an entry of a per-PF table as
// "%02d" (a 32-bit entry as the signed int that format takes) or "0x%02x",
// a single value as "%u" or as "0x%0*X" at twice its width in digits.
void show_key_value(const TemplateKey &key, uint32_t value, char (&text)[KEY_VALUE_TEXT_SIZE]);

// Position of the key called `name` in the table (TEMPLATE_KEY_COUNT when
// there is none), for code that walks a run of the table.
constexpr size_t key_index(std::string_view name)
{
    size_t i = 0;
    while (i < TEMPLATE_KEY_COUNT && TEMPLATE_KEYS[i].name != name) {
        ++i;
    }
    return i;
}

// Element `index` of a number key, read or written at the key's width (at
// most four bytes). The record is the card's own little-endian layout, so an
// element is the low bytes of a u32.
static_assert(std::endian::native == std::endian::little);
constexpr size_t element_bytes(const TemplateKey &key)
{
    return key.width < sizeof(uint32_t) ? key.width : sizeof(uint32_t);
}

inline uint32_t key_element(const ResourceTemplate *record, const TemplateKey &key, uint32_t index)
{
    uint32_t value = 0;
    memcpy(&value, reinterpret_cast<const unsigned char *>(record) + key.offset + index * key.width,
           element_bytes(key));
    return value;
}

inline void set_key_element(ResourceTemplate *record, const TemplateKey &key, uint32_t index,
                            uint32_t value)
{
    memcpy(reinterpret_cast<unsigned char *>(record) + key.offset + index * key.width, &value,
           element_bytes(key));
}
