// The checksum's range and value, held to a rule and a bit-by-bit CRC: for
// every mode the program can parse, and through the parser's METADATA check
// for a seeded sample of whole random templates.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "channel/template_exchange.h"
#include "template/template_parser.h"
#include "tests/harness/test_util.h"
#include "tests/property/random_template.h"
#include "tests/template/fake_card.h"
#include "tests/template/template_file.h"
#include "tool/device_target.h"

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

// A file sealed with the reference checksum of its record is accepted and
// parsed to exactly that record; one sealed with anything else is refused.
TEST(ChecksumProperty, ParserAcceptsExactlyTheReferenceMetadata)
{
    zorvitest::TempDir dir;
    const std::string path = dir.file("template.ini");
    g_device_target.id = 0;
    strcpy(g_device_target.name, "zorvi0");
    zorvitest::g_fake_card = {};
    // The parser prints its failures; the status is what counts here.
    auto parse = [&](const std::string &text, ResourceTemplate *record) {
        zorvitest::write_file(path, text);
        int32_t status = 0;
        zorvitest::capture_stdout([&] { status = parse_template_file(path.c_str(), record); });
        return status;
    };
    std::mt19937 rng(4242);
    for (int i = 0; i < 300; ++i) {
        const bool older = i % 5 == 4;
        zorvitest::g_fake_card.version_reply = older ? "1.4.2.9" : "1.4.3.0";
        const uint32_t mode = zorviprop::random_mode(rng);
        const auto made = zorviprop::random_template(rng, mode, older);
        const auto *body = reinterpret_cast<const uint8_t *>(&made.record) + TEMPLATE_BODY_OFFSET;
        const uint32_t metadata = reference_crc32(body, reference_length(mode));
        SCOPED_TRACE("case " + std::to_string(i) + ", mode " + std::to_string(mode));

        zorvitest::TemplateFileOptions options;
        options.version = made.version;
        options.metadata = metadata;
        options.hex = (i % 3) == 0;
        if (older) {
            options.pcidid.reset();
        }
        ResourceTemplate parsed;
        memset(&parsed, 0xA5, sizeof(parsed));
        ASSERT_EQ(parse(zorvitest::render_template_file(made.record, options), &parsed), 0);
        ASSERT_EQ(memcmp(&parsed, &made.record, sizeof(parsed)), 0);

        options.metadata = metadata ^ (1u << (rng() % 32));
        ASSERT_EQ(parse(zorvitest::render_template_file(made.record, options), &parsed), -1);
    }
}

}  // namespace
