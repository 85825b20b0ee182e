// The checks that end a parse: the template must fit the driver and card it
// is loaded onto, and carry the checksum of the record it describes.
#include "template/identity_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"

namespace {

// Drivers older than this cannot report the card's PCI device id.
constexpr uint32_t MIN_DRIVER_VERSION[DRIVER_VERSION_PARTS] = {1, 4, 3, 0};

constexpr uint32_t CRC32_POLY = 0x04C11DB7;
constexpr uint32_t CRC32_XOROUT = 0xFFFFFFFF;

// Entry i: the register after shifting byte i through the polynomial from
// the top bit.
constexpr std::array<uint32_t, 256> make_crc32_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < table.size(); ++i) {
        uint32_t reg = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) != 0 ? (reg << 1) ^ CRC32_POLY : reg << 1;
        }
        table[i] = reg;
    }
    return table;
}

constexpr std::array<uint32_t, 256> CRC32_TABLE = make_crc32_table();
static_assert(CRC32_TABLE[1] == 0x04C11DB7);
static_assert(CRC32_TABLE[255] == 0xB1F740B4);

int32_t parse_version_string(const char *text, uint32_t parts[DRIVER_VERSION_PARTS])
{
    uint32_t index = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '.') {
            if (++index >= DRIVER_VERSION_PARTS) {
                return STATUS_BAD_ARGUMENT;
            }
        } else if (*c >= '0' && *c <= '9') {
            // Unsigned arithmetic: an overlong part wraps instead of failing.
            parts[index] = parts[index] * 10 + static_cast<uint32_t>(*c - '0');
        } else {
            return STATUS_BAD_ARGUMENT;
        }
    }
    return 0;
}

int32_t check_min_driver_version(const uint32_t parts[DRIVER_VERSION_PARTS])
{
    // Part by part from the first, as versions are ordered.
    return std::lexicographical_compare(parts, parts + DRIVER_VERSION_PARTS, MIN_DRIVER_VERSION,
                                        MIN_DRIVER_VERSION + DRIVER_VERSION_PARTS)
               ? STATUS_FAILED
               : 0;
}

}  // namespace

int32_t parse_driver_version_text(char *text, uint32_t parts[DRIVER_VERSION_PARTS])
{
    char *rest = nullptr;
    const char *word = strtok_r(text, " ", &rest);
    memset(parts, 0, DRIVER_VERSION_PARTS * sizeof(*parts));
    return (word == nullptr) ? STATUS_BAD_ARGUMENT : parse_version_string(word, parts);
}

void show_driver_version(const CardIdentity &card, char (&text)[VERSION_TEXT_SIZE])
{
    const uint32_t *parts = card.driver_version;
    snprintf(text, sizeof(text), "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
}

bool driver_reports_pci_id(const CardIdentity *card)
{
    return check_min_driver_version(card->driver_version) == 0;
}

uint32_t template_checksum(const ResourceTemplate *record)
{
    return template_crc32(reinterpret_cast<const unsigned char *>(record) + TEMPLATE_BODY_OFFSET,
                          template_length(record));
}

void seal_template(ResourceTemplate *record)
{
    record->length = template_length(record);
    record->crc = template_checksum(record);
}

uint32_t template_crc32(const void *data, uint32_t length)
{
    if (data == nullptr || length == 0) {
        return 0;
    }
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint32_t reg = 0;
    for (uint32_t i = 0; i < length; ++i) {
        reg = CRC32_TABLE[((reg >> 24) ^ bytes[i]) & 0xFFu] ^ (reg << 8);
    }
    return reg ^ CRC32_XOROUT;
}
