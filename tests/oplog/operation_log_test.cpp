// Failures of the lock files and the log file that the tool's fixed paths
// cannot reach: stale handles, paths too long, a failed rename, records that
// must never spill past their 1024 bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "oplog/management.h"
#include "oplog/operation_log.h"
#include "tests/harness/test_util.h"
#include "tests/template/case_text.h"

namespace {

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

// A folder that cannot be made is a load's case (oplog.cases); only a path
// beyond its buffer, which the tool's fixed folder never is, is left here.
TEST(OperationLog, AFolderBeyondItsBufferIsRefused)
{
    const std::string folder = "/" + std::string(255, 'a');
    g_op_log[0] = '\0';
    EXPECT_EQ(status_and_output([&] { return init_operation_log(folder.c_str()); }),
              "-6|Sprintf_s operation log_dir failed.\n");
    EXPECT_EQ(g_op_log[0], '\0');  // appends stay off
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

// The record with its time is a load's case (oplog.cases); without a time
// and at the edges of its buffer it is only reached here.
TEST(RollbackRecord, WithoutATimeAndAtItsBounds)
{
    for (const zorvitest::CaseLine &line : zorvitest::case_table(ZORVI_ROLLBACK_CASES)) {
        SCOPED_TRACE(zorvitest::trace(ZORVI_ROLLBACK_CASES, line));
        const std::string path(std::stoul(line.words.at(0)), 'p');
        char record[OP_LOG_RECORD_SIZE + 8];
        std::memset(record, 'Q', sizeof(record));
        EXPECT_EQ(
            status_and_output([&] { return get_rollback_log(nullptr, path.c_str(), record); }),
            line.words.at(1) + "|" + line.words.at(2));
        if (line.words[1] == "0") {
            EXPECT_EQ(std::string(record),
                      "The old operation log has been backed up to " + path + ".\r\n");
        }
        EXPECT_EQ(std::string(record + OP_LOG_RECORD_SIZE, 8), std::string(8, 'Q'));
    }
}

}  // namespace
