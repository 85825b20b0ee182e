// Failures of the lock files, the log file and the run records that a load
// on the simulated card does not reach: stale handles, a failed rename,
// records at the edges of their 1024-byte buffers (the result word, the
// command-line prefix, the longest begin records).
// Run on the simulated machine (see CMakeLists.txt), whose /opt is the
// test's own.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "oplog/management.h"
#include "oplog/operation_log.h"
#include "oplog/run_records.h"
#include "tests/harness/test_util.h"
#include "tests/template/case_text.h"

namespace {

using zorvitest::capture_stdout;
using zorvitest::status_and_output;

TEST(FileLock, StaleAndEmptyHandles)
{
    // A descriptor that is no longer open cannot be unlocked.
    const int fd = 1000;
    ASSERT_EQ(fcntl(fd, F_GETFD), -1);
    int64_t stale = fd;
    EXPECT_EQ(status_and_output([&] { return release_file_lock(&stale); }),
              "-1|Can not release file [1000] lock.\n");

    // A handle of 0 means no lock was taken: standard input stays open.
    int64_t none = 0;
    release_tool_lock(&none);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
}

// The root folder, however it is written, is a real folder root owns.
TEST(TrustedFolder, TheRootAsSlashes)
{
    EXPECT_EQ(ensure_folder("/"), 0);
    EXPECT_EQ(ensure_folder("//"), 0);
}

TEST(OperationLog, FailedRenameKeepsTheLog)
{
    const zorvitest::TempDir dir;
    const std::string log = dir.file("operations.log");
    zorvitest::write_file(log, "");
    ASSERT_EQ(truncate(log.c_str(), OP_LOG_MAX_SIZE + 1LL), 0);
    ASSERT_LT(log.size(), sizeof(g_op_log));
    std::strcpy(g_op_log, log.c_str());
    char rollback[OP_LOG_RECORD_SIZE] = {};
    const std::string moved = dir.file("missing/operations.log.old");
    EXPECT_EQ(status_and_output([&] { return rollback_operation_log(moved.c_str(), rollback); }),
              "-9|Log file roolback failed.\n");
    EXPECT_EQ(std::filesystem::file_size(log), OP_LOG_MAX_SIZE + 1ULL);
    g_op_log[0] = '\0';
}

// The words of a load's end and FAILED<status> are oplog.cases'; the two
// statuses no load ends with and the record's bounds are only reached here.
TEST(ResultWord, StatusesNoLoadEndsWithAndTheRecordBounds)
{
    // The codes as the log's readers know them, not the program's names for them.
    for (const auto &[status, word] :
         {std::pair{-254, "[CANCELED]."}, std::pair{-255, "[KILLED]."}}) {
        char record[OP_LOG_RECORD_SIZE] = "prefix ";
        EXPECT_EQ(set_cmd_result_string(status, record, 7), static_cast<int32_t>(strlen(word)));
        EXPECT_EQ(std::string(record), std::string("prefix ") + word);
    }

    // The word must fit before the record's last byte.
    char record[OP_LOG_RECORD_SIZE + 8];
    memset(record, 'Q', sizeof(record));
    EXPECT_EQ(set_cmd_result_string(0, record, 1013), 10);
    EXPECT_EQ(std::string(record + 1013), "[SUCCEED].");
    EXPECT_EQ(set_cmd_result_string(0, record, 1014), -1);
    EXPECT_EQ(set_cmd_result_string(0, record, 1023), -1);
    EXPECT_EQ(std::string(record + OP_LOG_RECORD_SIZE, 8), std::string(8, 'Q'));
}

TEST(InputPrefix, CommandLinesBeyondTheBuffer)
{
    zorvitest::each_row(ZORVI_INPUT_CASES, [](const std::vector<std::string> &words) {
        std::vector<const char *> argv;
        for (size_t i = 2; i < words.size(); ++i) {
            argv.push_back(words[i].c_str());
        }
        EXPECT_EQ(capture_stdout(
                      [&] { record_user_input(static_cast<uint32_t>(argv.size()), argv.data()); }),
                  words.at(0));
        const size_t length = std::stoul(words.at(1));
        EXPECT_EQ(strlen(g_input_buf), length);
        if (length > 0) {
            // A prefix that is not cut closes with "] ".
            EXPECT_EQ(g_input_buf[length - (length < OP_LOG_RECORD_SIZE - 1 ? 3 : 1)], 'b');
        }
    });
    record_user_input(1, nullptr);
    EXPECT_EQ(std::string(g_input_buf), "");
}

// Prefix = 22 (time) + 3 + the line; the line is "a... b...". A begin record
// of 1023 characters leaves no room for the end time, and the result record
// is given up; one character more and the begin record is too.
TEST(RunRecords, LongestPrefixes)
{
    EXPECT_EQ(init_operation_log("/opt/zorvi/"), 0);
    const std::string log_path = "/opt/zorvi/operation_logs/operations.log";
    for (const auto &[line, begun] : {std::pair{988u, "0|Snprintf result_str offset failed.\n"},
                                      std::pair{989u, "-1|Snprintf operation log failed.\n"}}) {
        const std::string a500(500, 'a');
        const std::string rest(line - 501, 'b');
        const char *argv[] = {a500.c_str(), rest.c_str()};
        const size_t before = zorvitest::read_file(log_path).size();
        EXPECT_EQ(status_and_output([&] {
                      record_user_input(2, argv);
                      const int32_t status = write_begin_log();
                      write_result_log(7);
                      return status;
                  }),
                  begun);
        EXPECT_EQ(strlen(g_input_buf), line + 25);
        EXPECT_EQ(zorvitest::read_file(log_path).substr(before),
                  line == 988 ? std::string(g_input_buf) + "[Begin].\r\n" : "");
        // The lock is free again (a second open file would conflict with it).
        int64_t handle = 0;
        EXPECT_EQ(get_file_lock("/opt/zorvi/locks/op_log", 0, &handle), 0);
        EXPECT_EQ(release_file_lock(&handle), 0);
    }
}

}  // namespace
