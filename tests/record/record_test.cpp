// The checksum length rule of the template record, checked against the field
// layout itself rather than against a copy of the rule's numbers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "template/resource_template.h"

namespace {

#define FIELD_END(field) (offsetof(ResourceTemplate, field) + sizeof(ResourceTemplate::field))

// Every other field is all ones: only the mode word may count.
uint32_t length_of(uint32_t mode)
{
    ResourceTemplate record;
    std::memset(&record, 0xFF, sizeof(record));
    record.mode = mode;
    return template_length(&record);
}

TEST(TemplateLength, CoversEveryBlockUpToTheHighestModeBit)
{
    const struct {
        uint32_t mode;
        size_t end;
    } cases[] = {
        {0x00, FIELD_END(VINP)},   {0x01, FIELD_END(MODENAME)}, {0x02, FIELD_END(O256QVN)},
        {0x04, FIELD_END(GCN)},    {0x08, FIELD_END(PCIDID)},   {0x20, FIELD_END(CBMOP)},
        {0x40, FIELD_END(OVNP)},   {0x7F, FIELD_END(OVNP)},     {0x05, FIELD_END(GCN)},
        {0x0B, FIELD_END(PCIDID)}, {0x80, FIELD_END(VINP)},     {0x7FFF, FIELD_END(VINP)},
        {0x10, FIELD_END(GCN)},  // GAN/GCN sit inside the SM block
        {0x18, FIELD_END(GCN)},  // PCIDID then lies outside the checksum
    };
    for (const auto &c : cases) {
        EXPECT_EQ(length_of(c.mode), c.end - TEMPLATE_BODY_OFFSET)
            << "mode 0x" << std::hex << c.mode;
    }
}

TEST(TemplateLength, EveryBitStaysInsideTheBodyAndLowerBitsNeverCount)
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
        EXPECT_EQ(length_of(mode | (mode - 1)), length) << "bit " << bit;
        EXPECT_EQ(find_last_set(mode), static_cast<int32_t>(bit) + 1);
        EXPECT_EQ(find_last_set(mode | (mode - 1)), static_cast<int32_t>(bit) + 1);
    }
    EXPECT_EQ(find_last_set(0), 0);
}

}  // namespace
