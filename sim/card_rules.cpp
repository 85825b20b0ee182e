#include "sim/card_rules.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The register after shifting each byte value through the polynomial from
// the top bit: eight steps of the bitwise form at once.
constexpr auto CRC_STEPS = [] {
    std::array<uint32_t, 256> steps{};
    for (uint32_t byte = 0; byte < steps.size(); ++byte) {
        uint32_t crc = byte << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        steps[byte] = crc;
    }
    return steps;
}();

}  // namespace

uint32_t card_crc32(const uint8_t *data, size_t length)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = (crc << 8) ^ CRC_STEPS[(crc >> 24) ^ data[i]];
    }
    return crc ^ 0xFFFFFFFFu;
}

uint32_t card_covered_length(uint32_t mode)
{
    // Running sums of the block sizes, indexed by the highest set bit of mode.
    static const uint32_t LENGTH_BY_TOP_BIT[8] = {352, 384, 672, 708, 712, 708, 744, 776};
    if (mode == 0) {
        return LENGTH_BY_TOP_BIT[0];
    }
    int top = 31;
    while ((mode & (1u << top)) == 0) {
        --top;
    }
    return top < 7 ? LENGTH_BY_TOP_BIT[top + 1] : LENGTH_BY_TOP_BIT[0];
}

namespace {

// The checksum covers the body, from offset 32; a fetch asks for the base
// block's 352 bytes.
constexpr size_t BODY_OFFSET = 32;
constexpr uint32_t FETCH_LENGTH = 352;

const uint8_t *bytes_of(const ResourceTemplate *record)
{
    return reinterpret_cast<const uint8_t *>(record);
}

uint8_t check_header(const ResourceTemplate *request)
{
    if (request->channel_byte != CARD_CHANNEL_BYTE) {
        return CARD_STATUS_BAD_CHANNEL;
    }
    if (memcmp(request->magic, "ZZZZ", 4) != 0) {
        return CARD_STATUS_BAD_MAGIC;
    }
    return CARD_STATUS_OK;
}

}  // namespace

uint8_t card_check_store(const ResourceTemplate *request)
{
    uint8_t status = check_header(request);
    if (status != CARD_STATUS_OK) {
        return status;
    }
    if (request->length != card_covered_length(request->mode)) {
        return CARD_STATUS_BAD_LENGTH;
    }
    if (request->crc != card_metadata(request)) {
        return CARD_STATUS_BAD_CRC;
    }
    return CARD_STATUS_OK;
}

uint32_t card_metadata(const ResourceTemplate *record)
{
    return card_crc32(bytes_of(record) + BODY_OFFSET,
                      std::min<size_t>(record->length, sizeof(*record) - BODY_OFFSET));
}

uint8_t card_check_fetch(const ResourceTemplate *request)
{
    uint8_t status = check_header(request);
    if (status != CARD_STATUS_OK) {
        return status;
    }
    return request->length == FETCH_LENGTH ? CARD_STATUS_OK : CARD_STATUS_BAD_LENGTH;
}
