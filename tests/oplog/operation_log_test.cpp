// Folders, lock files and the operation log file, in scratch folders.
#include <sys/file.h>
#include <poll.h>

#include <cerrno>

#include "oplog/management.h"
#include "oplog/operation_log.h"
#include "scratch.h"

namespace {

using oplogtest::ScratchDir;
using oplogtest::exists;
using oplogtest::mode_of;
using oplogtest::read_file;
using oplogtest::write_file;

TEST(CreateFolder, CreatesOneLevelWithOwnerOnlyMode)
{
    ScratchDir dir;
    EXPECT_EQ(create_folder((dir / "made").c_str()), 0);
    EXPECT_EQ(mode_of(dir / "made"), 0700u);
    EXPECT_EQ(create_folder((dir / "made").c_str()), 0);  // already there
    errno = 0;
    EXPECT_EQ(create_folder((dir / "no/parent").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(exists(dir / "no"));
    EXPECT_EQ(create_folder(nullptr), -6);
}

TEST(FileLock, SecondProcessIsRefusedOrWaits)
{
    ScratchDir dir;
    const std::string path = dir / "op_log";
    int64_t handle = 0;
    ASSERT_EQ(get_file_lock(path.c_str(), 1, &handle), 0);
    EXPECT_GT(handle, 0);
    EXPECT_EQ(mode_of(path), 0700u);
    EXPECT_EQ(read_file(path), "");

    // Without waiting: refused at once, with the message.
    oplogtest::ChildRun refused = oplogtest::run_child([&] {
        int64_t other = 0;
        return -get_file_lock(path.c_str(), 0, &other);
    });
    EXPECT_EQ(refused.out, "Can not get file lock (-1).\n");
    EXPECT_EQ(refused.status, 1);

    // Waiting: the child gets the lock only once it is released here.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int64_t other = 0;
        int32_t ret = get_file_lock(path.c_str(), 1, &other);
        (void)!write(ready[1], ret == 0 ? "y" : "n", 1);
        _exit(0);
    }
    close(ready[1]);
    struct pollfd wait_for = {ready[0], POLLIN, 0};
    EXPECT_EQ(poll(&wait_for, 1, 300), 0) << "lock taken while still held";
    EXPECT_EQ(release_file_lock(&handle), 0);
    char got = 0;
    EXPECT_EQ(read(ready[0], &got, 1), 1);
    EXPECT_EQ(got, 'y');
    close(ready[0]);
    waitpid(pid, nullptr, 0);

    // The file stays and is reused.
    EXPECT_TRUE(exists(path));
    ASSERT_EQ(get_file_lock(path.c_str(), 0, &handle), 0);
    EXPECT_EQ(release_file_lock(&handle), 0);
}

TEST(FileLock, FailuresAndHandles)
{
    ScratchDir dir;
    int64_t handle = 42;
    EXPECT_EQ(get_file_lock((dir / "missing/op_log").c_str(), 1, &handle), -9);
    EXPECT_EQ(handle, 42);  // left as it was
    EXPECT_EQ(get_file_lock(nullptr, 1, &handle), -6);
    EXPECT_EQ(get_file_lock((dir / "x").c_str(), 1, nullptr), -6);

    int64_t negative = -1;
    EXPECT_EQ(release_file_lock(nullptr), -6);
    EXPECT_EQ(release_file_lock(&negative), -6);

    // A descriptor that is no longer open cannot be unlocked.
    const int fd = 1000;
    ASSERT_EQ(fcntl(fd, F_GETFD), -1);
    int64_t stale = fd;
    testing::internal::CaptureStdout();
    EXPECT_EQ(release_file_lock(&stale), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Can not release file [" + std::to_string(fd) + "] lock.\n");

    // A handle of 0 means no lock was taken: standard input stays open.
    int64_t none = 0;
    release_tool_lock(&none);
    release_tool_lock(nullptr);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
}

class OperationLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_op_log[0] = '\0';
        folder_ = dir_.path() + "/zorvi/";
        logs_ = dir_.path() + "/zorvi/operation_logs";
        log_ = logs_ + "/operations.log";
        old_ = log_ + ".old";
    }
    void TearDown() override { g_op_log[0] = '\0'; }

    // Leaves a log of `size` bytes (sparse) from an earlier run.
    void earlier_log(uint64_t size)
    {
        ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(logs_.c_str(), 0700), 0);
        int fd = open(log_.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
        close(fd);
    }
    int32_t init(std::string *out = nullptr)
    {
        testing::internal::CaptureStdout();
        int32_t status = init_operation_log(folder_.c_str());
        std::string printed = testing::internal::GetCapturedStdout();
        if (out != nullptr) {
            *out = printed;
        }
        return status;
    }

    ScratchDir dir_;
    std::string folder_, logs_, log_, old_;
};

TEST_F(OperationLogTest, FirstStartMakesFoldersAndEmptyLog)
{
    std::string out;
    ASSERT_EQ(init(&out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(mode_of(folder_), 0700u);
    EXPECT_EQ(mode_of(logs_), 0700u);
    EXPECT_EQ(std::string(g_op_log), log_);
    EXPECT_TRUE(exists(log_));
    EXPECT_EQ(read_file(log_), "");
    EXPECT_FALSE(exists(old_));

    // Start-up runs once per process.
    write_file(log_, "kept\r\n");
    EXPECT_EQ(init_operation_log(folder_.c_str()), -6);
    EXPECT_EQ(init_operation_log(nullptr), -6);
    EXPECT_EQ(std::string(g_op_log), log_);
    EXPECT_EQ(read_file(log_), "kept\r\n");
}

TEST_F(OperationLogTest, StartUpFailures)
{
    // A management folder whose parent is missing.
    folder_ = dir_ / "no/zorvi/";
    std::string out;
    EXPECT_EQ(init(&out), -1);
    EXPECT_EQ(out, "Operation Log file folder[" + folder_ + "] can not be created, errno:2.\n");
    EXPECT_EQ(g_op_log[0], '\0');

    // A folder path that does not fit.
    folder_ = "/" + std::string(255, 'a');
    EXPECT_EQ(init(&out), -6);
    EXPECT_EQ(out, "Sprintf_s operation log_dir failed.\n");
}

TEST_F(OperationLogTest, FailedRenameKeepsTheLog)
{
    earlier_log(OP_LOG_MAX_SIZE + 1ULL);
    ASSERT_EQ(sprintf(g_op_log, "%s", log_.c_str()), static_cast<int>(log_.size()));
    char rollback[OP_LOG_RECORD_SIZE] = {};
    char removed[OP_LOG_RECORD_SIZE] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(rollback_operation_log((dir_ / "missing/operations.log.old").c_str(), rollback,
                                     removed),
              -9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Log file roolback failed.\n");
    struct stat info = {};
    ASSERT_EQ(stat(log_.c_str(), &info), 0);
    EXPECT_EQ(static_cast<uint64_t>(info.st_size), OP_LOG_MAX_SIZE + 1ULL);

    int32_t flag = 0;
    EXPECT_EQ(backup_log_file(nullptr, old_.c_str(), 1, &flag), -6);
    EXPECT_EQ(backup_log_file(log_.c_str(), nullptr, 1, &flag), -6);
    EXPECT_EQ(backup_log_file(log_.c_str(), old_.c_str(), 0, &flag), -6);
}

TEST_F(OperationLogTest, AppendsWholeRecordsAndDropsThemOnceTheLogIsGone)
{
    testing::internal::CaptureStdout();
    append_operation_log("before start-up\r\n");  // no path yet: nothing
    ASSERT_EQ(init_operation_log(folder_.c_str()), 0);
    append_operation_log("one\r\n");
    append_operation_log("two 100% \r\n");
    append_operation_log(nullptr);
    EXPECT_EQ(read_file(log_), "one\r\ntwo 100% \r\n");

    ASSERT_EQ(unlink(log_.c_str()), 0);
    append_operation_log("three\r\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(exists(log_));  // not made again
}

TEST(RollbackRecord, Format)
{
    struct tm when = {};
    when.tm_year = 2024 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 5;
    when.tm_hour = 4;
    when.tm_min = 7;
    when.tm_sec = 9;
    char record[OP_LOG_RECORD_SIZE + 8];
    memset(record, 'Q', sizeof(record));
    ASSERT_EQ(get_rollback_log(&when, "/b/operations.log.old", record), 0);
    EXPECT_STREQ(record,
                 "[2024-03-05 04:07:09] The old operation log has been backed up to "
                 "/b/operations.log.old.\r\n");

    when.tm_year = 12345 - 1900;  // the year is written in full
    ASSERT_EQ(get_rollback_log(&when, "/b", record), 0);
    EXPECT_STREQ(record, "[12345-03-05 04:07:09] The old operation log has been backed up to /b.\r\n");

    ASSERT_EQ(get_rollback_log(nullptr, "/b", record), 0);
    EXPECT_STREQ(record, "The old operation log has been backed up to /b.\r\n");
}

TEST(RollbackRecord, TooLongForTheRecord)
{
    const std::string text = "The old operation log has been backed up to .";
    struct Case {
        size_t path_length;
        int32_t status;
        const char *message;
    } cases[] = {
        {OP_LOG_RECORD_SIZE - 3 - text.size(), 0, ""},  // 1021 + CR LF = 1023
        {OP_LOG_RECORD_SIZE - 2 - text.size(), -6, "Snprintf end of rollback log failed.\n"},
        {OP_LOG_RECORD_SIZE - 1 - text.size(), -6, "Snprintf end of rollback log failed.\n"},
        {OP_LOG_RECORD_SIZE - text.size(), -6, "Snprintf rollback log failed.\n"},
    };
    for (const Case &c : cases) {
        std::string path(c.path_length, 'p');
        char record[OP_LOG_RECORD_SIZE + 8];
        memset(record, 'Q', sizeof(record));
        testing::internal::CaptureStdout();
        EXPECT_EQ(get_rollback_log(nullptr, path.c_str(), record), c.status) << c.path_length;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.path_length;
        for (size_t i = OP_LOG_RECORD_SIZE; i < sizeof(record); i++) {
            EXPECT_EQ(record[i], 'Q') << "byte " << i;
        }
    }
}

}  // namespace
