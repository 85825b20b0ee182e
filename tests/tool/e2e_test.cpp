// The real zorviconfig on the simulated card: command lines, prompts,
// signals and the display flow, checked by output, exit status, card and log.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sample_records.h"
#include "tests/harness/sandbox.h"

namespace {

namespace fs = std::filesystem;
using zorvitest::RunOptions;
using zorvitest::RunResult;
using zorvitest::Sandbox;
using Args = std::vector<std::string>;

const std::string NOT_FOUND =
    "Cannot find template in card, maybe it's empty.\nNote: the template is empty by default.\n";
const std::string OPEN_FAILED = "Fail to open: /dev/nictool_dev\nCreate file err!\n";
const std::string TOO_LONG = "Input parameter of device name is too long.\n";
const std::string YES_PROMPT = "\nEnter [yes] to continue:\n";
const std::string AGREE_PROMPT =
    "################################################################################\n"
    "# WARNING! This operation will modify the default configuration. The config    #\n"
    "# file must be confirmed by Kx3310 manufacturer. DO NOT modify it without      #\n"
    "# permission. Otherwise, it may cause unrecoverable consequences.              #\n"
    "################################################################################\n"
    "Enter [agree] to continue:\n";
const std::string FAILED = "Operation failed.\n";

// The operation log keeps the command line only while every argument fits.
std::string unrecorded(const std::string &argument)
{
    return argument.size() >= 511 ? "Snprintf user input string failed.\n" : "";
}

std::string announce(const std::string &file, const std::string &device = "zorvi0")
{
    return "\nTemplate " + file + " will be configured to device " + device + "\n";
}

std::string op_log(const Sandbox &box)
{
    std::ifstream in(box.opt("zorvi/operation_logs/operations.log"), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool any_store(const Sandbox &box)
{
    for (const auto &request : box.requests()) {
        if (!request.data.empty() && (request.data.size() < 9 || (request.data[8] & 1) != 0)) {
            return true;
        }
    }
    return false;
}

RunOptions no_input()
{
    RunOptions options;
    options.no_input = true;
    return options;
}

RunOptions closed_input()
{
    RunOptions options;
    options.closed_input = true;
    return options;
}

void expect_ended_cleanly(const RunResult &r)
{
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
}

TEST(CommandLine, RefusedFormsPrintUsageAndTouchNothing)
{
    const std::vector<Args> refused = {
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
    };
    for (const Args &args : refused) {
        SCOPED_TRACE(testing::PrintToString(args));
        Sandbox box;
        RunResult r = box.run(args, no_input());
        EXPECT_EQ(r.out, tooltest::golden("usage.txt"));
        EXPECT_EQ(r.exit_status, 255);
        expect_ended_cleanly(r);
        EXPECT_TRUE(fs::is_empty(box.opt()));
        EXPECT_EQ(box.opens(), 0);
    }
}

TEST(CommandLine, OverlongDeviceNameIsRefusedAfterStartUp)
{
    const std::vector<Args> refused = {
        {"zorvi01234567890"},
        {"eth0123456789012", "--file", "t.ini"},
        {std::string(100000, 'z')},
        {std::string(20, '\xff')},
    };
    for (const Args &args : refused) {
        SCOPED_TRACE(args[0].substr(0, 20));
        Sandbox box;
        RunResult r = box.run(args, no_input());
        EXPECT_EQ(r.out, unrecorded(args[0]) + TOO_LONG + tooltest::golden("usage.txt"));
        EXPECT_EQ(r.exit_status, 255);
        expect_ended_cleanly(r);
        // Start-up has run: the folders exist, but no record was written.
        EXPECT_TRUE(fs::is_directory(box.opt("zorvi/fwlog")));
        EXPECT_TRUE(fs::is_directory(box.opt("zorvi/operation_logs")));
        EXPECT_EQ(op_log(box), "");
        EXPECT_EQ(box.opens(), 0);
    }
}

TEST(CommandLine, StartUpFailureStopsBeforeAnyFlow)
{
    for (const Args &args : {Args{"zorvi0"}, Args{"zorvi0", "-f", "t.ini"}}) {
        Sandbox box;
        RunOptions options;
        options.readonly_opt = true;
        options.input = "yes agree\n";
        RunResult r = box.run(args, options);
        EXPECT_NE(r.exit_status, 0) << r.out;
        expect_ended_cleanly(r);
        EXPECT_EQ(r.out.find("Template"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Cannot find"), std::string::npos) << r.out;
        EXPECT_EQ(box.opens(), 0);
    }
}

TEST(CommandLine, OddDeviceNamesTravelToTheDriverAsGiven)
{
    const std::vector<std::string> names = {"", "-f", "\xff\xfe\x01", "zorvi0123456789"};
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        Sandbox box;
        RunResult r = box.run({name}, no_input());
        expect_ended_cleanly(r);
        // No card answers to these names.
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), NOT_FOUND.size())),
                  NOT_FOUND);
        auto requests = box.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].device_name, name + std::string(16 - name.size(), '\0'));
        EXPECT_EQ(requests[0].dev_id, 0);
    }
}

struct PromptCase {
    const char *what;
    std::string input;
    std::string after_announce;
};

TEST(Prompts, EveryRefusalFailsWithoutRecordOrStore)
{
    const std::string yes_failed = "Input string(yes) failed.\n";
    const std::string agree_failed = "Input string(agree) failed.\n";
    const std::vector<PromptCase> cases = {
        {"Yes", "Yes\nagree\n", YES_PROMPT + FAILED},
        {"y", "y\n", YES_PROMPT + FAILED},
        {"yes!", "yes!\nagree\n", YES_PROMPT + FAILED},
        {"yes as a longer word", "yesagree\n", YES_PROMPT + FAILED},
        {"end of input at yes", "", YES_PROMPT + yes_failed + FAILED},
        {"blank lines only", "\n \t\n", YES_PROMPT + yes_failed + FAILED},
        {"end of input at agree", "yes\n", YES_PROMPT + AGREE_PROMPT + agree_failed + FAILED},
        {"Agree", "yes\nAgree\n", YES_PROMPT + AGREE_PROMPT + FAILED},
        {"agree.", "yes agree.\n", YES_PROMPT + AGREE_PROMPT + FAILED},
        {"512-character word", std::string(512, 'y') + "\nyes\nagree\n", YES_PROMPT + FAILED},
        {"600-character yes", "yes" + std::string(597, 's') + "\n", YES_PROMPT + FAILED},
        {"512-character agree", "yes\n" + std::string(512, 'a') + "\n",
         YES_PROMPT + AGREE_PROMPT + FAILED},
    };
    for (const PromptCase &c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        RunResult r = box.run({"zorvi0", "-f", "t.ini"}, {.input = c.input});
        EXPECT_EQ(r.out, announce("t.ini") + c.after_announce);
        EXPECT_EQ(r.exit_status, 1);
        expect_ended_cleanly(r);
        EXPECT_EQ(op_log(box), "");
        EXPECT_EQ(box.opens(), 0);
    }
}

TEST(Prompts, ClosedOrEmptyInputFailsAtTheFirstPrompt)
{
    const std::string expected = announce("t.ini") + YES_PROMPT + "Input string(yes) failed.\n" + FAILED;
    for (RunOptions options : {no_input(), closed_input()}) {
        Sandbox box;
        RunResult r = box.run({"zorvi0", "--file", "t.ini"}, options);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(op_log(box), "");
    }
}

TEST(Prompts, BothAnswersGoOnToTheBeginRecordAndTheFile)
{
    // The file is missing, so the run fails after the prompts, with both
    // records in the log and nothing sent to the card.
    const std::vector<std::string> inputs = {"yes agree\n", "yes\nagree\n", "  \n yes\t\n\n agree"};
    for (const std::string &input : inputs) {
        SCOPED_TRACE(input);
        Sandbox box;
        RunResult r = box.run({"zorvi0", "-f", "missing.ini"}, {.input = input});
        const std::string head = announce("missing.ini") + YES_PROMPT + AGREE_PROMPT;
        EXPECT_EQ(r.out.substr(0, head.size()), head);
        ASSERT_GE(r.out.size(), FAILED.size());
        EXPECT_EQ(r.out.substr(r.out.size() - FAILED.size()), FAILED);
        EXPECT_EQ(r.exit_status, 1);
        expect_ended_cleanly(r);
        EXPECT_NE(op_log(box), "");
        EXPECT_FALSE(any_store(box));
    }
}

TEST(Prompts, OddFilePathsAreEchoedAndRefusedCleanly)
{
    const std::vector<std::string> paths = {"", "\xff\xfe.ini", std::string(5000, 'p')};
    for (const std::string &path : paths) {
        Sandbox box;
        RunResult r = box.run({"zorvi0", "-f", path}, {.input = "no\n"});
        EXPECT_EQ(r.out, unrecorded(path) + announce(path) + YES_PROMPT + FAILED);
        EXPECT_EQ(r.exit_status, 1);
        expect_ended_cleanly(r);
    }
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
            EXPECT_EQ(r.out.find(FAILED), std::string::npos);
            EXPECT_EQ(op_log(box), "");
        }
    }
}

TEST(Load, ConfirmedTemplateReachesTheCardAndTheLog)
{
    const std::string file = std::string(ZORVI_EXAMPLES_DIR) + "/minimal.ini";
    for (const char *option : {"-f", "--file"}) {
        SCOPED_TRACE(option);
        Sandbox box;
        RunResult r = box.run({"zorvi0", option, file}, {.input = "yes\nagree\n"});
        EXPECT_EQ(r.out, announce(file) + YES_PROMPT + AGREE_PROMPT +
                             "Succeed to configure device zorvi0\n"
                             "Please reboot OS for the new configure to take effect\n");
        EXPECT_EQ(r.exit_status, 0);
        expect_ended_cleanly(r);
        ASSERT_TRUE(box.card_template().has_value());
        EXPECT_EQ(box.card_template()->HN, 1u);
        const std::string log = op_log(box);
        EXPECT_NE(log.find("[SUCCEED]."), std::string::npos) << log;
        ASSERT_EQ(box.syslog().size(), 1u);
    }
}

TEST(Load, FailureAfterTheBeginRecordIsLoggedAndExitsOne)
{
    struct Fault {
        const char *what;
        void (*apply)(Sandbox &);
        std::string result;         // the end of the result record
    };
    const Fault faults[] = {
        {"card refuses the store", [](Sandbox &box) { box.answer_status("store", 5); },
         "[FAILED<5>].\r\n"},
        {"store ioctl fails", [](Sandbox &box) { box.fail_ioctl("store"); },
         "[FAILED<-1>].\r\n"},
    };
    const std::string file = std::string(ZORVI_EXAMPLES_DIR) + "/minimal.ini";
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        Sandbox box;
        f.apply(box);
        RunResult r = box.run({"zorvi0", "-f", file}, {.input = "yes agree\n"});
        EXPECT_EQ(r.out, announce(file) + YES_PROMPT + AGREE_PROMPT + FAILED);
        EXPECT_EQ(r.exit_status, 1);
        expect_ended_cleanly(r);
        EXPECT_FALSE(box.card_template().has_value());
        const std::string log = op_log(box);
        ASSERT_GE(log.size(), f.result.size());
        EXPECT_EQ(log.substr(log.size() - f.result.size()), f.result) << log;
    }
}

struct DisplayCase {
    const char *what;
    ResourceTemplate record;
    std::string golden;
};

TEST(Display, PrintsTheCardTemplateForEachMode)
{
    const DisplayCase cases[] = {
        {"mode 0", tooltest::base_record(0), "mode0.txt"},
        {"mode 0x08 prints as mode 0", tooltest::base_record(MODE_PCIDID), "mode0.txt"},
        {"mode 0x7F", tooltest::full_record(), "mode7f.txt"},
    };
    for (const DisplayCase &c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        box.set_card_template("zorvi0", c.record);
        RunResult r = box.run({"zorvi0"}, no_input());
        EXPECT_EQ(r.out, tooltest::golden(c.golden));
        EXPECT_EQ(r.exit_status, 0);
        expect_ended_cleanly(r);
        EXPECT_EQ(op_log(box), "");
        EXPECT_FALSE(any_store(box));
    }
}

TEST(Display, UnterminatedModeNameFromTheCard)
{
    ResourceTemplate record = tooltest::base_record(MODE_MODENAME);
    std::memset(record.MODENAME, 'N', MODENAME_SIZE);
    record.O1QVN[0] = 0x4242;
    Sandbox box;
    box.set_card_template("zorvi0", record);
    RunResult r = box.run({"zorvi0"}, no_input());
    EXPECT_NE(r.out.find("\t[BASIC]\n\t\tMODENAME: " + std::string(32, 'N') + "\n\t\tHN: 3\n"),
              std::string::npos);
    EXPECT_EQ(r.exit_status, 0);
}

TEST(Display, FetchFailures)
{
    struct Fault {
        const char *what;
        void (*apply)(Sandbox &);
        std::string out;
        int exit_status;
    };
    const Fault faults[] = {
        {"empty card", [](Sandbox &) {}, NOT_FOUND, 0},
        {"card status 255",
         [](Sandbox &box) {
             box.set_card_template("zorvi0", tooltest::full_record());
             box.answer_status("fetch", 255);
         },
         NOT_FOUND, 0},
        {"no tool device", [](Sandbox &box) { box.fail_open(true); }, OPEN_FAILED + NOT_FOUND, 1},
        {"ioctl fails",
         [](Sandbox &box) {
             box.set_card_template("zorvi0", tooltest::full_record());
             box.fail_ioctl("fetch");
         },
         NOT_FOUND, 1},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        Sandbox box;
        f.apply(box);
        RunResult r = box.run({"zorvi0"}, no_input());
        EXPECT_EQ(r.out, f.out);
        EXPECT_EQ(r.exit_status, f.exit_status);
        expect_ended_cleanly(r);
    }
}

}  // namespace
