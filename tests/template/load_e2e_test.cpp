// Template loads with the real zorviconfig on the simulated card: the
// examples reach the card exactly, good files in every form load, and every
// bad file, driver or card stops the load with its exact messages, status 1
// and no store request. The cases are in load_cases.txt; the template
// writer makes each file, so METADATA stays right wherever a case keeps it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "channel/tool_message.h"
#include "tests/harness/sandbox.h"
#include "tests/harness/test_util.h"
#include "tests/template/case_text.h"
#include "tests/template/example_templates.h"
#include "tests/template/template_file.h"

namespace {

using zorvitest::load_prompts;
using zorvitest::parsed_form;
using zorvitest::Sandbox;
using zorvitest::template_metadata;

const std::string ANSWERS = "yes\nagree\n";
const std::string SUCCEEDED =
    "Succeed to configure device zorvi0\nPlease reboot OS for the new configure to take effect\n";

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
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
    stored.crc = template_metadata(parsed);
    return stored;
}

void expect_card_holds(const Sandbox &box, const ResourceTemplate &parsed)
{
    const auto card = box.card_template();
    ASSERT_TRUE(card.has_value());
    const ResourceTemplate expected = stored_form(parsed);
    EXPECT_EQ(memcmp(&*card, &expected, sizeof(expected)), 0);
}

int requests(const Sandbox &box, uint32_t module, std::optional<uint32_t> command = {})
{
    int count = 0;
    for (const auto &request : box.requests()) {
        count += request.module == module && command.value_or(request.command) == request.command;
    }
    return count;
}

// One case of the table: its settings, one per line split into words, and
// the output expected after the prompts ({P} is the path).
struct LoadCase {
    std::string where;
    std::vector<std::vector<std::string>> settings;
    std::string out;
};

void run_case(const LoadCase &c)
{
    SCOPED_TRACE(c.where);
    Sandbox box;
    uint32_t mode = 0x7F;
    zorvitest::TemplateFileOptions options;
    std::vector<std::pair<std::string, std::string>> edits;  // an empty first appends
    bool write = true;
    int status = 1;
    int id_queries = -1;  // checked when set
    for (const std::vector<std::string> &w : c.settings) {
        const std::string &what = w.at(0);
        auto number = [&] { return static_cast<uint32_t>(std::stoul(w.at(1), nullptr, 0)); };
        if (what == "mode") {
            mode = number();
        } else if (what == "set") {
            options.values[w.at(1)] = w.at(2);
        } else if (what == "omit") {
            options.omit.insert(w.at(1));
        } else if (what == "hex") {
            options.hex = true;
        } else if (what == "crlf") {
            options.line_end = "\r\n";
        } else if (what == "replace" || what == "append") {
            edits.emplace_back(what == "append" ? "" : w.at(1), w.back());
        } else if (what == "nofile") {
            write = false;
        } else if (what == "driver") {
            box.set_driver_version(w.at(1));
        } else if (what == "card") {
            box.add_card("zorvi0", static_cast<uint16_t>(number()));
        } else if (what == "fail") {
            box.fail_ioctl(w.at(1));
        } else if (what == "status") {
            status = std::stoi(w.at(1));
        } else if (what == "id-queries") {
            id_queries = std::stoi(w.at(1));
        } else {
            FAIL() << "unknown setting " << what;
        }
    }
    const ResourceTemplate record = zorvitest::sample_record(mode);
    const uint32_t metadata = template_metadata(parsed_form(record));
    for (auto &[key, text] : options.values) {
        text = replace_all(replace_all(text, "{METADATA}", std::to_string(metadata)),
                           "{METADATA+1}", std::to_string(metadata + 1));
    }
    std::string text = zorvitest::render_template_file(record, options);
    for (const auto &[from, to] : edits) {
        const size_t at = from.empty() ? text.size() : text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    }
    const std::string path = box.dir() + "/t.ini";
    if (write) {
        zorvitest::write_file(path, text);
    }
    const auto r = box.run({"zorvi0", "-f", path}, {.input = ANSWERS});
    EXPECT_EQ(r.out, load_prompts(path) + replace_all(c.out, "{P}", path));
    EXPECT_EQ(r.exit_status, status);
    EXPECT_EQ(requests(box, TEMPLATE_MODULE), status == 0 ? 1 : 0);
    if (id_queries >= 0) {
        EXPECT_EQ(requests(box, QUERY_MODULE, PCI_DEVICE_ID_CMD), id_queries);
    }
    if (status == 0) {
        expect_card_holds(box, parsed_form(record));
    } else {
        EXPECT_FALSE(box.card_template().has_value());
    }
}

std::vector<LoadCase> table_cases()
{
    const std::string table = ZORVI_LOAD_CASES;
    const std::vector<std::string> lines = zorvitest::case_lines(table);
    std::vector<LoadCase> cases;
    bool in_output = false;
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string &line = lines[n];
        if (line.rfind("== ", 0) == 0) {
            cases.emplace_back().where = table + ":" + std::to_string(n + 1) + " " + line;
            in_output = false;
        } else if (cases.empty() || line.empty() || line[0] == '#') {
            continue;
        } else if (in_output) {
            cases.back().out += zorvitest::expand_repeats(line) + "\n";
        } else if (line == "--") {
            in_output = true;
        } else {
            cases.back().settings.push_back(zorvitest::case_words(line));
        }
    }
    return cases;
}

TEST(Load, EveryCaseOfTheTable)
{
    const std::vector<LoadCase> cases = table_cases();
    EXPECT_EQ(cases.size(), 80u);  // a case the reader merges would go unseen
    for (const LoadCase &c : cases) {
        run_case(c);
    }
}

TEST(Load, EveryExampleReachesTheCardAndIsDisplayed)
{
    for (const zorvitest::ExampleTemplate &example : zorvitest::example_templates()) {
        SCOPED_TRACE(example.file_name);
        Sandbox box;
        const std::string path = std::string(ZORVI_EXAMPLES_DIR) + "/" + example.file_name;
        const auto r = box.run({"zorvi0", "--file", path}, {.input = ANSWERS});
        EXPECT_EQ(r.out, load_prompts(path) + SUCCEEDED);
        EXPECT_EQ(r.exit_status, 0);
        expect_card_holds(box, parsed_form(example.record));

        const auto shown = box.run({"zorvi0"}, {.input = "", .no_input = true});
        EXPECT_EQ(shown.exit_status, 0);
        if (example.file_name == "minimal.ini") {
            EXPECT_EQ(shown.out,
                      zorvitest::read_file(std::string(ZORVI_GOLDEN_DIR) + "/minimal_display.txt"));
        }
        for (const char *line : {"\t\tMODENAME: four-function\n", "\t\tGCN: 2\n", "\t[O256QVN]\n",
                                 "\t\t0x0f\t0xf0\t0x0f\t0xf0\t0x00\t"}) {
            EXPECT_EQ(shown.out.find(line) != std::string::npos, example.file_name == "full.ini")
                << line;
        }
        EXPECT_EQ(shown.out.find("Cannot find template"), std::string::npos);
    }
}

// Builds an existing file whose path has exactly `length` characters.
std::string path_of_length(const std::string &dir, size_t length, const std::string &text)
{
    std::string path = dir;
    while (length - path.size() > 201) {
        path += "/" + std::string(199, 'd');
        mkdir(path.c_str(), 0700);
    }
    path += "/" + std::string(length - path.size() - 1, 'f');
    zorvitest::write_file(path, text);
    return path;
}

TEST(Load, PathsOf511And512Characters)
{
    const std::string text = zorvitest::render_template_file(zorvitest::sample_record(0));
    // An argument of 511 characters is too long for the log's copy of the
    // command line; start-up says so and the load goes on.
    const std::string no_log_line = "Snprintf user input string failed.\n";
    for (const auto &[length, rest] : {std::pair<size_t, std::string>{511, SUCCEEDED},
                                       {512, "Copy data failed!\nOperation failed.\n"}}) {
        Sandbox box;
        const std::string path = path_of_length(box.dir(), length, text);
        const auto r = box.run({"zorvi0", "-f", path}, {.input = ANSWERS});
        EXPECT_EQ(r.out, no_log_line + load_prompts(path) + rest);
        EXPECT_EQ(r.exit_status, length == 511 ? 0 : 1);
        EXPECT_EQ(requests(box, TEMPLATE_MODULE), length == 511 ? 1 : 0);
    }
}

TEST(Load, ModeNameOf32CharactersIsStoredEmpty)
{
    Sandbox box;
    const ResourceTemplate record = zorvitest::sample_record(MODE_MODENAME);
    ResourceTemplate parsed = parsed_form(record);
    memset(parsed.MODENAME, 0, sizeof(parsed.MODENAME));
    zorvitest::TemplateFileOptions options;
    options.values = {{"MODENAME", std::string(32, 'm')}};
    options.metadata = template_metadata(parsed);
    const std::string path = box.dir() + "/t.ini";
    zorvitest::write_file(path, zorvitest::render_template_file(record, options));
    const auto r = box.run({"zorvi0", "-f", path}, {.input = ANSWERS});
    EXPECT_EQ(r.out, load_prompts(path) + "Copy data failed!\n" + SUCCEEDED);
    EXPECT_EQ(r.exit_status, 0);
    expect_card_holds(box, parsed);
}

}  // namespace
