// The simulated card's own checksum and length rule, against published
// values and the documented length table.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/card_rules.h"

namespace {

TEST(CardRules, ChecksumMatchesPublishedCheckValue)
{
    const char *check = "123456789";
    EXPECT_EQ(card_crc32(reinterpret_cast<const uint8_t *>(check), 9), 0x765E7680u);
    EXPECT_EQ(card_crc32(nullptr, 0), 0xFFFFFFFFu);  // the card inverts even an empty sum
    const uint8_t one = 0x01;
    // A single byte 1 leaves the polynomial itself in the register.
    EXPECT_EQ(card_crc32(&one, 1), 0x04C11DB7u ^ 0xFFFFFFFFu);
}

TEST(CardRules, CoveredLengthFollowsTheHighestModeBit)
{
    const struct {
        uint32_t mode;
        uint32_t length;
    } cases[] = {{0x00, 352}, {0x01, 384}, {0x02, 672}, {0x03, 672}, {0x04, 708}, {0x05, 708},
                 {0x08, 712}, {0x0B, 712}, {0x10, 708}, {0x18, 708}, {0x20, 744}, {0x40, 776},
                 {0x7F, 776}, {0x80, 352}, {0x81, 352}, {0xFF, 352}, {0x7FFF, 352},
                 {0x80000000u, 352}};
    for (const auto &c : cases) {
        EXPECT_EQ(card_covered_length(c.mode), c.length) << "mode " << c.mode;
    }
}

ResourceTemplate good_store(uint32_t mode)
{
    ResourceTemplate record {};
    record.mode = mode;
    record.HN = 2;
    record.OVNP[15] = 7;  // last covered byte at mode 0x40 and above
    record.channel_byte = 3;
    record.flags = 1;
    memcpy(record.magic, "ZZZZ", 4);
    record.length = card_covered_length(mode);
    record.crc = card_crc32(reinterpret_cast<const uint8_t *>(&record) + 32, record.length);
    return record;
}

TEST(CardRules, StoreChecksEachHeaderField)
{
    for (uint32_t mode : {0x00u, 0x01u, 0x18u, 0x7Fu, 0x80u}) {
        ResourceTemplate record = good_store(mode);
        EXPECT_EQ(card_check_store(&record), CARD_STATUS_OK) << "mode " << mode;
    }

    const struct {
        const char *what;
        void (*spoil)(ResourceTemplate *);
        uint8_t status;
    } cases[] = {
        {"channel byte", [](ResourceTemplate *r) { r->channel_byte = 0; }, CARD_STATUS_BAD_CHANNEL},
        {"magic", [](ResourceTemplate *r) { r->magic[3] = 'z'; }, CARD_STATUS_BAD_MAGIC},
        {"length", [](ResourceTemplate *r) { r->length = 808; }, CARD_STATUS_BAD_LENGTH},
        {"covered byte", [](ResourceTemplate *r) { r->OVNP[15] = 8; }, CARD_STATUS_BAD_CRC},
        {"checksum", [](ResourceTemplate *r) { r->crc ^= 1; }, CARD_STATUS_BAD_CRC},
    };
    for (const auto &c : cases) {
        ResourceTemplate record = good_store(0x7F);
        c.spoil(&record);
        EXPECT_EQ(card_check_store(&record), c.status) << c.what;
    }
    // Bytes outside the covered range do not count.
    ResourceTemplate record = good_store(0x01);
    record.OVNP[15] = 99;
    record.reserved_tail[0] = 1;
    EXPECT_EQ(card_check_store(&record), CARD_STATUS_OK);
}

TEST(CardRules, FetchWantsTheBaseLength)
{
    ResourceTemplate fetch {};
    fetch.channel_byte = 3;
    memcpy(fetch.magic, "ZZZZ", 4);
    fetch.length = 352;
    EXPECT_EQ(card_check_fetch(&fetch), CARD_STATUS_OK);
    fetch.length = 776;
    EXPECT_EQ(card_check_fetch(&fetch), CARD_STATUS_BAD_LENGTH);
    fetch.length = 352;
    fetch.channel_byte = 0;
    EXPECT_EQ(card_check_fetch(&fetch), CARD_STATUS_BAD_CHANNEL);
}

}  // namespace
