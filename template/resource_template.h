// The 1024-byte resource template record exchanged with the card unchanged.
// Every offset is part of the wire format; the asserts below pin them.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>

constexpr uint32_t PF_COUNT = 16;
constexpr uint32_t MODENAME_SIZE = 32;

// Bits of `mode`: each selects one optional block of the record.
constexpr uint32_t MODE_MODENAME = 0x01;
constexpr uint32_t MODE_QVN = 0x02;
constexpr uint32_t MODE_SM = 0x04;
constexpr uint32_t MODE_PCIDID = 0x08;
constexpr uint32_t MODE_GAN_GCN = 0x10;
constexpr uint32_t MODE_CBMP = 0x20;
constexpr uint32_t MODE_OVNP = 0x40;
// Every bit that selects a block; a higher bit selects none.
constexpr uint32_t MODE_BITS_KNOWN = 0x7F;

// Bytes from offset 32 covered by the checksum when `mode` is 0.
constexpr uint32_t TEMPLATE_BASE_LENGTH = 352;
constexpr uint32_t TEMPLATE_BODY_OFFSET = 32;
constexpr uint32_t TEMPLATE_SIZE = 1024;

struct ResourceTemplate {
    // Header: filled by the exchange with the card, except `mode`.
    uint8_t status;  // card's result code in a reply, 0 = success
    uint8_t reserved1;
    uint8_t channel_byte;  // set to 3 by the tool channel
    uint8_t reserved2[5];
    uint32_t flags;   // bit 0: 1 = store, 0 = fetch
    char magic[4];    // "ZZZZ", no terminator
    uint32_t length;  // bytes from offset 32 covered by `crc`
    uint32_t crc;
    uint32_t mode;  // VERSION / 2; selects the optional blocks
    uint32_t reserved3;

    // Base block, always present.
    uint32_t HN;
    uint16_t PN;
    uint16_t PM;
    uint32_t PH;
    uint16_t VNP[PF_COUNT];
    uint16_t QNP[PF_COUNT];
    uint8_t VQNP[PF_COUNT];
    uint32_t QPNP[PF_COUNT];
    uint32_t VQPNP[PF_COUNT];
    uint32_t CQNP[PF_COUNT];
    uint32_t VCQNP[PF_COUNT];
    uint16_t INP;
    uint16_t VINP;

    // Optional blocks, each meaningful only when its mode bit is set.
    char MODENAME[MODENAME_SIZE];  // MODE_MODENAME
    uint16_t O1QVN[PF_COUNT];      // MODE_QVN, through O256QVN
    uint16_t O2QVN[PF_COUNT];
    uint16_t O4QVN[PF_COUNT];
    uint16_t O8QVN[PF_COUNT];
    uint16_t O16QVN[PF_COUNT];
    uint16_t O32QVN[PF_COUNT];
    uint16_t O64QVN[PF_COUNT];
    uint16_t O128QVN[PF_COUNT];
    uint16_t O256QVN[PF_COUNT];
    uint16_t SM;              // MODE_SM
    uint16_t SMP[PF_COUNT];   // MODE_SM
    uint8_t GAN;              // MODE_GAN_GCN
    uint8_t GCN;              // MODE_GAN_GCN
    uint32_t PCIDID;          // MODE_PCIDID
    uint8_t CBMP[PF_COUNT];   // MODE_CBMP
    uint8_t CBMOP[PF_COUNT];  // MODE_CBMP
    uint16_t OVNP[PF_COUNT];  // MODE_OVNP

    uint8_t reserved_tail[216];
};

static_assert(sizeof(ResourceTemplate) == TEMPLATE_SIZE);
static_assert(offsetof(ResourceTemplate, status) == 0);
static_assert(offsetof(ResourceTemplate, channel_byte) == 2);
static_assert(offsetof(ResourceTemplate, flags) == 8);
static_assert(offsetof(ResourceTemplate, magic) == 12);
static_assert(offsetof(ResourceTemplate, length) == 16);
static_assert(offsetof(ResourceTemplate, crc) == 20);
static_assert(offsetof(ResourceTemplate, mode) == 24);
static_assert(offsetof(ResourceTemplate, reserved3) == 28);
static_assert(offsetof(ResourceTemplate, HN) == 32);
static_assert(offsetof(ResourceTemplate, PN) == 36);
static_assert(offsetof(ResourceTemplate, PM) == 38);
static_assert(offsetof(ResourceTemplate, PH) == 40);
static_assert(offsetof(ResourceTemplate, VNP) == 44);
static_assert(offsetof(ResourceTemplate, QNP) == 76);
static_assert(offsetof(ResourceTemplate, VQNP) == 108);
static_assert(offsetof(ResourceTemplate, QPNP) == 124);
static_assert(offsetof(ResourceTemplate, VQPNP) == 188);
static_assert(offsetof(ResourceTemplate, CQNP) == 252);
static_assert(offsetof(ResourceTemplate, VCQNP) == 316);
static_assert(offsetof(ResourceTemplate, INP) == 380);
static_assert(offsetof(ResourceTemplate, VINP) == 382);
static_assert(offsetof(ResourceTemplate, MODENAME) == 384);
static_assert(offsetof(ResourceTemplate, O1QVN) == 416);
static_assert(offsetof(ResourceTemplate, O2QVN) == 448);
static_assert(offsetof(ResourceTemplate, O4QVN) == 480);
static_assert(offsetof(ResourceTemplate, O8QVN) == 512);
static_assert(offsetof(ResourceTemplate, O16QVN) == 544);
static_assert(offsetof(ResourceTemplate, O32QVN) == 576);
static_assert(offsetof(ResourceTemplate, O64QVN) == 608);
static_assert(offsetof(ResourceTemplate, O128QVN) == 640);
static_assert(offsetof(ResourceTemplate, O256QVN) == 672);
static_assert(offsetof(ResourceTemplate, SM) == 704);
static_assert(offsetof(ResourceTemplate, SMP) == 706);
static_assert(offsetof(ResourceTemplate, GAN) == 738);
static_assert(offsetof(ResourceTemplate, GCN) == 739);
static_assert(offsetof(ResourceTemplate, PCIDID) == 740);
static_assert(offsetof(ResourceTemplate, CBMP) == 744);
static_assert(offsetof(ResourceTemplate, CBMOP) == 760);
static_assert(offsetof(ResourceTemplate, OVNP) == 776);
static_assert(offsetof(ResourceTemplate, reserved_tail) == 808);

// 0 for 0, else the 1-based position of the highest set bit.
inline int32_t find_last_set(uint32_t value)
{
    return static_cast<int32_t>(std::bit_width(value));
}

// Number of bytes from offset 32 that the checksum covers: decided by the
// highest set bit of `mode` alone, as running sums over the blocks in record
// order. GAN and GCN lie inside the block that starts with SM, so their bit
// adds nothing of its own; bits above OVNP have no block.
inline uint32_t template_length(const ResourceTemplate *record)
{
    constexpr uint32_t BY_LAST_BIT[] = {TEMPLATE_BASE_LENGTH, 384, 672, 708, 712, 708, 744, 776};
    const auto last = static_cast<size_t>(find_last_set(record->mode));
    return last < std::size(BY_LAST_BIT) ? BY_LAST_BIT[last] : TEMPLATE_BASE_LENGTH;
}

// The nonzero bytes where the record has no field (the word after the mode,
// the tail): a load leaves them zero.
inline uint32_t reserved_nonzero(const ResourceTemplate &record)
{
    const auto nonzero = [](const auto &field) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(&field);
        return std::count_if(bytes, bytes + sizeof(field), [](unsigned char byte) { return byte; });
    };
    return static_cast<uint32_t>(nonzero(record.reserved3) + nonzero(record.reserved_tail));
}
