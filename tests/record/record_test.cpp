// The checksum length rule of the template record, checked against the field
// layout itself rather than against a copy of the rule's numbers.
#include <gtest/gtest.h>

#include <cstddef>

#include "template/resource_template.h"

namespace {

#define FIELD_END(field) \
    (offsetof(ResourceTemplate, field) + sizeof(ResourceTemplate::field))

// Bytes from the body offset up to the end of `end`.
constexpr uint32_t covered(size_t end) { return static_cast<uint32_t>(end - TEMPLATE_BODY_OFFSET); }

uint32_t length_of(uint32_t mode)
{
    ResourceTemplate record{};
    record.mode = mode;
    return template_length(&record);
}

struct LengthCase {
    uint32_t mode;
    uint32_t expected;
};

TEST(TemplateLength, CoversEveryBlockUpToTheHighestModeBit)
{
    const LengthCase cases[] = {
        {0x00, covered(FIELD_END(VINP))},
        {0x01, covered(FIELD_END(MODENAME))},
        {0x02, covered(FIELD_END(O256QVN))},
        {0x04, covered(FIELD_END(GCN))},
        {0x08, covered(FIELD_END(PCIDID))},
        {0x10, covered(FIELD_END(GCN))},  // GAN/GCN sit inside the SM block
        {0x20, covered(FIELD_END(CBMOP))},
        {0x40, covered(FIELD_END(OVNP))},
        {0x7F, covered(FIELD_END(OVNP))},
        {0x05, covered(FIELD_END(GCN))},
        {0x0B, covered(FIELD_END(PCIDID))},
        {0x18, covered(FIELD_END(GCN))},  // PCIDID then lies outside the checksum
        {0x80, covered(FIELD_END(VINP))},
        {0x81, covered(FIELD_END(VINP))},
        {0xFF, covered(FIELD_END(VINP))},
        {0x7FFF, covered(FIELD_END(VINP))},
    };
    for (const LengthCase &c : cases) {
        EXPECT_EQ(length_of(c.mode), c.expected) << "mode 0x" << std::hex << c.mode;
    }
    // The numbers the card and the template files rely on.
    EXPECT_EQ(length_of(0x00), 352u);
    EXPECT_EQ(length_of(0x7F), 776u);
    EXPECT_EQ(length_of(0x05), 708u);
    EXPECT_EQ(length_of(0x0B), 712u);
}

TEST(TemplateLength, EverySingleBitStaysInsideTheRecordBody)
{
    for (uint32_t bit = 0; bit < 32; ++bit) {
        const uint32_t mode = 1u << bit;
        const uint32_t length = length_of(mode);
        EXPECT_GE(length, TEMPLATE_BASE_LENGTH) << "bit " << bit;
        EXPECT_LE(TEMPLATE_BODY_OFFSET + length, offsetof(ResourceTemplate, reserved_tail))
            << "bit " << bit;
        if (bit >= 7) {
            EXPECT_EQ(length, TEMPLATE_BASE_LENGTH) << "bit " << bit;
        }
        // Lower bits never change the result.
        EXPECT_EQ(length_of(mode | (mode - 1)), length) << "bit " << bit;
    }
}

TEST(TemplateLength, ReadsOnlyTheModeWord)
{
    ResourceTemplate record{};
    record.mode = 0x0B;
    record.length = 1;
    record.status = 9;
    record.PCIDID = 0xFFFFFFFF;
    EXPECT_EQ(template_length(&record), 712u);
}

TEST(FindLastSet, PositionOfTheHighestBit)
{
    EXPECT_EQ(find_last_set(0), 0);
    EXPECT_EQ(find_last_set(0xFFFFFFFFu), 32);
    EXPECT_EQ(find_last_set(0x7F), 7);
    for (int32_t bit = 0; bit < 32; ++bit) {
        const uint32_t value = 1u << bit;
        EXPECT_EQ(find_last_set(value), bit + 1) << "bit " << bit;
        EXPECT_EQ(find_last_set(value | (value - 1)), bit + 1) << "bit " << bit;
    }
}

}  // namespace
