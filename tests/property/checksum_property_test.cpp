// The checksum's range and value, held to a rule and a bit-by-bit CRC for
// every mode the program can parse. The parser's METADATA check and the store
// request use these same two functions; the round trip on the simulated card
// holds both ends to the reference for whole random templates.
#include <gtest/gtest.h>

#include <random>

#include "channel/template_exchange.h"
#include "tests/harness/test_util.h"
#include "tests/property/random_template.h"

namespace {

using zorviprop::reference_length;
using zorvitest::reference_crc32;

// Every mode from 0 to 0x7FFF: the length the store request carries and the
// METADATA check uses, and the checksum over it, on a fresh random body.
TEST(ChecksumProperty, EveryModeAgreesWithTheReferenceLengthAndCrc)
{
    std::mt19937 rng(20261206);
    ResourceTemplate record{};
    auto *bytes = reinterpret_cast<uint8_t *>(&record);
    for (uint32_t mode = 0; mode <= 0x7FFF; ++mode) {
        for (size_t i = TEMPLATE_BODY_OFFSET; i < sizeof(record); ++i) {
            bytes[i] = static_cast<uint8_t>(rng());
        }
        record.mode = mode;
        const uint32_t length = reference_length(mode);
        ASSERT_EQ(template_length(&record), length) << "mode 0x" << std::hex << mode;
        ASSERT_EQ(template_crc32(bytes + TEMPLATE_BODY_OFFSET, length),
                  reference_crc32(bytes + TEMPLATE_BODY_OFFSET, length))
            << "mode 0x" << std::hex << mode;
    }
}

}  // namespace
