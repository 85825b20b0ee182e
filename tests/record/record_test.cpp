// The checksum length rule of the template record: the bytes from offset 32
// to the end of the highest block the mode selects, written out from the
// record layout (base block to 384, MODENAME to 416, O256QVN to 704, SM with
// SMP, GAN and GCN to 740, PCIDID to 744, CBMOP to 776, OVNP to 808).
#include <gtest/gtest.h>

#include <cstring>

#include "template/resource_template.h"

namespace {

TEST(TemplateLength, CoversEveryBlockUpToTheHighestModeBit)
{
    const struct {
        uint32_t mode;
        uint32_t length;
        int32_t last_set;
    } cases[] = {
        {0x00, 352, 0},
        {0x01, 384, 1},
        {0x02, 672, 2},
        {0x04, 708, 3},
        {0x08, 712, 4},
        {0x20, 744, 6},
        {0x40, 776, 7},
        {0x7F, 776, 7},
        {0x05, 708, 3},
        {0x0B, 712, 4},
        {0x80, 352, 8},
        {0x7FFF, 352, 15},
        {0x80000000, 352, 32},
        {0xFFFFFFFF, 352, 32},
        // GAN/GCN sit inside the SM block, so PCIDID lies outside the checksum.
        {0x10, 708, 5},
        {0x18, 708, 5},
    };
    for (const auto &c : cases) {
        // Every other field is all ones: only the mode word may count.
        ResourceTemplate record;
        std::memset(&record, 0xFF, sizeof(record));
        record.mode = c.mode;
        EXPECT_EQ(template_length(&record), c.length) << "mode 0x" << std::hex << c.mode;
        EXPECT_EQ(find_last_set(c.mode), c.last_set) << "mode 0x" << std::hex << c.mode;
    }
}

}  // namespace
