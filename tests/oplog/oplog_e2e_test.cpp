// The operation log as the real zorviconfig leaves it on the simulated
// machine: the management area, the records of a load, rollover, the lock
// shared with other processes, and faults that must lose nothing.
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <syslog.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "scratch.h"
#include "tests/harness/sandbox.h"

namespace {

namespace fs = std::filesystem;
using oplogtest::mode_of;
using oplogtest::read_file;
using oplogtest::write_file;
using zorvitest::RunOptions;
using zorvitest::RunResult;
using zorvitest::Sandbox;
using zorvitest::SimProcess;

const std::string MINIMAL = ZORVI_EXAMPLES_DIR "/minimal.ini";
const std::string ANSWERS = "yes\nagree\n";
const std::string FAILED = "Operation failed.\n";
const std::string SUCCEEDED =
    "Succeed to configure device zorvi0\nPlease reboot OS for the new configure to take effect\n";
const std::string LOCK_REFUSED = "Can not get file lock (-1).\n";
const std::string LOG = "zorvi/operation_logs/operations.log";
const std::string OLD_LOG = "zorvi/operation_logs/operations.log.old";

std::string escaped(const std::string &text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::string op_log(const Sandbox &box) { return read_file(box.opt(LOG)); }

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

// A run's records, with the times that must fall inside the run.
struct RunWindow {
    time_t before;
    time_t after;
};

RunWindow window_of(const std::function<void()> &run)
{
    RunWindow w{time(nullptr), 0};
    run();
    w.after = time(nullptr);
    return w;
}

void expect_stamp_within(const std::smatch &m, size_t first, const RunWindow &w)
{
    struct tm when = {};
    when.tm_year = std::stoi(m[first]) - 1900;
    when.tm_mon = std::stoi(m[first + 1]) - 1;
    when.tm_mday = std::stoi(m[first + 2]);
    when.tm_hour = std::stoi(m[first + 3]);
    when.tm_min = std::stoi(m[first + 4]);
    when.tm_sec = std::stoi(m[first + 5]);
    when.tm_isdst = -1;
    time_t t = mktime(&when);
    EXPECT_GE(t, w.before);
    EXPECT_LE(t, w.after);
}

void expect_clock_within(const std::string &hhmmss, const RunWindow &w)
{
    for (time_t t = w.before; t <= w.after; t++) {
        struct tm local = {};
        localtime_r(&t, &local);
        char text[16];
        snprintf(text, sizeof(text), "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
        if (hhmmss == text) {
            return;
        }
    }
    ADD_FAILURE() << "end time " << hhmmss << " outside the run";
}

const std::string STAMP = R"(\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\] )";

// Checks that `log` holds exactly the begin and result records of one load
// of `command_line` that ended with `word`.
void expect_load_records(const std::string &log, const std::string &command_line,
                         const std::string &word, const RunWindow &w)
{
    const std::string prefix = STAMP + R"(\[)" + escaped(command_line) + R"(\] )";
    const std::regex pattern(prefix + R"(\[Begin\]\.\r\n)" + prefix +
                             R"(\[(\d\d:\d\d:\d\d)\] )" + escaped(word) + "\r\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(log, m, pattern)) << log;
    expect_stamp_within(m, 1, w);
    // Both records carry the same start time.
    for (size_t i = 1; i <= 6; i++) {
        EXPECT_EQ(m[i], m[i + 6]);
    }
    expect_clock_within(m[13], w);
}

RunOptions no_input()
{
    RunOptions options;
    options.no_input = true;
    return options;
}

RunOptions answered_with(const std::string &input, bool readonly_opt = false)
{
    RunOptions options;
    options.input = input;
    options.readonly_opt = readonly_opt;
    return options;
}

RunResult load(Sandbox &box, const std::string &file = MINIMAL)
{
    return box.run({"zorvi0", "-f", file}, answered_with(ANSWERS));
}

bool stored(const Sandbox &box)
{
    return box.card_template().has_value();
}

TEST(ManagementArea, SuccessfulLoadLeavesBeginAndResultRecords)
{
    Sandbox box;
    RunResult r;
    RunWindow w = window_of([&] { r = load(box); });
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find(SUCCEEDED), std::string::npos);

    for (const char *folder : {"zorvi", "zorvi/operation_logs", "zorvi/fwlog", "zorvi/locks"}) {
        EXPECT_EQ(mode_of(box.opt(folder)), 0700u) << folder;
    }
    EXPECT_EQ(mode_of(box.opt("zorvi/locks/op_log")), 0700u);
    EXPECT_EQ(read_file(box.opt("zorvi/locks/op_log")), "");
    EXPECT_FALSE(fs::exists(box.opt(OLD_LOG)));

    const std::string log = op_log(box);
    expect_load_records(log, "zorviconfig zorvi0 -f " + MINIMAL, "[SUCCEED].", w);

    // The result record, without its line end, also goes to the system log.
    std::vector<zorvitest::SyslogEntry> entries = box.syslog();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].identity, "zorviadm");
    EXPECT_EQ(entries[0].option, LOG_PID | LOG_CONS);
    EXPECT_EQ(entries[0].facility, LOG_USER);
    EXPECT_EQ(entries[0].priority, LOG_INFO);
    std::vector<std::string> records = records_of(log);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(entries[0].message + "\r\n", records[1]);
}

TEST(ManagementArea, DisplayAndRefusalWriteNoRecord)
{
    Sandbox box;
    RunResult display = box.run({"zorvi0"}, no_input());
    EXPECT_EQ(display.exit_status, 0);
    for (const char *folder : {"zorvi", "zorvi/operation_logs", "zorvi/fwlog"}) {
        EXPECT_EQ(mode_of(box.opt(folder)), 0700u) << folder;
    }
    EXPECT_TRUE(fs::exists(box.opt(LOG)));
    EXPECT_EQ(op_log(box), "");
    EXPECT_FALSE(fs::exists(box.opt("zorvi/locks")));  // no lock was needed

    for (const char *input : {"no\n", "yes\nnope\n", ""}) {
        RunResult refused = box.run({"zorvi0", "-f", MINIMAL}, answered_with(input));
        EXPECT_EQ(refused.exit_status, 1);
    }
    EXPECT_EQ(op_log(box), "");
    EXPECT_TRUE(box.syslog().empty());
}

TEST(ManagementArea, FailedLoadsRecordTheFailingStatus)
{
    struct Case {
        const char *what;
        std::string file;
        uint8_t store_status;
        std::string word;
    } cases[] = {
        {"template missing", "/nonexistent/t.ini", 0, "[FAILED<-1>]."},
        {"store refused by the card", MINIMAL, 5, "[FAILED<5>]."},
        {"store refused with 255", MINIMAL, 255, "[FAILED<255>]."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        box.answer_status("store", c.store_status);
        RunResult r;
        RunWindow w = window_of([&] { r = load(box, c.file); });
        EXPECT_EQ(r.exit_status, 1);
        ASSERT_GE(r.out.size(), FAILED.size());
        EXPECT_EQ(r.out.substr(r.out.size() - FAILED.size()), FAILED);
        const std::string log = op_log(box);
        expect_load_records(log, "zorviconfig zorvi0 -f " + c.file, c.word, w);
        std::vector<zorvitest::SyslogEntry> entries = box.syslog();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].message + "\r\n", records_of(log).back());
    }
}

TEST(ManagementArea, PercentSignsReachTheLogsUnchanged)
{
    Sandbox box;
    const std::string file = box.dir() + "/100%s%n%d.ini";
    fs::copy_file(MINIMAL, file);
    RunResult r;
    RunWindow w = window_of([&] { r = load(box, file); });
    ASSERT_EQ(r.exit_status, 0) << r.out;
    expect_load_records(op_log(box), "zorviconfig zorvi0 -f " + file, "[SUCCEED].", w);
    std::vector<zorvitest::SyslogEntry> entries = box.syslog();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].message.find("[zorviconfig zorvi0 -f " + file + "] "), std::string::npos)
        << entries[0].message;
}

TEST(ManagementArea, ArgumentLengthLimit)
{
    Sandbox box;
    // Template paths of exactly 510 and 511 characters.
    std::string folder = box.dir();
    while (folder.size() < 400) {
        folder += "/" + std::string(std::min<size_t>(200, 400 - folder.size()), 'd');
    }
    fs::create_directories(folder);
    const std::string base = folder + "/";
    const std::string path510 = base + std::string(510 - base.size(), 'f');
    const std::string path511 = path510 + "g";
    ASSERT_EQ(path510.size(), 510u);
    fs::copy_file(MINIMAL, path510);
    fs::copy_file(MINIMAL, path511);

    RunResult r;
    RunWindow w = window_of([&] { r = load(box, path510); });
    ASSERT_EQ(r.exit_status, 0) << r.out;
    expect_load_records(op_log(box), "zorviconfig zorvi0 -f " + path510, "[SUCCEED].", w);

    fs::remove(box.opt(LOG));
    fs::remove_all(box.opt("zorvi"));
    r = load(box, path511);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Snprintf user input string failed.\n", 0), 0u) << r.out;
    // No prefix at all: the begin record is bare, the result starts with the end time.
    EXPECT_TRUE(std::regex_match(
        op_log(box), std::regex(R"(\[Begin\]\.\r\n\[\d\d:\d\d:\d\d\] \[SUCCEED\]\.\r\n)")))
        << op_log(box);
}

class Rollover : public ::testing::Test {
protected:
    // An earlier log of `size` bytes (sparse), and an older backup.
    void earlier(uint64_t size)
    {
        fs::create_directories(box_.opt("zorvi/operation_logs"));
        write_file(box_.opt(OLD_LOG), "older backup\r\n");
        int fd = open(box_.opt(LOG).c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const std::string first = "[2020-01-01 00:00:00] [zorviconfig zorvi0 -f x] [Begin].\r\n";
        ASSERT_EQ(write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
        close(fd);
    }
    uint64_t size_of(const std::string &relative)
    {
        return fs::file_size(box_.opt(relative));
    }
    std::string head_of(const std::string &relative, size_t length)
    {
        std::string text(length, '\0');
        std::ifstream in(box_.opt(relative), std::ios::binary);
        in.read(text.data(), static_cast<std::streamsize>(length));
        text.resize(static_cast<size_t>(in.gcount()));
        return text;
    }
    const std::regex rollback_{STAMP + R"(The old operation log has been backed up to )" +
                               R"(/opt/zorvi/operation_logs/operations\.log\.old\.\r\n)"};
    Sandbox box_;
};

TEST_F(Rollover, LogAtTheLimitStays)
{
    earlier(4194304);
    RunResult r;
    RunWindow w = window_of([&] { r = load(box_); });
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(read_file(box_.opt(OLD_LOG)), "older backup\r\n");
    const std::string log = op_log(box_);
    ASSERT_GT(log.size(), 4194304u);
    EXPECT_EQ(log.rfind("[2020-01-01 00:00:00]", 0), 0u);
    expect_load_records(log.substr(4194304), "zorviconfig zorvi0 -f " + MINIMAL, "[SUCCEED].", w);
}

TEST_F(Rollover, LargerLogMovesAsideBeforeTheRunsRecords)
{
    for (uint64_t size : {4194305ULL, (1ULL << 32) + 1}) {
        SCOPED_TRACE(size);
        earlier(size);
        RunResult r;
        RunWindow w = window_of([&] { r = load(box_); });
        ASSERT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(size_of(OLD_LOG), size);  // the older backup is replaced
        EXPECT_EQ(head_of(OLD_LOG, 21), "[2020-01-01 00:00:00]");
        std::vector<std::string> records = records_of(op_log(box_));
        ASSERT_EQ(records.size(), 3u);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(records[0], m, rollback_)) << records[0];
        expect_stamp_within(m, 1, w);
        expect_load_records(records[1] + records[2], "zorviconfig zorvi0 -f " + MINIMAL,
                            "[SUCCEED].", w);
        EXPECT_EQ(box_.syslog().size(), 1u);  // the rollback record stays out of it
        fs::remove(box_.opt(OLD_LOG));
        fs::remove(box_.opt(LOG));
        fs::remove(box_.dir() + "/syslog");
    }
}

TEST_F(Rollover, DisplayRunRotatesToo)
{
    earlier(4194305);
    RunResult r = box_.run({"zorvi0"}, no_input());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(size_of(OLD_LOG), 4194305u);
    EXPECT_TRUE(std::regex_match(op_log(box_), rollback_)) << op_log(box_);
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

// A template "file" that blocks the parser until the test lets it go, so
// the test can act between the begin and the result records.
class HeldTemplate {
public:
    explicit HeldTemplate(const Sandbox &box) : path_(box.dir() + "/held.ini")
    {
        EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0);
    }
    const std::string &path() const { return path_; }
    // Gives the parser an empty file (each time it opens it) until the run
    // has failed.
    void let_go(SimProcess &process)
    {
        for (int i = 0; i < 400 && !process.wait_for_output(FAILED, 50); i++) {
            int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                close(fd);
            }
        }
    }

private:
    std::string path_;
};

bool wait_for_log(const Sandbox &box, const std::string &text)
{
    for (int i = 0; i < 400; i++) {
        if (op_log(box).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

size_t count_of(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        count++;
    }
    return count;
}

TEST(OperationLogLock, BeginWaitsAndResultGoesAheadWithoutTheLock)
{
    Sandbox box;
    ForeignLock other(box);
    HeldTemplate held(box);

    // The begin record waits for as long as another process holds the lock.
    other.take();
    SimProcess process = box.start({"zorvi0", "-f", held.path()});
    process.write_input(ANSWERS);
    ASSERT_TRUE(process.wait_for_output("Enter [agree] to continue:\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(op_log(box), "");
    other.release();
    ASSERT_TRUE(wait_for_log(box, "[Begin].\r\n"));

    // The result record tries three times, then is appended all the same.
    other.take();
    auto started = std::chrono::steady_clock::now();
    held.let_go(process);
    RunResult r = process.wait();
    auto took = std::chrono::steady_clock::now() - started;
    other.release();

    EXPECT_EQ(r.exit_status, 1);
    const std::string tail = FAILED + LOCK_REFUSED + LOCK_REFUSED + LOCK_REFUSED;
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    EXPECT_GE(took, std::chrono::seconds(2));
    std::vector<std::string> records = records_of(op_log(box));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[1].find("[FAILED<-1>].\r\n"), std::string::npos) << records[1];
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

    const std::regex record(STAMP + R"(\[zorviconfig zorvi0 -f ([^\]]*)\] )" +
                            R"((\[Begin\]\.|\[\d\d:\d\d:\d\d\] \[SUCCEED\]\.)\r\n)");
    std::map<std::string, std::vector<bool>> seen;  // file -> begin?, in log order
    for (const std::string &line : records_of(op_log(box))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << line;
        seen[m[7]].push_back(m[8] == "[Begin].");
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
        RunResult r = box.run(args, answered_with(ANSWERS, true));
        EXPECT_EQ(r.out, "Operation Log file folder[/opt/zorvi/] can not be created, errno:30.\n");
        EXPECT_EQ(r.exit_status, 255);
    }
    EXPECT_FALSE(stored(box));
}

TEST(OperationLogFaults, LocksFolderIsARegularFile)
{
    Sandbox box;
    RunResult first = load(box);
    ASSERT_EQ(first.exit_status, 0);
    const std::string before = op_log(box);
    fs::remove_all(box.opt("zorvi/locks"));
    write_file(box.opt("zorvi/locks"), "");
    box.answer_status("store", 0);
    fs::remove(box.dir() + "/cards/zorvi0/template.bin");

    RunResult r = load(box);
    EXPECT_EQ(r.exit_status, 1);
    const std::string tail = "Get operation log file [0] lock failed(-9).\n" + FAILED;
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    EXPECT_EQ(op_log(box), before);
    EXPECT_FALSE(stored(box));
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
    EXPECT_NE(r.out.find(SUCCEEDED), std::string::npos);
    EXPECT_EQ(r.out.find("operation log"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(box.opt(LOG)));  // not made again
    EXPECT_EQ(box.syslog().size(), 1u);      // the system-log copy still goes out
}

// A small file system mounted on the sandbox's /opt, unmounted on exit.
class SmallOpt {
public:
    explicit SmallOpt(const Sandbox &box) : path_(box.opt())
    {
        mounted_ = mount("zorvitest", path_.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
    }
    ~SmallOpt()
    {
        if (mounted_) {
            umount2(path_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return mounted_; }
    // Fills what is left of it.
    void fill()
    {
        int fd = open((path_ + "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        std::string block(4096, 'x');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
    }

private:
    std::string path_;
    bool mounted_ = false;
};

TEST(OperationLogFaults, FullFileSystemLosesNothingAlreadyLogged)
{
    // Earlier logs that end at a page boundary and a little before it, so a
    // new record does not fit at all, or fits only in part.
    for (size_t earlier_size : {4096u, 4096u - 40u}) {
        SCOPED_TRACE(earlier_size);
        Sandbox box;
        SmallOpt small(box);
        if (!small.mounted()) {
            GTEST_SKIP() << "cannot mount a tmpfs";
        }
        for (const char *folder : {"zorvi/operation_logs", "zorvi/fwlog", "zorvi/locks"}) {
            fs::create_directories(box.opt(folder));
            fs::permissions(box.opt(folder), fs::perms::owner_all);
        }
        fs::permissions(box.opt("zorvi"), fs::perms::owner_all);
        write_file(box.opt("zorvi/locks/op_log"), "");
        std::string earlier;
        while (earlier.size() < earlier_size) {
            earlier += "[2020-01-01 00:00:00] [zorviconfig zorvi0 -f x] [Begin].\r\n";
        }
        earlier.resize(earlier_size - 2);
        earlier += "\r\n";
        write_file(box.opt(LOG), earlier);
        small.fill();

        RunResult r = load(box);
        EXPECT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(count_of(r.out, "Error data size write to file.\n"), 2u) << r.out;
        EXPECT_EQ(op_log(box), earlier);
        EXPECT_TRUE(stored(box));
    }
}

}  // namespace
