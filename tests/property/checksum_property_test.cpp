// The checksum's range and value, held to a rule and a bit-by-bit CRC
// written here: for every mode the program can parse, and through the
// parser's METADATA check for a seeded sample of whole random templates.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include "channel/template_exchange.h"
#include "template/template_parser.h"
#include "tests/property/random_template.h"
#include "tests/template/fake_card.h"
#include "tests/template/template_file.h"
#include "tool/device_target.h"

namespace {

using zorviprop::reference_crc32;
using zorviprop::reference_length;

TEST(ChecksumProperty, ReferenceCrcHasThePublishedCheckValue)
{
    const char *check = "123456789";
    EXPECT_EQ(reference_crc32(reinterpret_cast<const uint8_t *>(check), 9), 0x765E7680u);
    EXPECT_EQ(template_crc32(check, 9), 0x765E7680u);
}

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

class ParsedChecksum : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/zorvi-prop-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        path_ = std::string(dir) + "/template.ini";
        g_device_target.id = 0;
        strcpy(g_device_target.name, "zorvi0");
        zorvitest::g_fake_card = {};
    }
    void TearDown() override
    {
        unlink(path_.c_str());
        rmdir(path_.substr(0, path_.rfind('/')).c_str());
    }

    // Parses `text` quietly (the parser prints its failures); the status.
    int32_t parse(const std::string &text, ResourceTemplate *record)
    {
        zorvitest::write_text_file(path_, text);
        fflush(stdout);
        int saved = dup(STDOUT_FILENO);
        FILE *null = freopen("/dev/null", "w", stdout);
        int32_t status = parse_template_file(path_.c_str(), record);
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        (void)null;
        return status;
    }

    std::string path_;
};

// A file sealed with the reference checksum of its record is accepted and
// parsed to exactly that record; one sealed with anything else is refused.
TEST_F(ParsedChecksum, ParserAcceptsExactlyTheReferenceMetadata)
{
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
