#include "channel/template_exchange.h"

#include <array>
#include <cstring>

#include "channel/tool_message.h"

namespace {

constexpr uint32_t CRC32_POLY = 0x04C11DB7;
constexpr uint32_t CRC32_XOROUT = 0xFFFFFFFF;
constexpr uint32_t FLAG_STORE = 0x1;
constexpr char TEMPLATE_MAGIC[4] = {'Z', 'Z', 'Z', 'Z'};

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

// One module 4 request; the reply overwrites `buffer` in place.
int32_t exchange_template(const DeviceTarget &target, ResourceTemplate *buffer)
{
    return send_request(target, TEMPLATE_MODULE, TEMPLATE_CMD, TEMPLATE_IO_SIZE, TEMPLATE_IO_SIZE,
                        buffer);
}

}  // namespace

int32_t get_template_from_card(DeviceTarget target, ResourceTemplate *dest)
{
    if (dest == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    ResourceTemplate buffer{};
    buffer.flags &= ~FLAG_STORE;
    memcpy(buffer.magic, TEMPLATE_MAGIC, sizeof(buffer.magic));
    buffer.length = TEMPLATE_BASE_LENGTH;

    const int32_t result = exchange_template(target, &buffer);
    if (result != 0) {
        return result;
    }
    if (buffer.status != 0) {
        return buffer.status;
    }
    *dest = buffer;
    return 0;
}

int32_t set_template_to_card(DeviceTarget target, const ResourceTemplate *record)
{
    if (record == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    ResourceTemplate buffer = *record;
    buffer.flags |= FLAG_STORE;
    memcpy(buffer.magic, TEMPLATE_MAGIC, sizeof(buffer.magic));
    buffer.length = template_length(record);
    buffer.crc = template_crc32(reinterpret_cast<const uint8_t *>(&buffer) + TEMPLATE_BODY_OFFSET,
                                buffer.length);

    const int32_t result = exchange_template(target, &buffer);
    // The card's verdict comes first: it is what the user needs to see.
    if (buffer.status != 0) {
        return buffer.status;
    }
    return result;
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
