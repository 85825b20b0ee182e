// The checks that end a parse: the template must fit the driver and card it
// is loaded onto, and carry the checksum of the record it describes.
#include "template/identity_check.h"

#include <cstring>

#include "bounded/bounded.h"
#include "channel/template_exchange.h"

// Drivers older than this cannot report the card's PCI device id.
constexpr uint32_t MIN_DRIVER_VERSION[DRIVER_VERSION_PARTS] = {1, 4, 3, 0};

int32_t parse_version_string(const char *text, uint32_t parts[DRIVER_VERSION_PARTS])
{
    if (text == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
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
    for (uint32_t i = 0; i < DRIVER_VERSION_PARTS; ++i) {
        if (MIN_DRIVER_VERSION[i] > parts[i]) {
            return STATUS_FAILED;
        }
        if (MIN_DRIVER_VERSION[i] < parts[i]) {
            return 0;
        }
    }
    return 0;
}

int32_t parse_driver_version_text(char *text, uint32_t parts[DRIVER_VERSION_PARTS])
{
    char *rest = nullptr;
    const char *word = strtok_r(text, " ", &rest);
    memset(parts, 0, DRIVER_VERSION_PARTS * sizeof(*parts));
    return (word == nullptr) ? STATUS_BAD_ARGUMENT : parse_version_string(word, parts);
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
