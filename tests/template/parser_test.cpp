// The parser in-process, with the card queries answered by a stand-in:
// every key missing and at its bound, every mode, and the version rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "template/identity_check.h"
#include "template/template_keys.h"
#include "template/template_parser.h"
#include "tests/template/fake_card.h"
#include "tests/template/template_file.h"

namespace {

using zorvitest::g_fake_card;
using zorvitest::parsed_form;
using zorvitest::render_template_file;
using zorvitest::sample_record;
using zorvitest::TemplateFileOptions;

const std::string KEY_MISSING =
    "keyname isn't existed\nFailed to get key value for the input key\n";
constexpr uint32_t ALL_BLOCKS = 0x7F;

std::string key_name(const TemplateKey &key, uint32_t pf)
{
    char name[32];
    snprintf(name, sizeof(name), key.count == 1 ? "%s" : "%s%02u", key.name, pf);
    return name;
}

class Parser : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zorvi-parse-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/t.ini";
        g_fake_card = {};
    }
    void TearDown() override
    {
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    int32_t parse_text(const std::string &text)
    {
        zorvitest::write_text_file(path_, text);
        return parse_path(path_);
    }
    int32_t parse_path(const std::string &path)
    {
        memset(&record_, 0xA5, sizeof(record_));
        testing::internal::CaptureStdout();
        int32_t status = parse_template_file(path.c_str(), &record_);
        out_ = testing::internal::GetCapturedStdout();
        return status;
    }
    int32_t parse(const ResourceTemplate &record, const TemplateFileOptions &options = {})
    {
        return parse_text(render_template_file(record, options));
    }
    void expect_record(const ResourceTemplate &expected)
    {
        EXPECT_EQ(memcmp(&record_, &expected, sizeof(expected)), 0);
    }
    std::string dir_;
    std::string path_;
    std::string out_;
    ResourceTemplate record_{};
};

TEST_F(Parser, EveryModeBuildsExactlyTheSelectedBlocks)
{
    for (uint32_t mode : {0x00u, 0x01u, 0x02u, 0x04u, 0x08u, 0x10u, 0x20u, 0x40u, 0x18u, 0x7Fu,
                          0x80u, 0xFFu, 0x7FFFu}) {
        SCOPED_TRACE(mode);
        const ResourceTemplate sample = sample_record(mode);
        TemplateFileOptions hex;
        hex.hex = true;
        hex.line_end = "\r\n";
        for (const TemplateFileOptions &options : {TemplateFileOptions{}, hex}) {
            EXPECT_EQ(parse(sample, options), 0);
            EXPECT_EQ(out_, "");
            expect_record(parsed_form(sample));
        }
    }
}

TEST_F(Parser, VersionIsHalvedIntoMode)
{
    struct {
        uint32_t version;
        uint32_t mode;
    } cases[] = {{0, 0}, {1, 0}, {255, 0x7F}, {254, 0x7F}, {65535, 0x7FFF}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        TemplateFileOptions options;
        options.version = c.version;
        EXPECT_EQ(parse(sample_record(c.mode), options), 0);
        EXPECT_EQ(record_.mode, c.mode);
    }
}

TEST_F(Parser, MissingKeysStopTheParseWithTheirName)
{
    const ResourceTemplate sample = sample_record(ALL_BLOCKS);
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        for (uint32_t pf : {0u, key.count - 1}) {
            const std::string name = key_name(key, pf);
            SCOPED_TRACE(name);
            TemplateFileOptions options;
            options.omit = {name};
            if (key.kind == KEY_CARD_ID) {
                options.pcidid.reset();
            }
            EXPECT_EQ(parse(sample, options), -1);
            const std::string expected =
                key.kind == KEY_TEXT    ? KEY_MISSING + "Error happened when reading " + path_ +
                                              ", MODENAME\n"
                : key.kind == KEY_CARD_ID ? KEY_MISSING + "Error happened when reading " + path_ +
                                                " to get PCIDID\n"
                                          : KEY_MISSING + "Error happened when reading " + path_ +
                                                ", " + name + "\n";
            EXPECT_EQ(out_, expected);
        }
    }
    TemplateFileOptions options;
    options.omit = {"METADATA"};
    EXPECT_EQ(parse(sample, options), -1);
    EXPECT_EQ(out_, KEY_MISSING + "Error happened when reading " + path_ + " to get METADATA\n");
    options.omit = {"VERSION"};
    EXPECT_EQ(parse(sample, options), -1);
    EXPECT_EQ(out_, KEY_MISSING + "Error happened when reading " + path_ + ", VERSION\n");
}

TEST_F(Parser, EveryBoundIsInclusiveAndTheNextValueFails)
{
    const ResourceTemplate sample = sample_record(ALL_BLOCKS);
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.kind != KEY_NUMBER) {
            continue;
        }
        for (uint32_t pf : {0u, key.count - 1}) {
            const std::string name = key_name(key, pf);
            SCOPED_TRACE(name);
            ResourceTemplate at_bound = sample;
            zorvitest::set_element(at_bound, key, pf, key.bound);
            EXPECT_EQ(parse(at_bound), 0);
            EXPECT_EQ(out_, "");
            expect_record(parsed_form(at_bound));
            if (key.bound == KEY_ANY_VALUE) {
                continue;
            }
            TemplateFileOptions options;
            options.values = {{name, std::to_string(uint64_t{key.bound} + 1)}};
            EXPECT_EQ(parse(sample, options), -1);
            EXPECT_EQ(out_, std::string(key.name) + " " + std::to_string(key.bound + 1) +
                                " out of range[ 0, " + std::to_string(key.bound) + "]\n");
        }
    }
    TemplateFileOptions options;
    options.version = 65536;
    EXPECT_EQ(parse(sample, options), -1);
    EXPECT_EQ(out_, "VERSION 65536 out of range[ 0, 65535]\n");
}

TEST_F(Parser, AFailureLeavesWhatWasStoredBeforeIt)
{
    const ResourceTemplate sample = sample_record(ALL_BLOCKS);
    TemplateFileOptions options;
    options.omit = {"VQNP12"};
    EXPECT_EQ(parse(sample, options), -1);
    ResourceTemplate expected{};
    expected.mode = ALL_BLOCKS;
    expected.HN = sample.HN;
    expected.PN = sample.PN;
    expected.PM = sample.PM;
    expected.PH = sample.PH;
    expected.INP = sample.INP;
    expected.VINP = sample.VINP;
    memcpy(expected.VNP, sample.VNP, sizeof(expected.VNP));
    memcpy(expected.QNP, sample.QNP, sizeof(expected.QNP));
    memcpy(expected.VQNP, sample.VQNP, 12);
    expect_record(expected);
}

TEST(DriverVersion, ParsesDottedDecimalOfAtMostFourParts)
{
    struct {
        const char *text;
        int32_t status;
        std::vector<uint32_t> parts;
    } cases[] = {
        {"1.4.3.0", 0, {1, 4, 3, 0}},
        {"1.4", 0, {1, 4, 0, 0}},
        {"", 0, {0, 0, 0, 0}},
        {"1..3", 0, {1, 0, 3, 0}},
        {"1.10.0.0", 0, {1, 10, 0, 0}},
        {"4294967296.1", 0, {0, 1, 0, 0}},  // a part wraps, it is not refused
        {"1.4.3.0.", -6, {}},
        {"1.4.3.0.1", -6, {}},
        {"1.4a", -6, {}},
        {"v1", -6, {}},
        {"-1", -6, {}},
        {" 1", -6, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t parts[DRIVER_VERSION_PARTS] = {};
        EXPECT_EQ(parse_version_string(c.text, parts), c.status);
        if (c.status == 0) {
            EXPECT_EQ(std::vector<uint32_t>(parts, parts + 4), c.parts);
        }
    }
}

TEST(DriverVersion, MinimumIs1430ComparedPartByPartAsNumbers)
{
    struct {
        uint32_t parts[4];
        int32_t status;
    } cases[] = {
        {{1, 4, 3, 0}, 0}, {{1, 4, 3, 1}, 0},  {{1, 4, 2, 9}, -1}, {{1, 10, 0, 0}, 0},
        {{2, 0, 0, 0}, 0}, {{0, 9, 9, 9}, -1}, {{1, 3, 9, 9}, -1}, {{1, 4, 4, 0}, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(check_min_driver_version(c.parts), c.status)
            << c.parts[0] << "." << c.parts[1] << "." << c.parts[2] << "." << c.parts[3];
    }
}

TEST_F(Parser, PcididIsStoredOnlyWhenTheModeHasItsBlock)
{
    // Without the block the file's PCIDID is compared, not stored.
    EXPECT_EQ(parse(sample_record(0x10)), 0);
    EXPECT_EQ(record_.PCIDID, 0u);
    EXPECT_EQ(parse(sample_record(MODE_PCIDID)), 0);
    EXPECT_EQ(record_.PCIDID, zorvitest::SIM_PCI_DEVICE_ID);

    // An old driver cannot confirm the id: nothing is stored, and the
    // checksum then decides. A file sealed over the id is refused.
    g_fake_card.version_reply = "1.4.2.9";
    const ResourceTemplate sample = sample_record(MODE_PCIDID);
    EXPECT_EQ(parse(sample), -1);
    EXPECT_EQ(out_, "Error happened when reading " + path_ + ", Incorrect METADATA.\n");
    ResourceTemplate without_id = parsed_form(sample);
    without_id.PCIDID = 0;
    TemplateFileOptions options;
    options.metadata = zorvitest::template_metadata(without_id);
    EXPECT_EQ(parse(sample, options), 0);
    expect_record(without_id);
}

}  // namespace
