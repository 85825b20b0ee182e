// Run records: the command-line prefix, the result words, and the begin
// and result steps against a private /opt.
#include <sys/file.h>
#include <syslog.h>

#include <climits>
#include <cstring>
#include <vector>

#include "oplog/management.h"
#include "oplog/operation_log.h"
#include "oplog/run_records.h"
#include "scratch.h"

namespace {

using oplogtest::ScratchDir;
using oplogtest::exists;
using oplogtest::mode_of;
using oplogtest::read_file;


std::string record_input(const std::vector<std::string> &args, std::string *out = nullptr)
{
    std::vector<const char *> argv;
    for (const std::string &a : args) {
        argv.push_back(a.c_str());
    }
    testing::internal::CaptureStdout();
    record_user_input(static_cast<uint32_t>(argv.size()), argv.data());
    std::string printed = testing::internal::GetCapturedStdout();
    if (out != nullptr) {
        *out = printed;
    }
    return g_input_buf;
}

TEST(ResultWord, EveryStatusAndTheRecordBounds)
{
    struct Case {
        int32_t status;
        const char *word;
    } cases[] = {
        {0, "[SUCCEED]."},
        {STATUS_CANCELED, "[CANCELED]."},
        {STATUS_KILLED, "[KILLED]."},
        {-1, "[FAILED<-1>]."},
        {-253, "[FAILED<-253>]."},
        {255, "[FAILED<255>]."},
        {INT32_MIN, "[FAILED<-2147483648>]."},
    };
    for (const Case &c : cases) {
        char record[OP_LOG_RECORD_SIZE] = "prefix ";
        EXPECT_EQ(set_cmd_result_string(c.status, record, 7), static_cast<int32_t>(strlen(c.word)));
        EXPECT_EQ(std::string(record), std::string("prefix ") + c.word);
    }

    // The word must fit before the record's last byte.
    char record[OP_LOG_RECORD_SIZE + 8];
    memset(record, 'Q', sizeof(record));
    EXPECT_EQ(set_cmd_result_string(0, record, 1013), 10);
    EXPECT_EQ(std::string(record + 1013), "[SUCCEED].");
    EXPECT_EQ(set_cmd_result_string(0, record, 1014), -1);
    EXPECT_EQ(set_cmd_result_string(0, record, 1023), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_cmd_result_string(0, record, 1024), -6);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "The offset(1024) is more than result string max length(1024).\n");
    for (size_t i = OP_LOG_RECORD_SIZE; i < sizeof(record); i++) {
        EXPECT_EQ(record[i], 'Q') << "byte " << i;
    }
}

TEST(InputPrefix, ArgumentLimitAndCut)
{
    std::string out;
    const std::string arg510(510, 'a');
    std::string prefix = record_input({"zorviconfig", arg510}, &out);
    EXPECT_EQ(out, "");
    EXPECT_NE(prefix.find("[zorviconfig " + arg510 + "] "), std::string::npos);

    prefix = record_input({"zorviconfig", arg510 + "a"}, &out);
    EXPECT_EQ(out, "Snprintf user input string failed.\n");
    EXPECT_EQ(prefix, "");

    // A command line that does not fit its 1024-byte buffer.
    prefix = record_input({std::string(400, 'a'), std::string(400, 'b'), std::string(400, 'c')}, &out);
    EXPECT_EQ(out, "Snprintf user input string failed.\n");
    EXPECT_EQ(prefix, "");

    // One that fits the line but not the prefix is kept, cut.
    prefix = record_input({std::string(500, 'a'), std::string(499, 'b')}, &out);
    EXPECT_EQ(out, "Snprintf input operation log failed.\n");
    EXPECT_EQ(prefix.size(), 1023u);
    EXPECT_EQ(prefix.back(), 'b');

    prefix = record_input({}, &out);
    EXPECT_EQ(prefix, "");
    record_user_input(1, nullptr);
    EXPECT_EQ(std::string(g_input_buf), "");
}

TEST(Syslog, MissingArgumentsAreRefused)
{
    testing::internal::CaptureStdout();
    record_syslog(nullptr, LOG_INFO, "m");
    record_syslog("zorviadm", LOG_INFO, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Invalid parameter [record_syslog].\nInvalid parameter [record_syslog].\n");
}

// The tool's fixed paths, seen from inside the private /opt.
constexpr const char *LOCKS = "/opt/zorvi/locks";
constexpr const char *LOCK_FILE = "/opt/zorvi/locks/op_log";
constexpr const char *LOG = "/opt/zorvi/operation_logs/operations.log";

// True when another process cannot take `path` right now.
bool held_elsewhere(const std::string &path)
{
    return oplogtest::run_child([&] {
               int fd = open(path.c_str(), O_WRONLY);
               return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 ? 1 : 0;
           }).status == 1;
}

TEST(ToolLock, MakesTheLockFolderAndHoldsTheLock)
{
    ScratchDir opt;
    EXPECT_IN_PRIVATE_OPT(opt.path(), [] {
        int64_t handle = 0;
        testing::internal::CaptureStdout();
        EXPECT_EQ(get_tool_lock("op_log", 1, &handle), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(mode_of("/opt/zorvi"), 0700u);
        EXPECT_EQ(mode_of(LOCKS), 0700u);
        EXPECT_EQ(mode_of(LOCK_FILE), 0700u);
        EXPECT_EQ(read_file(LOCK_FILE), "");
        EXPECT_TRUE(held_elsewhere(LOCK_FILE));
        release_tool_lock(&handle);
        EXPECT_FALSE(held_elsewhere(LOCK_FILE));
        EXPECT_TRUE(exists(LOCK_FILE));

        EXPECT_EQ(get_tool_lock(nullptr, 1, &handle), -6);
        // A name that makes the path 512 characters long.
        std::string name(512 - strlen("/opt/zorvi/locks/"), 'n');
        testing::internal::CaptureStdout();
        EXPECT_EQ(get_tool_lock(name.c_str(), 1, &handle), -6);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Strcat_s lock file name failed.\n");
        name.pop_back();  // 511 fits the buffer (the file system may refuse the name)
        testing::internal::CaptureStdout();
        EXPECT_NE(get_tool_lock(name.c_str(), 1, &handle), -6);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        return oplogtest::child_result();
    });
}

TEST(RunRecords, LongestPrefixes)
{
    ScratchDir opt;
    EXPECT_IN_PRIVATE_OPT(opt.path(), [] {
        EXPECT_EQ(init_operation_log("/opt/zorvi/"), 0);
        // Prefix = 22 (time) + 3 + the line; the line is "a... b...".
        for (size_t line : {988u, 989u}) {
            const std::string a500(500, 'a');
            const std::string rest(line - 501, 'b');
            const char *argv[] = {a500.c_str(), rest.c_str()};
            testing::internal::CaptureStdout();
            record_user_input(2, argv);
            EXPECT_EQ(strlen(g_input_buf), line + 25);
            int32_t status = write_begin_log();
            write_result_log(7);
            std::string out = testing::internal::GetCapturedStdout();
            std::string log = read_file(LOG);
            if (line == 988) {  // a begin record of 1023 characters
                EXPECT_EQ(status, 0);
                EXPECT_EQ(log, std::string(g_input_buf) + "[Begin].\r\n");
                EXPECT_EQ(log.size(), 1023u);
                // No room for the end time: the result record is given up.
                EXPECT_EQ(out, "Snprintf result_str offset failed.\n");
            } else {
                EXPECT_EQ(status, -1);
                EXPECT_EQ(out, "Snprintf operation log failed.\n");
                EXPECT_EQ(log.find(std::string(g_input_buf)), std::string::npos);
            }
            EXPECT_FALSE(held_elsewhere(LOCK_FILE));
        }
        return oplogtest::child_result();
    });
}

}  // namespace
