// The parser in-process, with the card queries answered by a stand-in: the
// blocks every mode selects, every key missing, at its bound and above it,
// and the driver version rules. Loads on the simulated card show the rest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "template/identity_check.h"
#include "template/template_keys.h"
#include "template/template_parser.h"
#include "tests/harness/test_util.h"
#include "tests/template/fake_card.h"
#include "tests/template/template_file.h"

namespace {

using zorvitest::parsed_form;
using zorvitest::sample_record;
using zorvitest::TemplateFileOptions;

class Parser : public testing::Test {
protected:
    void SetUp() override { zorvitest::g_fake_card = {}; }

    // Parses the file written from `record`; `out_` gets what it printed.
    int32_t parse(const ResourceTemplate &record, const TemplateFileOptions &options = {})
    {
        zorvitest::write_file(path_, zorvitest::render_template_file(record, options));
        memset(&record_, 0xA5, sizeof(record_));
        int32_t status = -99;
        out_ = zorvitest::capture_stdout(
            [&] { status = parse_template_file(path_.c_str(), &record_); });
        return status;
    }
    void expect_record(const ResourceTemplate &expected)
    {
        EXPECT_EQ(memcmp(&record_, &expected, sizeof(expected)), 0);
    }
    zorvitest::TempDir dir_;
    const std::string path_ = dir_.file("t.ini");
    std::string out_;
    ResourceTemplate record_{};
};

// VERSION is halved into the mode, so an odd VERSION selects the same blocks.
TEST_F(Parser, EveryModeBuildsExactlyTheSelectedBlocks)
{
    for (uint32_t mode : {0x00u, 0x01u, 0x02u, 0x04u, 0x08u, 0x10u, 0x20u, 0x40u, 0x18u, 0x7Fu,
                          0x80u, 0xFFu, 0x7FFFu}) {
        SCOPED_TRACE(mode);
        const ResourceTemplate sample = sample_record(mode);
        TemplateFileOptions odd;
        odd.version = mode * 2 + 1;
        odd.hex = true;
        odd.line_end = "\r\n";
        for (const TemplateFileOptions &options : {TemplateFileOptions{}, odd}) {
            EXPECT_EQ(parse(sample, options), 0);
            EXPECT_EQ(out_, "");
            expect_record(parsed_form(sample));
        }
    }
}

TEST_F(Parser, EveryKeyIsRequiredAndTakesItsBoundButNotOneMore)
{
    const ResourceTemplate sample = sample_record(0x7F);
    const std::string read_error = "Error happened when reading " + path_;
    const std::string missing =
        "keyname isn't existed\nFailed to get key value for the input key\n" + read_error;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        for (uint32_t pf : {0u, key.count - 1}) {
            char name[32];
            snprintf(name, sizeof(name), key.count == 1 ? "%s" : "%s%02u", key.name, pf);
            SCOPED_TRACE(name);
            TemplateFileOptions options;
            options.omit = {name};
            EXPECT_EQ(parse(sample, options), -1);
            EXPECT_EQ(out_,
                      missing + (key.kind == KEY_TEXT      ? ", MODENAME\n"
                                 : key.kind == KEY_CARD_ID ? " to get PCIDID\n"
                                                           : ", " + std::string(name) + "\n"));
            if (key.kind != KEY_NUMBER) {
                continue;
            }
            ResourceTemplate at_bound = sample;
            zorvitest::set_element(at_bound, key, pf, key.bound);
            EXPECT_EQ(parse(at_bound), 0);
            EXPECT_EQ(out_, "");
            expect_record(parsed_form(at_bound));
            if (key.bound != KEY_ANY_VALUE) {
                const std::string above = std::to_string(key.bound + 1);
                options = {};
                options.values = {{name, above}};
                EXPECT_EQ(parse(sample, options), -1);
                EXPECT_EQ(out_, key.name + (" " + above) + " out of range[ 0, " +
                                    std::to_string(key.bound) + "]\n");
            }
        }
    }
    for (const char *key : {"VERSION", "METADATA"}) {
        TemplateFileOptions options;
        options.omit = {key};
        EXPECT_EQ(parse(sample, options), -1);
        EXPECT_EQ(out_,
                  missing + (key == std::string("VERSION") ? ", VERSION\n" : " to get METADATA\n"));
    }
}

TEST(DriverVersion, DottedDecimalOfAtMostFourPartsFrom1430On)
{
    struct {
        const char *text;
        int32_t status;
        std::vector<uint32_t> parts;
        int32_t recent;  // check_min_driver_version of the parts
    } cases[] = {
        {"1.4.3.0", 0, {1, 4, 3, 0}, 0},
        {"1.4", 0, {1, 4, 0, 0}, -1},
        {"", 0, {0, 0, 0, 0}, -1},
        {"1..3", 0, {1, 0, 3, 0}, -1},
        {"1.10.0.0", 0, {1, 10, 0, 0}, 0},
        {"4294967296.1", 0, {0, 1, 0, 0}, -1},  // a part wraps, it is not refused
        {"1.4.3.1", 0, {1, 4, 3, 1}, 0},
        {"1.4.2.9", 0, {1, 4, 2, 9}, -1},
        {"0.9.9.9", 0, {0, 9, 9, 9}, -1},
        {"1.3.9.9", 0, {1, 3, 9, 9}, -1},
        {"1.4.4", 0, {1, 4, 4, 0}, 0},
        {"2", 0, {2, 0, 0, 0}, 0},
        {"1.4.3.0.", -6, {}, 0},
        {"1.4.3.0.1", -6, {}, 0},
        {"1.4a", -6, {}, 0},
        {"v1", -6, {}, 0},
        {"-1", -6, {}, 0},
        {" 1", -6, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t parts[DRIVER_VERSION_PARTS] = {};
        EXPECT_EQ(parse_version_string(c.text, parts), c.status);
        if (c.status == 0) {
            EXPECT_EQ(std::vector<uint32_t>(parts, parts + DRIVER_VERSION_PARTS), c.parts);
            EXPECT_EQ(check_min_driver_version(parts), c.recent);
        }
    }
}

}  // namespace
