// The real zorviconfig on the simulated card. Each row of the tables below is
// one run: its command line and input, the exact output, the exit status, and
// what the operation log and the card hold afterwards. Real signals at the
// prompts are sent from their own test.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/sandbox.h"
#include "tests/harness/test_util.h"

namespace {

namespace fs = std::filesystem;
using zorvitest::load_prompts;
using zorvitest::read_file;
using zorvitest::RunOptions;
using zorvitest::RunResult;
using zorvitest::Sandbox;
using Args = std::vector<std::string>;

std::string golden(const std::string &name)
{
    return read_file(std::string(ZORVI_GOLDEN_DIR) + "/" + name);
}

const std::string USAGE = golden("usage.txt");
const std::string NOT_FOUND =
    "Cannot find template in card, maybe it's empty.\nNote: the template is empty by default.\n";
const std::string TOO_LONG = "Input parameter of device name is too long.\n";
const std::string FAILED = "Operation failed.\n";
const std::string SUCCEEDED =
    "Succeed to configure device zorvi0\nPlease reboot OS for the new configure to take effect\n";
const std::string MINIMAL = std::string(ZORVI_EXAMPLES_DIR) + "/minimal.ini";
const std::string LOG = "zorvi/operation_logs/operations.log";

RunOptions in(const std::string &text)
{
    RunOptions options;
    options.input = text;
    return options;
}

const RunOptions NO_INPUT = [] {
    RunOptions options;
    options.no_input = true;
    return options;
}();
const RunOptions CLOSED_INPUT = [] {
    RunOptions options;
    options.closed_input = true;
    return options;
}();

// What a load prints up to its first prompt.
std::string yes_prompt(const std::string &file)
{
    return "\nTemplate " + file +
           " will be configured to device zorvi0\n\nEnter [yes] to continue:\n";
}

// The operation log keeps the command line only while every argument fits.
std::string unrecorded(const std::string &argument)
{
    return argument.size() >= 511 ? "Snprintf user input string failed.\n" : "";
}

enum class Card {
    UNTOUCHED,  // the tool device is never opened
    UNCHANGED,  // at most one request (a fetch); the card keeps its template
    STORED,     // the card holds a new template
};

// NO_OPT: /opt stays empty. Otherwise the log exists and is empty (""), or
// ends with the given result record.
const std::optional<std::string> NO_OPT;

struct Row {
    std::string what;
    Args args;
    RunOptions how;
    std::string out;
    int exit_status = 1;  // defaults: a load refused at a prompt
    std::optional<std::string> log = "";
    Card card = Card::UNTOUCHED;
    std::function<void(Sandbox &)> setup = {};
};

std::string card_bytes(const Sandbox &box)
{
    auto record = box.card_template();
    return record ? std::string(reinterpret_cast<const char *>(&*record), sizeof(*record)) : "";
}

void run_rows(const std::vector<Row> &rows)
{
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what + " " + testing::PrintToString(row.args).substr(0, 100));
        Sandbox box;
        if (row.setup) {
            row.setup(box);
        }
        const std::string before = card_bytes(box);
        RunResult r = box.run(row.args, row.how);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.exit_status, row.exit_status);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.err, "");

        if (!row.log) {
            EXPECT_TRUE(fs::is_empty(box.opt()));
        } else {
            const std::string log = read_file(box.opt(LOG));
            EXPECT_TRUE(fs::exists(box.opt(LOG)));
            EXPECT_TRUE(row.log->empty() ? log.empty() : log.ends_with(*row.log)) << log;
            EXPECT_EQ(box.syslog().size(), row.log->empty() ? 0u : 1u);
        }

        // Every request names the device as given, zero-padded.
        for (const auto &request : box.requests()) {
            std::string name = row.args[0];
            name.resize(16, '\0');
            EXPECT_EQ(request.device_name, name);
            EXPECT_EQ(request.dev_id, 0);
        }
        switch (row.card) {
            case Card::UNTOUCHED:
                EXPECT_EQ(box.opens(), 0);
                break;
            case Card::UNCHANGED:
                EXPECT_LE(box.requests().size(), 1u);
                EXPECT_EQ(card_bytes(box), before);
                break;
            case Card::STORED:
                EXPECT_NE(card_bytes(box), before);
                break;
        }
    }
}

TEST(CommandLine, EveryFormAndDeviceName)
{
    std::vector<Row> rows;
    for (const Args &args : std::vector<Args>{
             {},
             {"zorvi0", "-f"},
             {"zorvi0", "-f", "t.ini", "x"},
             {"-h"},
             {"--help"},
             {"-h", "-f", "x"},
             {"--help", "--file", "x"},
             {"zorvi0", "-F", "t.ini"},
             {"zorvi0", "file", "t.ini"},
             {"zorvi0", "-file", "t.ini"},
         }) {
        rows.push_back({"usage", args, NO_INPUT, USAGE, 255, NO_OPT, Card::UNTOUCHED});
    }
    // Refused after start-up: the folders and an empty log exist.
    for (const Args &args : std::vector<Args>{
             {"zorvi01234567890"},
             {"eth0123456789012", "--file", "t.ini"},
             {std::string(100000, 'z')},
             {std::string(20, '\xff')},
         }) {
        rows.push_back({"too long", args, NO_INPUT, unrecorded(args[0]) + TOO_LONG + USAGE, 255, "",
                        Card::UNTOUCHED});
    }
    // Any other name goes to the driver, which knows no such card.
    for (const char *name : {"", "-f", "\xff\xfe\x01", "zorvi0123456789", "e1234567890123x"}) {
        rows.push_back({"unknown card", {name}, NO_INPUT, NOT_FOUND, 1, "", Card::UNCHANGED});
    }
    run_rows(rows);
}

TEST(Prompts, AnswersRefusalsAndOddPaths)
{
    const std::string yes_failed = "Input string(yes) failed.\n";
    const std::string agree_failed = "Input string(agree) failed.\n";
    const std::string at_yes = yes_prompt("t.ini");
    const std::string at_agree = load_prompts("t.ini");
    const Args load = {"zorvi0", "-f", "t.ini"};
    std::vector<Row> rows = {
        {"Yes", load, in("Yes\nagree\n"), at_yes + FAILED},
        {"y", load, in("y\n"), at_yes + FAILED},
        {"yes!", load, in("yes!\nagree\n"), at_yes + FAILED},
        {"yes as part of a word", load, in("yesagree\n"), at_yes + FAILED},
        {"end of input at yes", load, in(""), at_yes + yes_failed + FAILED},
        {"blank lines only", load, in("\n \t\n"), at_yes + yes_failed + FAILED},
        {"no input", load, NO_INPUT, at_yes + yes_failed + FAILED},
        {"closed input", {"zorvi0", "--file", "t.ini"}, CLOSED_INPUT, at_yes + yes_failed + FAILED},
        {"end of input at agree", load, in("yes\n"), at_agree + agree_failed + FAILED},
        {"Agree", load, in("yes\nAgree\n"), at_agree + FAILED},
        {"agree.", load, in("yes agree.\n"), at_agree + FAILED},
        {"512-character word", load, in(std::string(512, 'y') + "\nyes\nagree\n"), at_yes + FAILED},
        {"600-character yes", load, in("yes" + std::string(597, 's') + "\n"), at_yes + FAILED},
        {"512-character agree", load, in("yes\n" + std::string(512, 'a') + "\n"),
         at_agree + FAILED},
    };
    for (const std::string &path : {std::string(""), std::string("\xff\xfe.ini"), std::string("-h"),
                                    std::string(5000, 'p')}) {
        rows.push_back({"odd path",
                        {"zorvi0", "-f", path},
                        in("no\n"),
                        unrecorded(path) + yes_prompt(path) + FAILED});
    }
    // Both answers, in any layout, lead on to the begin record and the file.
    const std::string missing = load_prompts("missing.ini") +
                                "File isn't existed\n"
                                "Error happened when reading missing.ini, VERSION\n" +
                                FAILED;
    for (const char *input : {"yes agree\n", "yes\nagree\n", "  \n yes\t\n\n agree"}) {
        rows.push_back({"answered",
                        {"zorvi0", "-f", "missing.ini"},
                        in(input),
                        missing,
                        1,
                        "[FAILED<-1>].\r\n",
                        Card::UNCHANGED});
    }
    run_rows(rows);
}

TEST(Load, ConfirmedTemplateReachesTheCard)
{
    std::vector<Row> rows;
    for (const char *option : {"-f", "--file"}) {
        rows.push_back({option,
                        {"zorvi0", option, MINIMAL},
                        in("yes\nagree\n"),
                        load_prompts(MINIMAL) + SUCCEEDED,
                        0,
                        "[SUCCEED].\r\n",
                        Card::STORED});
    }
    run_rows(rows);
}

// Base block only; every optional block is filled too, so a mode bit that is
// wrongly honoured shows up in the output.
ResourceTemplate base_record(uint32_t mode)
{
    ResourceTemplate r{};
    r.mode = mode;
    r.HN = 3;
    r.PN = 15;
    r.VNP[0] = 8;
    r.VNP[15] = 255;
    r.QNP[1] = 1024;
    r.VQNP[2] = 7;
    r.QPNP[0] = 1048576;
    r.VQPNP[3] = 100;
    r.VCQNP[15] = 1;
    r.INP = 12;
    std::strcpy(r.MODENAME, "hidden");
    r.O1QVN[0] = 9;
    r.SM = 4;
    r.SMP[0] = 1;
    r.GAN = 1;
    r.GCN = 1;
    r.PCIDID = 0x3310;
    r.CBMP[0] = 1;
    r.CBMOP[0] = 1;
    r.OVNP[0] = 1;
    return r;
}

// Every block switched on, with the edge values of each format.
ResourceTemplate full_record()
{
    ResourceTemplate r = base_record(0x7F);
    std::strcpy(r.MODENAME, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");  // 31 characters
    r.PM = 0xBEEF;
    r.PH = 0x1234ABCD;
    r.GAN = 2;
    r.GCN = 5;
    r.SM = 16;
    for (uint16_t i = 0; i < PF_COUNT; ++i) {
        r.SMP[i] = i;
    }
    r.VCQNP[14] = 0xFFFFFFFF;  // a u32 entry prints as a signed int
    r.O1QVN[0] = 1;
    r.O2QVN[1] = 2;
    r.O4QVN[2] = 4;
    r.O8QVN[3] = 8;
    r.O16QVN[4] = 16;
    r.O32QVN[5] = 32;
    r.O64QVN[6] = 64;
    r.O128QVN[7] = 128;
    r.O256QVN[8] = 256;
    r.O256QVN[15] = 1024;
    r.CBMP[0] = 171;
    r.CBMP[15] = 1;
    r.CBMOP[0] = 0;
    r.CBMOP[1] = 255;
    r.OVNP[0] = 300;
    r.OVNP[2] = 15;
    return r;
}

// A mode name filling its field with no terminator, and more text behind it.
ResourceTemplate unterminated_name()
{
    ResourceTemplate r = base_record(MODE_MODENAME);
    std::memset(r.MODENAME, 'N', MODENAME_SIZE);
    r.O1QVN[0] = 0x4242;
    return r;
}

TEST(Display, TemplatesAndFetchFailures)
{
    struct Shown {
        const char *file;
        ResourceTemplate record;
    };
    std::vector<Row> rows;
    for (const Shown &shown :
         {Shown{"mode0.txt", base_record(0)}, Shown{"mode0.txt", base_record(MODE_PCIDID)},
          Shown{"mode7f.txt", full_record()}, Shown{"modename32.txt", unterminated_name()}}) {
        rows.push_back(
            {shown.file,
             {"zorvi0"},
             NO_INPUT,
             golden(shown.file),
             0,
             "",
             Card::UNCHANGED,
             [record = shown.record](Sandbox &box) { box.set_card_template("zorvi0", record); }});
    }
    const auto full_card = [](Sandbox &box) { box.set_card_template("zorvi0", full_record()); };
    rows.push_back({"empty card", {"zorvi0"}, NO_INPUT, NOT_FOUND, 0, "", Card::UNCHANGED});
    rows.push_back({"card status 255",
                    {"zorvi0"},
                    NO_INPUT,
                    NOT_FOUND,
                    0,
                    "",
                    Card::UNCHANGED,
                    [&](Sandbox &box) {
                        full_card(box);
                        box.answer_status("fetch", 255);
                    }});
    rows.push_back({"no tool device",
                    {"zorvi0"},
                    NO_INPUT,
                    "Fail to open: /dev/nictool_dev\nCreate file err!\n" + NOT_FOUND,
                    1,
                    "",
                    Card::UNCHANGED,
                    [](Sandbox &box) { box.fail_open(true); }});
    rows.push_back(
        {"ioctl fails", {"zorvi0"}, NO_INPUT, NOT_FOUND, 1, "", Card::UNCHANGED, [&](Sandbox &box) {
             full_card(box);
             box.fail_ioctl("fetch");
         }});
    run_rows(rows);
}

TEST(Signals, EndTheRunWithStatusOneAtEitherPrompt)
{
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGTSTP}) {
        for (bool at_agree : {false, true}) {
            SCOPED_TRACE(std::to_string(signal_number) + (at_agree ? " at agree" : " at yes"));
            Sandbox box;
            auto process = box.start({"zorvi0", "-f", "t.ini"});
            ASSERT_TRUE(process.wait_for_output("Enter [yes] to continue:\n"));
            if (at_agree) {
                process.write_input("yes\n");
                ASSERT_TRUE(process.wait_for_output("Enter [agree] to continue:\n"));
            }
            process.send_signal(signal_number);
            RunResult r = process.wait();
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.exit_status, 1);
            EXPECT_EQ(r.out, at_agree ? load_prompts("t.ini") : yes_prompt("t.ini"));
            EXPECT_EQ(read_file(box.opt(LOG)), "");
        }
    }
}

}  // namespace
