// The parser and its identity checks in-process, with the card queries
// answered by a stand-in: every key, bound, message and version rule.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(Parser, NumbersAreReadInEveryFormBeforeTheRangeCheck)
{
    const ResourceTemplate sample = sample_record(0);
    struct {
        const char *text;
        const char *out;
    } cases[] = {
        {"0x3", ""},
        {"0X3", ""},
        {"3 # hosts", ""},
        {"3 // hosts", ""},
        {"4", "HN 4 out of range[ 0, 3]\n"},
        {"-1", "HN 4294967295 out of range[ 0, 3]\n"},
        {"4294967299", ""},  // low 32 bits: 3
        {"18446744073709551616", "HN 4294967295 out of range[ 0, 3]\n"},
        {"x3", "Sscanf_s unit pkeyvalue x3 failed.\n"},
    };
    ResourceTemplate expected = sample;
    expected.HN = 3;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TemplateFileOptions options;
        options.values = {{"HN", c.text}};
        options.metadata = zorvitest::template_metadata(expected);
        const int32_t status = parse(sample, options);
        std::string out = c.out;
        if (out.rfind("Sscanf_s", 0) == 0) {
            out += "Error happened when reading " + path_ + ", HN\n";
        }
        EXPECT_EQ(out_, out);
        EXPECT_EQ(status, out.empty() ? 0 : -1);
    }
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

TEST_F(Parser, FileAndSectionProblems)
{
    EXPECT_EQ(parse_path(dir_ + "/missing.ini"), -1);
    EXPECT_EQ(out_, "File isn't existed\nError happened when reading " + dir_ +
                        "/missing.ini, VERSION\n");

    std::string text = render_template_file(sample_record(0));
    std::string no_info = text;
    no_info.replace(no_info.find("[INFO]"), 6, "[INFOX]");
    EXPECT_EQ(parse_text(no_info), -1);
    EXPECT_EQ(out_, "Error happened when reading " + path_ + ", VERSION\n");

    std::string lower = text;
    lower.replace(lower.find("[CONFIG]"), 8, "[config]");
    EXPECT_EQ(parse_text(lower), -1);
    EXPECT_EQ(out_, "Error happened when reading " + path_ + ", HN\n");

    std::string spaced = text;
    spaced.replace(spaced.find("[CONFIG]"), 8, "[ CONFIG ] resources");
    EXPECT_EQ(parse_text(spaced), 0);

    // A second [CONFIG] is never read; a repeated key counts once, first.
    std::string twice = text + "[CONFIG]\nHN = 3\n";
    twice.insert(twice.find("HN = "), "HN = 9\n");
    EXPECT_EQ(parse_text(twice), -1);
    EXPECT_EQ(out_, "HN 9 out of range[ 0, 3]\n");

    std::string broken = text;
    broken.insert(broken.find("VNP00"), "[xyz\n");
    EXPECT_EQ(parse_text(broken), -1);
    EXPECT_EQ(out_, KEY_MISSING + "Error happened when reading " + path_ + ", VNP00\n");
}

// Builds an existing file whose path has exactly `length` characters.
std::string path_of_length(const std::string &dir, size_t length)
{
    std::string path = dir;
    while (length - path.size() > 201) {
        path += "/" + std::string(199, 'd');
        mkdir(path.c_str(), 0700);
    }
    path += "/" + std::string(length - path.size() - 1, 'f');
    return path;
}

TEST_F(Parser, PathsUpTo511Characters)
{
    const std::string text = render_template_file(sample_record(0));
    const std::string path511 = path_of_length(dir_, 511);
    ASSERT_EQ(path511.size(), 511u);
    zorvitest::write_text_file(path511, text);
    EXPECT_EQ(parse_path(path511), 0);
    EXPECT_EQ(out_, "");

    const std::string path512 = path_of_length(dir_, 512);
    ASSERT_EQ(path512.size(), 512u);
    zorvitest::write_text_file(path512, text);
    EXPECT_EQ(parse_path(path512), -1);
    EXPECT_EQ(out_, "Copy data failed!\n");
    EXPECT_EQ(g_fake_card.version_queries, 1);
}

TEST_F(Parser, ModeNameOf32CharactersIsReadAsEmpty)
{
    ResourceTemplate sample = sample_record(MODE_MODENAME);
    TemplateFileOptions options;
    options.values = {{"MODENAME", std::string(32, 'n')}};
    ResourceTemplate expected = parsed_form(sample);
    memset(expected.MODENAME, 0, sizeof(expected.MODENAME));
    options.metadata = zorvitest::template_metadata(expected);
    EXPECT_EQ(parse(sample, options), 0);
    EXPECT_EQ(out_, "Copy data failed!\n");
    expect_record(expected);

    options.values = {{"MODENAME", std::string(31, 'n')}};
    memset(expected.MODENAME, 'n', 31);
    options.metadata = zorvitest::template_metadata(expected);
    EXPECT_EQ(parse(sample, options), 0);
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

TEST_F(Parser, DriverVersionDecidesWhetherPcididIsChecked)
{
    const std::string invalid = "Invalid driver version with (";
    struct {
        std::string reply;
        int32_t status;
        bool pci_query;
        std::string out;
    } cases[] = {
        {"1.4.3.0", 0, true, ""},
        {"1.4.3", 0, true, ""},
        {"1.4.2.9", 0, false, ""},
        {"1.10.0.0", 0, true, ""},
        {"2", 0, true, ""},
        {"1.4.3.0 build 5", 0, true, ""},
        {"  1.4.3.0  build", 0, true, ""},
        {"1.4.3.0.1", -6, false, invalid + "1.4.3.0.1)\n"},
        {"1.4.3.0.1 build", -6, false, invalid + "1.4.3.0.1)\n"},
        {"1.4.x", -6, false, invalid + "1.4.x)\n"},
        {"   ", -6, false, invalid + "   )\n"},
        {"", -1, false, "Get driver version failed.\n"},
        // 128 bytes without a NUL: only the first 127 are read.
        {"1.4.3.0 " + std::string(120, 'x'), 0, true, ""},
        {"1.4.3." + std::string(121, '0') + "x", 0, true, ""},
        {std::string(128, 'x'), -6, false, invalid + std::string(127, 'x') + ")\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        g_fake_card = {};
        g_fake_card.version_reply = c.reply;
        TemplateFileOptions options;
        if (!c.pci_query) {
            options.pcidid.reset();  // an old driver needs no PCIDID
        }
        const int32_t status = parse(sample_record(0x77), options);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out_, c.out);
        EXPECT_EQ(g_fake_card.pci_queries, c.pci_query ? 1 : 0);
    }
}

TEST_F(Parser, CardQueryFailuresPassTheirStatusUp)
{
    const ResourceTemplate sample = sample_record(0);
    g_fake_card.version_status = -2;
    EXPECT_EQ(parse(sample), -2);
    EXPECT_EQ(out_, "Get driver version failed.\n");

    g_fake_card = {};
    g_fake_card.pci_status = -1;
    EXPECT_EQ(parse(sample), -1);
    EXPECT_EQ(out_, "Get PCI device ID failed.\n");
}

TEST_F(Parser, PcididMustMatchTheCard)
{
    const ResourceTemplate sample = sample_record(0);
    TemplateFileOptions options;
    options.pcidid = 0x1823;
    EXPECT_EQ(parse(sample, options), -1);
    EXPECT_EQ(out_, "Error happened when reading " + path_ + ", Incorrect PCIDID 0x1822.\n");

    g_fake_card.pci_device_id = 0xABCD;
    EXPECT_EQ(parse(sample, options), -1);
    EXPECT_EQ(out_, "Error happened when reading " + path_ + ", Incorrect PCIDID 0xabcd.\n");

    g_fake_card.pci_device_id = 0x1822;
    options.pcidid.reset();
    std::string text = render_template_file(sample, options);
    text.insert(text.find("METADATA"), "PCIDID = 6178\n");  // decimal 0x1822
    EXPECT_EQ(parse_text(text), 0);
    EXPECT_EQ(out_, "");
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

TEST_F(Parser, MetadataMustBeTheChecksumOfTheRecord)
{
    const ResourceTemplate sample = sample_record(ALL_BLOCKS);
    const uint32_t checksum = zorvitest::template_metadata(parsed_form(sample));
    for (uint32_t wrong : {checksum + 1, checksum - 1, ~checksum}) {
        TemplateFileOptions options;
        options.metadata = wrong;
        EXPECT_EQ(parse(sample, options), -1);
        EXPECT_EQ(out_, "Error happened when reading " + path_ + ", Incorrect METADATA.\n");
        EXPECT_EQ(g_fake_card.version_queries, 1);
        g_fake_card = {};
    }
    TemplateFileOptions decimal;
    decimal.values = {{"METADATA", std::to_string(checksum)}};
    EXPECT_EQ(parse(sample, decimal), 0);
}

}  // namespace
