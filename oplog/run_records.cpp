#include "oplog/run_records.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "bounded/bounded.h"
#include "bounded/shown_text.h"
#include "oplog/management.h"
#include "oplog/operation_log.h"

char g_input_buf[OP_LOG_RECORD_SIZE];
char g_begin_log[OP_LOG_RECORD_SIZE];
bool g_begin_logged = false;
int64_t g_op_log_lock = 0;

namespace {

// Room for one argument and its separating space.
constexpr size_t ARGUMENT_ROOM = 511;

struct ResultWord {
    int32_t status;
    const char *word;
};

constexpr ResultWord RESULT_WORDS[] = {
    {0, "SUCCEED"},
    {STATUS_CANCELED, "CANCELED"},
    {STATUS_KILLED, "KILLED"},
};

// The message goes through "%s" so a percent sign in a command line is
// logged as typed.
void record_syslog(const char *identity, int priority, const char *message)
{
    openlog(identity, LOG_PID | LOG_CONS, LOG_USER);
    syslog(priority, "%s", message);
    closelog();
}

}  // namespace

void record_user_input(uint32_t argc, const char *const argv[])
{
    memset(g_input_buf, 0, sizeof(g_input_buf));
    if (argv == nullptr || argc == 0) {
        return;
    }
    char line[OP_LOG_RECORD_SIZE] = {};
    uint32_t used = 0;
    for (uint32_t i = 0; i < argc; i++) {
        // A control byte in an argument would end a record, or start a
        // forged one, in the log or on a terminal: it is logged as \xHH.
        // An argument longer than its room is cut and marked, so that the
        // records keep the time, the command and the device.
        char shown[ARGUMENT_ROOM];
        const char *argument = argv[i] == nullptr ? "" : argv[i];
        int32_t ret =
            show_text(argument, strlen(argument), shown, sizeof(shown), SHOW_C0, SHOW_CUT);
        if (ret != STATUS_FAILED) {
            ret = snprintf_s(line + used, sizeof(line) - used, ARGUMENT_ROOM, "%s ", shown);
        }
        if (ret == STATUS_FAILED) {
            puts("Snprintf user input string failed.");
            return;
        }
        used += static_cast<uint32_t>(ret);
    }
    line[used - 1] = '\0';  // the last separator

    uint32_t offset = 0;
    time_t now = time(nullptr);
    struct tm local = {};
    if (localtime_r(&now, &local) != nullptr) {
        int32_t ret = print_record_stamp(g_input_buf, &local);
        if (ret == STATUS_FAILED) {
            puts("Snprintf input operation log time failed.");
            return;
        }
        offset = static_cast<uint32_t>(ret);
    }
    // A line too long for the rest is cut, and the cut text is kept.
    if (print_record_at(g_input_buf, offset, "[%s] ", line) == STATUS_FAILED) {
        puts("Snprintf input operation log failed.");
    }
}

int32_t write_begin_log()
{
    int32_t ret = get_tool_lock(OP_LOG_LOCK_NAME, 1, &g_op_log_lock);
    if (ret == STATUS_MISSING) {
        puts("Folder or file required by the operation is not exist.");
        return STATUS_MISSING;
    }
    if (ret != 0) {
        printf("Get operation log file [%ld] lock failed(%d).\n", static_cast<long>(g_op_log_lock),
               ret);
        return ret;
    }
    ret = print_record_at(g_begin_log, 0, "%s%s%s", g_input_buf, "[Begin].", "\r\n");
    if (ret == STATUS_FAILED) {
        release_tool_lock(&g_op_log_lock);
        puts("Snprintf operation log failed.");
        return STATUS_FAILED;
    }
    append_operation_log(g_begin_log);
    release_tool_lock(&g_op_log_lock);
    g_begin_logged = true;
    return 0;
}

void write_result_log(int32_t status)
{
    if (!g_begin_logged) {
        return;
    }
    g_begin_logged = false;

    char record[OP_LOG_RECORD_SIZE] = {};
    int32_t ret = print_record_at(record, 0, "%s", g_input_buf);
    if (ret == STATUS_FAILED) {
        puts("Snprintf result_str failed.");
        return;
    }
    uint32_t offset = static_cast<uint32_t>(ret);

    time_t now = time(nullptr);
    struct tm local = {};
    // Each piece is printed only when it fits, so the offset stays inside
    // the record.
    if (localtime_r(&now, &local) != nullptr) {
        ret = print_record_at(record, offset, "[%02d:%02d:%02d] ", local.tm_hour, local.tm_min,
                              local.tm_sec);
        if (ret == STATUS_FAILED) {
            puts("Snprintf result_str offset failed.");
            return;
        }
        offset += static_cast<uint32_t>(ret);
    }

    ret = set_cmd_result_string(status, record, offset);
    if (ret < 0) {
        puts("Set cmd result string failed.");
        return;
    }
    offset += static_cast<uint32_t>(ret);

    record_syslog(SYSLOG_IDENTITY, LOG_INFO, record);
    if (print_record_at(record, offset, "\r\n") == STATUS_FAILED) {
        puts("Snprintf end of result log failed.");
        return;
    }

    // Rather than lose the record, append it unlocked after three tries.
    bool locked = false;
    for (int attempt = 0; attempt < RESULT_LOCK_TRIES && !locked; attempt++) {
        locked = get_tool_lock(OP_LOG_LOCK_NAME, 0, &g_op_log_lock) == 0;
        if (!locked) {
            sleep(1);
        }
    }
    append_operation_log(record);
    if (locked) {
        release_tool_lock(&g_op_log_lock);
    }
}

int32_t set_cmd_result_string(int32_t status, char *record, uint32_t offset)
{
    for (const ResultWord &entry : RESULT_WORDS) {
        if (entry.status == status) {
            return print_record_at(record, offset, "[%s].", entry.word);
        }
    }
    return print_record_at(record, offset, "[%s<%d>].", "FAILED", status);
}
