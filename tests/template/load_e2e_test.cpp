// Template loads with the real zorviconfig on the simulated card: the
// examples reach the card exactly, and every bad file, driver or card stops
// the load with its exact messages, status 1 and no store request.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "channel/template_exchange.h"
#include "channel/tool_message.h"
#include "template/template_keys.h"
#include "tests/harness/sandbox.h"
#include "tests/template/example_templates.h"
#include "tests/template/template_file.h"

namespace {

using zorvitest::render_template_file;
using zorvitest::Sandbox;
using zorvitest::TemplateFileOptions;

const std::string ANSWERS = "yes\nagree\n";
const std::string KEY_MISSING =
    "keyname isn't existed\nFailed to get key value for the input key\n";
const std::string SUCCEEDED =
    "Succeed to configure device zorvi0\nPlease reboot OS for the new configure to take effect\n";
const std::string FAILED = "Operation failed.\n";

// Everything a load prints before the parser speaks: the announcement, the
// two prompts and the warning banner.
std::string load_output(const std::string &path, const std::string &rest)
{
    return "\nTemplate " + path + " will be configured to device zorvi0\n"
           "\nEnter [yes] to continue:\n"
           "################################################################################\n"
           "# WARNING! This operation will modify the default configuration. The config    #\n"
           "# file must be confirmed by Kx3310 manufacturer. DO NOT modify it without      #\n"
           "# permission. Otherwise, it may cause unrecoverable consequences.              #\n"
           "################################################################################\n"
           "Enter [agree] to continue:\n" +
           rest;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string golden(const std::string &name)
{
    std::ifstream file(std::string(ZORVI_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The record as the card must hold it after a store: the parsed record with
// the header the exchange fills.
ResourceTemplate stored_form(const ResourceTemplate &parsed)
{
    ResourceTemplate stored = parsed;
    stored.channel_byte = 3;
    stored.flags = 1;
    memcpy(stored.magic, "ZZZZ", 4);
    stored.length = template_length(&parsed);
    stored.crc = zorvitest::template_metadata(parsed);
    return stored;
}

int template_requests(const Sandbox &box)
{
    int count = 0;
    for (const auto &request : box.requests()) {
        count += request.module == TEMPLATE_MODULE ? 1 : 0;
    }
    return count;
}

class Load : public testing::Test {
protected:
    zorvitest::RunResult load(const std::string &path)
    {
        return box_.run({"zorvi0", "-f", path}, {.input = ANSWERS});
    }
    std::string file(const std::string &text, const std::string &name = "t.ini")
    {
        const std::string path = box_.dir() + "/" + name;
        zorvitest::write_text_file(path, text);
        return path;
    }
    Sandbox box_;
};

TEST_F(Load, EveryExampleReachesTheCardAndIsDisplayed)
{
    for (const zorvitest::ExampleTemplate &example : zorvitest::example_templates()) {
        SCOPED_TRACE(example.file_name);
        Sandbox box;
        const std::string path = std::string(ZORVI_EXAMPLES_DIR) + "/" + example.file_name;
        auto r = box.run({"zorvi0", "--file", path}, {.input = ANSWERS});
        EXPECT_EQ(r.out, load_output(path, SUCCEEDED));
        EXPECT_EQ(r.exit_status, 0);
        auto card = box.card_template();
        ASSERT_TRUE(card.has_value());
        const ResourceTemplate expected = stored_form(zorvitest::parsed_form(example.record));
        EXPECT_EQ(memcmp(&*card, &expected, sizeof(expected)), 0);

        auto shown = box.run({"zorvi0"}, {.input = "", .no_input = true});
        EXPECT_EQ(shown.exit_status, 0);
        if (example.file_name == "minimal.ini") {
            EXPECT_EQ(shown.out, golden("minimal_display.txt"));
        } else if (example.file_name == "full.ini") {
            for (const char *line : {"\t\tMODENAME: four-function\n", "\t\tGCN: 2\n",
                                     "\t[O256QVN]\n", "\t\t0x0f\t0xf0\t0x0f\t0xf0\t0x00\t"}) {
                EXPECT_NE(shown.out.find(line), std::string::npos) << line;
            }
        }
        EXPECT_EQ(shown.out.find("Cannot find template"), std::string::npos);
    }
}

struct BadCase {
    std::string what;
    std::string text;                          // the template file
    std::string out;                           // after the prompts; {P} is the path
    std::function<void(Sandbox &)> setup = {};
};

std::vector<BadCase> bad_files()
{
    const ResourceTemplate all = zorvitest::sample_record(0x7F);
    const std::string good = render_template_file(all);
    auto with = [&](std::map<std::string, std::string> values) {
        TemplateFileOptions options;
        options.values = std::move(values);
        return render_template_file(all, options);
    };
    auto without = [&](const std::string &key) {
        TemplateFileOptions options;
        options.omit = {key};
        return render_template_file(all, options);
    };
    const std::string read_error = "Error happened when reading {P}, ";
    std::vector<BadCase> cases;

    // A missing key at each end of every block.
    uint32_t block = 0xFFFFFFFF;
    const TemplateKey *last = nullptr;
    std::set<std::string> seen;
    auto add_missing = [&](const TemplateKey &key, uint32_t pf) {
        std::string name = key.name + (key.count == 1 ? "" : (pf < 10 ? "0" : "") + std::to_string(pf));
        if (!seen.insert(name).second) {
            return;
        }
        std::string out = key.kind == KEY_TEXT      ? read_error + "MODENAME\n"
                          : key.kind == KEY_CARD_ID ? "Error happened when reading {P} to get PCIDID\n"
                                                    : read_error + name + "\n";
        cases.push_back({"missing " + name, without(name), KEY_MISSING + out});
    };
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.mode_bit != block) {
            if (last != nullptr) {
                add_missing(*last, last->count - 1);
            }
            add_missing(key, 0);
            block = key.mode_bit;
        }
        last = &key;
    }
    add_missing(*last, last->count - 1);
    cases.push_back({"missing METADATA", without("METADATA"),
                     KEY_MISSING + "Error happened when reading {P} to get METADATA\n"});

    // Every bound exceeded by one, on the last PF of a table.
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.kind != KEY_NUMBER || key.bound == KEY_ANY_VALUE) {
            continue;
        }
        std::string name = key.name + std::string(key.count == 1 ? "" : "15");
        cases.push_back({name + " above its bound", with({{name, std::to_string(key.bound + 1)}}),
                         std::string(key.name) + " " + std::to_string(key.bound + 1) +
                             " out of range[ 0, " + std::to_string(key.bound) + "]\n"});
    }
    TemplateFileOptions version;
    version.version = 65536;
    cases.push_back({"VERSION 65536", render_template_file(all, version),
                     "VERSION 65536 out of range[ 0, 65535]\n"});

    // Number forms reach the range check as the conversion reads them.
    cases.push_back({"hex above bound", with({{"QNP07", "0X401"}}), "QNP 1025 out of range[ 0, 1024]\n"});
    cases.push_back({"minus one", with({{"HN", "-1"}}), "HN 4294967295 out of range[ 0, 3]\n"});
    cases.push_back({"beyond 32 bits", with({{"HN", "4294967300"}}), "HN 4 out of range[ 0, 3]\n"});
    cases.push_back({"beyond 64 bits", with({{"HN", "99999999999999999999"}}),
                     "HN 4294967295 out of range[ 0, 3]\n"});
    cases.push_back({"not a number", with({{"PN", "# 1"}}),
                     "Sscanf_s unit pkeyvalue # 1 failed.\n" + read_error + "PN\n"});
    cases.push_back({"hex prefix only", with({{"GAN", "0x"}}),
                     "Sscanf_s unit pkeyvalue 0x failed.\n" + read_error + "GAN\n"});

    // File and section syntax.
    cases.push_back({"no [INFO]", replace_all(good, "[INFO]", "[INF0]"), read_error + "VERSION\n"});
    cases.push_back({"[config]", replace_all(good, "[CONFIG]", "[config]"), read_error + "HN\n"});
    std::string broken = good;
    broken.insert(broken.find("VNP00"), "[xyz\n");
    cases.push_back({"[xyz without ]", broken, KEY_MISSING + read_error + "VNP00\n"});
    std::string duplicate_key = good;
    duplicate_key.insert(duplicate_key.find("HN = "), "HN = 9\n");
    cases.push_back({"first of two keys", duplicate_key, "HN 9 out of range[ 0, 3]\n"});
    cases.push_back({"second section never read", without("VCQNP15") + "[CONFIG]\nVCQNP15 = 0\n",
                     KEY_MISSING + read_error + "VCQNP15\n"});
    std::string split = good;
    split.insert(split.find("[CONFIG]\n") + 9, "#" + std::string(510, '-') + "HN = 7\n");
    cases.push_back({"a line of 511+ characters is read in two", split, "HN 7 out of range[ 0, 3]\n"});

    // Identity checks.
    TemplateFileOptions other_id;
    other_id.pcidid = 0x1823;
    cases.push_back({"PCIDID of another card", render_template_file(all, other_id),
                     "Error happened when reading {P}, Incorrect PCIDID 0x1822.\n"});
    cases.push_back({"card id shown in lower case", good,
                     "Error happened when reading {P}, Incorrect PCIDID 0xabcd.\n",
                     [](Sandbox &box) { box.add_card("zorvi0", 0xABCD); }});
    TemplateFileOptions off_by_one;
    off_by_one.metadata = zorvitest::template_metadata(zorvitest::parsed_form(all)) + 1;
    cases.push_back({"METADATA off by one", render_template_file(all, off_by_one),
                     "Error happened when reading {P}, Incorrect METADATA.\n"});

    const std::string invalid = "Invalid driver version with (";
    const std::vector<std::pair<std::string, std::string>> drivers = {
        {"1.4.3.0.1", invalid + "1.4.3.0.1)\n"},
        {"1.4.3.0.1 build 5", invalid + "1.4.3.0.1)\n"},
        {"1.4.3.x", invalid + "1.4.3.x)\n"},
        {"x", invalid + "x)\n"},
        {"  ", invalid + "  )\n"},
        {"", "Get driver version failed.\n"},
        {std::string(128, 'v'), invalid + std::string(127, 'v') + ")\n"},
    };
    for (const auto &driver : drivers) {
        const std::string reply = driver.first;
        cases.push_back({"driver " + reply.substr(0, 20), good, driver.second,
                         [reply](Sandbox &box) { box.set_driver_version(reply); }});
    }
    cases.push_back({"version query fails", good, "Get driver version failed.\n",
                     [](Sandbox &box) { box.fail_ioctl("version"); }});
    cases.push_back({"PCI id query fails", good, "Get PCI device ID failed.\n",
                     [](Sandbox &box) { box.fail_ioctl("pcidid"); }});
    return cases;
}

TEST_F(Load, BadFilesStopTheLoadBeforeTheCard)
{
    for (const BadCase &c : bad_files()) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        if (c.setup) {
            c.setup(box);
        }
        const std::string path = box.dir() + "/bad.ini";
        zorvitest::write_text_file(path, c.text);
        auto r = box.run({"zorvi0", "-f", path}, {.input = ANSWERS});
        EXPECT_EQ(r.out, load_output(path, replace_all(c.out, "{P}", path) + FAILED));
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(template_requests(box), 0);
        EXPECT_FALSE(box.card_template().has_value());
    }
}

TEST_F(Load, MissingFile)
{
    const std::string path = box_.dir() + "/none.ini";
    auto r = load(path);
    EXPECT_EQ(r.out, load_output(path, "File isn't existed\nError happened when reading " + path +
                                           ", VERSION\n" + FAILED));
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(box_.requests().empty());
}

// Good files in unusual but valid forms all load the same record.
TEST_F(Load, ValidFormsLoad)
{
    const ResourceTemplate all = zorvitest::sample_record(0x7F);
    const ResourceTemplate expected = stored_form(zorvitest::parsed_form(all));
    TemplateFileOptions hex;
    hex.hex = true;
    hex.line_end = "\r\n";
    TemplateFileOptions decimal;
    decimal.pcidid.reset();
    decimal.values = {{"METADATA", std::to_string(zorvitest::template_metadata(zorvitest::parsed_form(all)))}};
    std::string decimal_text = render_template_file(all, decimal);
    decimal_text.insert(decimal_text.find("METADATA"), "PCIDID = 6178\n");
    std::string commented = render_template_file(all);
    commented = "# leading comment\n// another\n\n" +
                replace_all(replace_all(commented, "\nHN = ", "\n   # indented\n\t// tab\nHN = "),
                            "[CONFIG]\n", "[ CONFIG ] resources\n");
    commented = replace_all(commented, "VINP = ", "VINP =   ");
    commented.insert(commented.find('\n', commented.find("INP = ")), " # interrupts");
    commented.insert(commented.find('\n', commented.find("VNP00 = ")), " // first PF");

    for (const auto &[what, text] : std::vector<std::pair<std::string, std::string>>{
             {"hex with CRLF", render_template_file(all, hex)},
             {"decimal identity keys", decimal_text},
             {"comments and blanks", commented}}) {
        SCOPED_TRACE(what);
        Sandbox box;
        const std::string path = box.dir() + "/good.ini";
        zorvitest::write_text_file(path, text);
        auto r = box.run({"zorvi0", "-f", path}, {.input = ANSWERS});
        EXPECT_EQ(r.out, load_output(path, SUCCEEDED));
        EXPECT_EQ(r.exit_status, 0);
        auto card = box.card_template();
        ASSERT_TRUE(card.has_value());
        EXPECT_EQ(memcmp(&*card, &expected, sizeof(expected)), 0);
    }
}

TEST_F(Load, DriverVersionsThatPass)
{
    const ResourceTemplate record = zorvitest::sample_record(0x77);
    TemplateFileOptions no_id;
    no_id.pcidid.reset();
    struct {
        std::string reply;
        bool asks_id;
    } cases[] = {
        {"1.4.3.0", true},
        {"1.4.3", true},
        {"1.4.2.9", false},  // too old to report the id: the file needs no PCIDID
        {"1.10.0.0", true},
        {"2", true},
        {"1.4.3.0 build 5", true},
        // 128 bytes without a NUL: the 128th is never read.
        {"1.4.3." + std::string(121, '0') + "x", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        Sandbox box;
        box.set_driver_version(c.reply);
        const std::string path = box.dir() + "/t.ini";
        zorvitest::write_text_file(path, render_template_file(record, c.asks_id ? TemplateFileOptions{} : no_id));
        auto r = box.run({"zorvi0", "-f", path}, {.input = ANSWERS});
        EXPECT_EQ(r.out, load_output(path, SUCCEEDED));
        EXPECT_EQ(r.exit_status, 0);
        int id_queries = 0;
        for (const auto &request : box.requests()) {
            id_queries += (request.module == QUERY_MODULE && request.command == PCI_DEVICE_ID_CMD) ? 1 : 0;
        }
        EXPECT_EQ(id_queries, c.asks_id ? 1 : 0);
        EXPECT_EQ(template_requests(box), 1);
    }
}

// Builds an existing file whose path has exactly `length` characters.
std::string path_of_length(const std::string &dir, size_t length)
{
    std::string path = dir;
    while (length - path.size() > 201) {
        path += "/" + std::string(199, 'd');
        mkdir(path.c_str(), 0700);
    }
    return path + "/" + std::string(length - path.size() - 1, 'f');
}

TEST_F(Load, PathsOf511And512Characters)
{
    const std::string text = render_template_file(zorvitest::sample_record(0));
    const std::string path511 = path_of_length(box_.dir(), 511);
    zorvitest::write_text_file(path511, text);
    // An argument of 511 characters is too long for the log's copy of the
    // command line; start-up says so and the load goes on.
    const std::string no_log_line = "Snprintf user input string failed.\n";
    auto r = load(path511);
    EXPECT_EQ(r.out, no_log_line + load_output(path511, SUCCEEDED));
    EXPECT_EQ(r.exit_status, 0);

    Sandbox box;
    const std::string path512 = path_of_length(box.dir(), 512);
    zorvitest::write_text_file(path512, text);
    r = box.run({"zorvi0", "-f", path512}, {.input = ANSWERS});
    EXPECT_EQ(r.out, no_log_line + load_output(path512, "Copy data failed!\n" + FAILED));
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(box.requests().empty());
}

TEST_F(Load, ModeNameOf32CharactersIsStoredEmpty)
{
    ResourceTemplate record = zorvitest::sample_record(MODE_MODENAME);
    ResourceTemplate parsed = zorvitest::parsed_form(record);
    memset(parsed.MODENAME, 0, sizeof(parsed.MODENAME));
    TemplateFileOptions options;
    options.values = {{"MODENAME", std::string(32, 'm')}};
    options.metadata = zorvitest::template_metadata(parsed);
    const std::string path = file(render_template_file(record, options));
    auto r = load(path);
    EXPECT_EQ(r.out, load_output(path, "Copy data failed!\n" + SUCCEEDED));
    EXPECT_EQ(r.exit_status, 0);
    auto card = box_.card_template();
    ASSERT_TRUE(card.has_value());
    const ResourceTemplate expected = stored_form(parsed);
    EXPECT_EQ(memcmp(&*card, &expected, sizeof(expected)), 0);
}

}  // namespace
