// The operation log as the real zorviconfig leaves it on the simulated
// machine: the management area, the records of a load and their system-log
// copies, rollover, the lock shared with other processes, and faults that
// must lose nothing.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/harness/sandbox.h"
#include "tests/harness/test_util.h"

namespace {

namespace fs = std::filesystem;
using zorvitest::load_prompts;
using zorvitest::read_file;
using zorvitest::RunOptions;
using zorvitest::RunResult;
using zorvitest::Sandbox;
using zorvitest::SimProcess;
using zorvitest::write_file;

const std::string MINIMAL = ZORVI_EXAMPLES_DIR "/minimal.ini";
const std::string ANSWERS = "yes\nagree\n";
const std::string FAILED = "Operation failed.\n";
const std::string SUCCEEDED =
    "Succeed to configure device zorvi0\nPlease reboot OS for the new configure to take effect\n";
const std::string LOCK_REFUSED = "Can not get file lock (-1).\n";
const std::string LOG = "zorvi/operation_logs/operations.log";
const std::string OLD_LOG = "zorvi/operation_logs/operations.log.old";
const std::string EARLIER = "[2020-01-01 00:00:00] [zorviconfig zorvi0 -f x] [Begin].\r\n";
const std::string ROLLBACK =
    "[START] The old operation log has been backed up to "
    "/opt/zorvi/operation_logs/operations.log.old.\r\n";

mode_t mode_of(const std::string &path)
{
    struct stat info = {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::string op_log(const Sandbox &box)
{
    return read_file(box.opt(LOG));
}

std::vector<std::string> records_of(const std::string &log)
{
    std::vector<std::string> records;
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        records.push_back(log.substr(start, end + 2 - start));
    }
    EXPECT_EQ(start, log.size()) << "a record without its CR LF";
    return records;
}

// The seconds a run took place in.
struct RunWindow {
    time_t before = time(nullptr);
    time_t after = 0;
};

bool within(const std::string &text, const char *format, const RunWindow &w)
{
    for (time_t t = w.before; t <= w.after; t++) {
        struct tm local = {};
        localtime_r(&t, &local);
        char expected[32];
        strftime(expected, sizeof(expected), format, &local);
        if (text == expected) {
            return true;
        }
    }
    return false;
}

// `log` with each start stamp replaced by "[START]" and each end time by
// "[END]", once each is found to lie within the run.
std::string normalized(std::string log, const RunWindow &w)
{
    const struct {
        std::regex pattern;
        const char *format;
        const char *name;
    } stamps[] = {
        {std::regex(R"(\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\])"), "%Y-%m-%d %H:%M:%S", "[START]"},
        {std::regex(R"(\[(\d\d:\d\d:\d\d)\])"), "%H:%M:%S", "[END]"},
    };
    for (const auto &stamp : stamps) {
        for (std::sregex_iterator it(log.begin(), log.end(), stamp.pattern), end; it != end; ++it) {
            EXPECT_TRUE(within((*it)[1], stamp.format, w)) << it->str() << " outside the run";
        }
        log = std::regex_replace(log, stamp.pattern, stamp.name);
    }
    return log;
}

// The begin and result records of one load of `file` (normalized). An
// argument too long for the log leaves the command line out.
std::string load_records(const std::string &file, const std::string &word)
{
    const std::string prefix =
        file.size() < 511 ? "[START] [zorviconfig zorvi0 -f " + file + "] " : "";
    return prefix + "[Begin].\r\n" + prefix + "[END] " + word + "\r\n";
}

RunOptions answered(const std::string &input, bool readonly_opt = false)
{
    RunOptions options;
    options.input = input;
    options.readonly_opt = readonly_opt;
    return options;
}

RunResult load(Sandbox &box, RunWindow *w = nullptr, const std::string &file = MINIMAL)
{
    RunWindow ignored;
    w = w ? w : &ignored;
    w->before = time(nullptr);
    RunResult r = box.run({"zorvi0", "-f", file}, answered(ANSWERS));
    w->after = time(nullptr);
    return r;
}

// A copy of the minimal template at a path of exactly `length` characters
// in the sandbox, through folders as deep as needed.
std::string template_path_of_length(const Sandbox &box, size_t length)
{
    std::string folder = box.dir();
    while (folder.size() + 1 + 200 < length) {
        folder += "/" + std::string(200, 'd');
    }
    fs::create_directories(folder);
    const std::string path = folder + "/" + std::string(length - folder.size() - 1, 'f');
    fs::copy_file(MINIMAL, path);
    return path;
}

TEST(ManagementArea, LoadsLeaveTheirRecordsAndSystemLogCopies)
{
    struct Case {
        const char *what;
        std::function<std::string(Sandbox &)> prepare;  // returns the template path
        std::string tail;                               // output after the prompts
        std::string word;
    };
    const auto minimal = [](Sandbox &) { return MINIMAL; };
    const auto store_status = [](uint8_t status) {
        return [status](Sandbox &box) {
            box.answer_status("store", status);
            return MINIMAL;
        };
    };
    const std::string missing = "/nonexistent/t.ini";
    const Case cases[] = {
        {"succeeds", minimal, SUCCEEDED, "[SUCCEED]."},
        {"percent signs",
         [](Sandbox &box) {
             fs::copy_file(MINIMAL, box.dir() + "/100%s%n%d.ini");
             return box.dir() + "/100%s%n%d.ini";
         },
         SUCCEEDED, "[SUCCEED]."},
        {"510-character path", [](Sandbox &box) { return template_path_of_length(box, 510); },
         SUCCEEDED, "[SUCCEED]."},
        {"511-character path", [](Sandbox &box) { return template_path_of_length(box, 511); },
         SUCCEEDED, "[SUCCEED]."},
        {"template missing", [&](Sandbox &) { return missing; },
         "File isn't existed\nError happened when reading " + missing + ", VERSION\n" + FAILED,
         "[FAILED<-1>]."},
        {"store refused by the card", store_status(5), FAILED, "[FAILED<5>]."},
        {"store refused with 255", store_status(255), FAILED, "[FAILED<255>]."},
        {"store ioctl fails",
         [](Sandbox &box) {
             box.fail_ioctl("store");
             return MINIMAL;
         },
         FAILED, "[FAILED<-1>]."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        const std::string file = c.prepare(box);
        RunWindow w;
        RunResult r = load(box, &w, file);
        const bool succeeded = c.word == "[SUCCEED].";
        const std::string unrecorded =
            file.size() < 511 ? "" : "Snprintf user input string failed.\n";
        EXPECT_EQ(r.out, unrecorded + load_prompts(file) + c.tail);
        EXPECT_EQ(r.exit_status, succeeded ? 0 : 1);
        EXPECT_EQ(box.card_template().has_value(), succeeded);

        for (const char *folder : {"zorvi", "zorvi/operation_logs", "zorvi/fwlog", "zorvi/locks",
                                   "zorvi/locks/op_log"}) {
            EXPECT_EQ(mode_of(box.opt(folder)), 0700u) << folder;
        }
        EXPECT_EQ(read_file(box.opt("zorvi/locks/op_log")), "");
        EXPECT_FALSE(fs::exists(box.opt(OLD_LOG)));

        const std::string log = op_log(box);
        EXPECT_EQ(normalized(log, w), load_records(file, c.word));
        std::vector<std::string> records = records_of(log);
        ASSERT_EQ(records.size(), 2u);
        if (file.size() < 511) {
            EXPECT_EQ(records[0].substr(0, 22), records[1].substr(0, 22));  // one start time
        }

        // The result record, without its line end, also goes to the system log.
        std::vector<zorvitest::SyslogEntry> entries = box.syslog();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].identity, "zorviadm");
        EXPECT_EQ(entries[0].option, LOG_PID | LOG_CONS);
        EXPECT_EQ(entries[0].facility, LOG_USER);
        EXPECT_EQ(entries[0].priority, LOG_INFO);
        EXPECT_EQ(entries[0].message + "\r\n", records[1]);
    }
}

TEST(Rollover, LogsOverTheLimitMoveAsideBeforeTheRunsRecords)
{
    struct Case {
        uint64_t size;  // of the earlier log
        bool display;
        bool moved;
    } cases[] = {
        {4194304, false, false},
        {4194305, false, true},
        {(1ULL << 32) + 1, false, true},
        {4194305, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.display ? " display" : " load"));
        Sandbox box;
        // An earlier log of c.size bytes (sparse), and an older backup.
        fs::create_directories(box.opt("zorvi/operation_logs"));
        write_file(box.opt(OLD_LOG), "older backup\r\n");
        write_file(box.opt(LOG), EARLIER);
        fs::resize_file(box.opt(LOG), c.size);

        RunWindow w;
        RunResult r = c.display ? box.run({"zorvi0"}, answered("")) : load(box, &w);
        w.after = time(nullptr);
        EXPECT_EQ(r.exit_status, 0) << r.out;
        const std::string records = c.display ? "" : load_records(MINIMAL, "[SUCCEED].");
        // Never read a log that was wrongly left at gigabytes.
        ASSERT_LE(fs::file_size(box.opt(LOG)), (c.moved ? 0 : c.size) + 4096);
        const std::string log = op_log(box);
        if (c.moved) {
            EXPECT_EQ(fs::file_size(box.opt(OLD_LOG)), c.size);  // the older backup is replaced
            std::string head(EARLIER.size(), '\0');
            std::ifstream(box.opt(OLD_LOG), std::ios::binary).read(head.data(), head.size());
            EXPECT_EQ(head, EARLIER);
            EXPECT_EQ(normalized(log, w), ROLLBACK + records);
        } else {
            EXPECT_EQ(read_file(box.opt(OLD_LOG)), "older backup\r\n");
            ASSERT_GT(log.size(), c.size);
            EXPECT_EQ(log.substr(0, EARLIER.size()), EARLIER);
            EXPECT_EQ(normalized(log.substr(c.size), w), records);
        }
        EXPECT_EQ(box.syslog().size(), c.display ? 0u : 1u);  // never the rollback record
    }
}

// Holds the tool's lock from outside, as another maintenance tool would.
class ForeignLock {
public:
    explicit ForeignLock(const Sandbox &box)
    {
        fs::create_directories(box.opt("zorvi/locks"));
        fd_ = open(box.opt("zorvi/locks/op_log").c_str(), O_WRONLY | O_CREAT, 0700);
        EXPECT_GE(fd_, 0);
    }
    ~ForeignLock() { close(fd_); }
    void take() { EXPECT_EQ(flock(fd_, LOCK_EX), 0); }
    void release() { EXPECT_EQ(flock(fd_, LOCK_UN), 0); }

private:
    int fd_ = -1;
};

TEST(OperationLogLock, BeginWaitsAndResultGoesAheadWithoutTheLock)
{
    Sandbox box;
    ForeignLock other(box);
    // A template "file" that blocks the parser until the test lets it go, so
    // the test can act between the begin and the result records.
    const std::string held = box.dir() + "/held.ini";
    ASSERT_EQ(mkfifo(held.c_str(), 0600), 0);

    // The begin record waits for as long as another process holds the lock.
    other.take();
    SimProcess process = box.start({"zorvi0", "-f", held});
    process.write_input(ANSWERS);
    ASSERT_TRUE(process.wait_for_output("Enter [agree] to continue:\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(op_log(box), "");
    other.release();
    for (int i = 0; i < 400 && op_log(box).find("[Begin].\r\n") == std::string::npos; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_NE(op_log(box), "");

    // The result record tries three times, then is appended all the same.
    other.take();
    auto started = std::chrono::steady_clock::now();
    // The parser gets an empty file (each time it opens it) until the run fails.
    for (int i = 0; i < 400 && !process.wait_for_output(FAILED, 50); i++) {
        int fd = open(held.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            close(fd);
        }
    }
    RunResult r = process.wait();
    auto took = std::chrono::steady_clock::now() - started;
    other.release();

    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(r.out.ends_with(FAILED + LOCK_REFUSED + LOCK_REFUSED + LOCK_REFUSED)) << r.out;
    EXPECT_GE(took, std::chrono::seconds(2));
    std::vector<std::string> records = records_of(op_log(box));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[1].ends_with("[FAILED<-1>].\r\n")) << records[1];
}

TEST(OperationLogLock, ManyLoadsAtOnceKeepWholeRecords)
{
    constexpr int RUNS = 20;
    Sandbox box;
    std::vector<std::string> files;
    for (int i = 0; i < RUNS; i++) {
        files.push_back(box.dir() + "/t" + std::to_string(i) + ".ini");
        fs::copy_file(MINIMAL, files.back());
    }
    std::vector<SimProcess> processes;
    for (const std::string &file : files) {
        processes.push_back(box.start({"zorvi0", "-f", file}));
    }
    for (SimProcess &process : processes) {
        process.write_input(ANSWERS);
    }
    for (SimProcess &process : processes) {
        EXPECT_EQ(process.wait().exit_status, 0);
    }

    const std::regex record(
        R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[zorviconfig zorvi0 -f ([^\]]*)\] )"
        R"((\[Begin\]\.|\[\d\d:\d\d:\d\d\] \[SUCCEED\]\.)\r\n)");
    std::map<std::string, std::vector<bool>> seen;  // file -> begin?, in log order
    for (const std::string &line : records_of(op_log(box))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << line;
        seen[m[1]].push_back(m[2] == "[Begin].");
    }
    ASSERT_EQ(seen.size(), files.size());
    for (const std::string &file : files) {
        EXPECT_EQ(seen[file], (std::vector<bool>{true, false})) << file;
    }
    EXPECT_EQ(box.syslog().size(), files.size());
}

TEST(OperationLogFaults, ManagementFolderCannotBeCreated)
{
    Sandbox box;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"zorvi0"}, {"zorvi0", "-f", MINIMAL}}) {
        RunResult r = box.run(args, answered(ANSWERS, true));
        EXPECT_EQ(r.out, "Operation Log file folder[/opt/zorvi/] can not be created, errno:30.\n");
        EXPECT_EQ(r.exit_status, 255);
    }
    EXPECT_EQ(box.opens(), 0);
}

TEST(OperationLogFaults, LocksFolderIsARegularFile)
{
    Sandbox box;
    ASSERT_EQ(load(box).exit_status, 0);
    const std::string before = op_log(box);
    fs::remove_all(box.opt("zorvi/locks"));
    write_file(box.opt("zorvi/locks"), "");
    fs::remove(box.dir() + "/cards/zorvi0/template.bin");

    RunResult r = load(box);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(r.out.ends_with("Get operation log file [0] lock failed(-9).\n" + FAILED)) << r.out;
    EXPECT_EQ(op_log(box), before);
    EXPECT_FALSE(box.card_template().has_value());
}

TEST(OperationLogFaults, LogDeletedDuringTheRun)
{
    Sandbox box;
    SimProcess process = box.start({"zorvi0", "-f", MINIMAL});
    ASSERT_TRUE(process.wait_for_output("Enter [yes] to continue:\n"));
    ASSERT_TRUE(fs::remove(box.opt(LOG)));
    process.write_input(ANSWERS);
    RunResult r = process.wait();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, load_prompts(MINIMAL) + SUCCEEDED);
    EXPECT_FALSE(fs::exists(box.opt(LOG)));  // not made again
    EXPECT_EQ(box.syslog().size(), 1u);      // the system-log copy still goes out
}

TEST(OperationLogFaults, FullFileSystemLosesNothingAlreadyLogged)
{
    // Earlier logs that end at a page boundary and a little before it, so a
    // new record does not fit at all, or fits only in part.
    for (size_t earlier_size : {4096u, 4096u - 40u}) {
        SCOPED_TRACE(earlier_size);
        Sandbox box;
        const std::string opt = box.opt();
        if (mount("zorvitest", opt.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs";
        }
        struct Unmount {
            std::string path;
            ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
        } unmount{opt};
        for (const char *folder : {"zorvi/operation_logs", "zorvi/fwlog", "zorvi/locks"}) {
            fs::create_directories(box.opt(folder));
            fs::permissions(box.opt(folder), fs::perms::owner_all);
        }
        fs::permissions(box.opt("zorvi"), fs::perms::owner_all);
        write_file(box.opt("zorvi/locks/op_log"), "");
        std::string earlier;
        while (earlier.size() < earlier_size) {
            earlier += EARLIER;
        }
        earlier.resize(earlier_size - 2);
        earlier += "\r\n";
        write_file(box.opt(LOG), earlier);
        int filler = open((opt + "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        while (filler >= 0 && write(filler, block.data(), block.size()) > 0) {
        }
        close(filler);

        RunResult r = load(box);
        EXPECT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(r.out, load_prompts(MINIMAL) + "Error data size write to file.\n" +
                             "Error data size write to file.\n" + SUCCEEDED);
        EXPECT_EQ(op_log(box), earlier);
        EXPECT_TRUE(box.card_template().has_value());
    }
}

}  // namespace
