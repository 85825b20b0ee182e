// Failures of the lock files and the log file that the tool's fixed paths
// cannot reach: stale handles, paths too long, a failed rename, records that
// must never spill past their 1024 bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "oplog/management.h"
#include "oplog/operation_log.h"
#include "tests/harness/test_util.h"

namespace {

using zorvitest::capture_stdout;
using zorvitest::TempDir;

TEST(FileLock, StaleAndEmptyHandles)
{
    // A descriptor that is no longer open cannot be unlocked.
    const int fd = 1000;
    ASSERT_EQ(fcntl(fd, F_GETFD), -1);
    int64_t stale = fd;
    int32_t status = 0;
    EXPECT_EQ(capture_stdout([&] { status = release_file_lock(&stale); }),
              "Can not release file [1000] lock.\n");
    EXPECT_EQ(status, -1);

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
    int32_t status = 0;
    EXPECT_EQ(capture_stdout([&] { status = init_operation_log(folder.c_str()); }),
              "Sprintf_s operation log_dir failed.\n");
    EXPECT_EQ(status, -6);
    EXPECT_EQ(g_op_log[0], '\0');  // appends stay off
}

TEST(OperationLog, FailedRenameKeepsTheLog)
{
    TempDir dir;
    const std::string log = dir.file("operations.log");
    zorvitest::write_file(log, "");
    ASSERT_EQ(truncate(log.c_str(), OP_LOG_MAX_SIZE + 1LL), 0);
    ASSERT_LT(log.size(), sizeof(g_op_log));
    std::strcpy(g_op_log, log.c_str());
    char rollback[OP_LOG_RECORD_SIZE] = {};
    int32_t status = 0;
    EXPECT_EQ(capture_stdout([&] {
                  status = rollback_operation_log(dir.file("missing/operations.log.old").c_str(),
                                                  rollback);
              }),
              "Log file roolback failed.\n");
    EXPECT_EQ(status, -9);
    struct stat info = {};
    ASSERT_EQ(stat(log.c_str(), &info), 0);
    EXPECT_EQ(static_cast<uint64_t>(info.st_size), OP_LOG_MAX_SIZE + 1ULL);
    g_op_log[0] = '\0';
}

// The record with its time is a load's case (oplog.cases); without a time
// and at the edges of its buffer it is only reached here.
TEST(RollbackRecord, WithoutATimeAndAtItsBounds)
{
    const std::string backed_up = "The old operation log has been backed up to ";
    const size_t room = OP_LOG_RECORD_SIZE - backed_up.size() - 1;  // less the closing "."
    struct Case {
        size_t path_length;
        int32_t status;
        std::string out;
    } cases[] = {
        {2, 0, ""},
        {room - 3, 0, ""},  // 1021 characters, CR LF and the NUL
        {room - 2, -6, "Snprintf end of rollback log failed.\n"},
        {room - 1, -6, "Snprintf end of rollback log failed.\n"},
        {room, -6, "Snprintf rollback log failed.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path_length);
        const std::string path(c.path_length, 'p');
        char record[OP_LOG_RECORD_SIZE + 8];
        std::memset(record, 'Q', sizeof(record));
        int32_t status = 0;
        EXPECT_EQ(capture_stdout([&] { status = get_rollback_log(nullptr, path.c_str(), record); }),
                  c.out);
        EXPECT_EQ(status, c.status);
        if (status == 0) {
            EXPECT_EQ(std::string(record), backed_up + path + ".\r\n");
        }
        EXPECT_EQ(std::string(record + OP_LOG_RECORD_SIZE, 8), std::string(8, 'Q'));
    }
}

}  // namespace
