#include "oplog/operation_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "bounded/bounded.h"
#include "fileaccess/path_check.h"
#include "oplog/management.h"

char g_op_log[OP_LOG_PATH_SIZE];

namespace {

constexpr const char *LOG_FOLDER_NAME = "operation_logs";
constexpr const char *LOG_FILE_NAME = "operations.log";
constexpr const char *BACKUP_FILE_NAME = "operations.log.old";
constexpr mode_t LOG_FILE_MODE = 0666;  // as fopen made it, less the umask

// Moves a log over `limit` aside under the operation-log lock, which it
// leaves in `lock` for the caller to release once the log is fresh.
int32_t backup_log_file(const char *log_path, const char *backup_path, uint32_t limit,
                        int64_t *lock)
{
    bool moved = false;
    if (check_file_exist(log_path) == 0) {
        // The whole size counts: a log just past 4 GiB is large, not small.
        if (get_file_size(log_path) <= limit) {
            return LOG_NOT_MOVED;
        }
        // Two start-ups must not both move the log: the size is read again
        // under the lock, and one that cannot have it at once leaves the
        // move to a later run.
        if (get_tool_lock(OP_LOG_LOCK_NAME, 0, lock) != 0) {
            *lock = 0;  // a failed try leaves the closed descriptor's number
            return LOG_NOT_MOVED;
        }
        if (get_file_size(log_path) <= limit) {
            return LOG_NOT_MOVED;
        }
        if (rename(log_path, backup_path) != 0) {
            return STATUS_FILE_FAILED;
        }
        moved = true;
    }
    int fd = open_regular(log_path, O_RDWR | O_APPEND | O_CREAT, LOG_FILE_MODE);
    if (fd < 0) {
        return STATUS_FILE_FAILED;
    }
    close(fd);
    return moved ? 0 : LOG_NOT_MOVED;
}

int32_t get_rollback_log(const struct tm *now, const char *backup_path, char *record)
{
    uint32_t offset = 0;
    int32_t ret = 0;
    if (now != nullptr) {
        ret = print_record_stamp(record, now);
        if (ret == STATUS_FAILED) {
            puts("Snprintf rollback_log time failed.");
            return STATUS_BAD_ARGUMENT;
        }
        offset = static_cast<uint32_t>(ret);
    }
    ret = print_record_at(record, offset, "The old operation log has been backed up to %s.",
                          backup_path);
    if (ret == STATUS_FAILED) {
        puts("Snprintf rollback log failed.");
        return STATUS_BAD_ARGUMENT;
    }
    offset += static_cast<uint32_t>(ret);
    if (print_record_at(record, offset, "\r\n") == STATUS_FAILED) {
        puts("Snprintf end of rollback log failed.");
        return STATUS_BAD_ARGUMENT;
    }
    return 0;
}

}  // namespace

int32_t init_operation_log(const char *folder)
{
    if (folder == nullptr || g_op_log[0] != '\0') {
        return STATUS_BAD_ARGUMENT;
    }
    char log_dir[OP_LOG_PATH_SIZE] = {};
    char log_file[OP_LOG_PATH_SIZE] = {};
    char backup[OP_LOG_PATH_SIZE] = {};
    if (sprintf_s(log_dir, sizeof(log_dir), "%s%s", folder, LOG_FOLDER_NAME) == STATUS_FAILED ||
        sprintf_s(log_file, sizeof(log_file), "%s/%s", log_dir, LOG_FILE_NAME) == STATUS_FAILED ||
        sprintf_s(backup, sizeof(backup), "%s/%s", log_dir, BACKUP_FILE_NAME) == STATUS_FAILED) {
        puts("Sprintf_s operation log_dir failed.");
        return STATUS_BAD_ARGUMENT;
    }
    for (const char *path : {folder, static_cast<const char *>(log_dir)}) {
        if (ensure_folder(path) != 0) {
            // errno is read before printf runs.
            printf("Operation Log file folder[%s] can not be created, errno:%d.\n", path, errno);
            return STATUS_FAILED;
        }
    }
    memcpy(g_op_log, log_file, sizeof(g_op_log));
    char rollback_record[OP_LOG_RECORD_SIZE] = {};
    const int32_t ret = rollback_operation_log(backup, rollback_record);
    return ret < 0 ? ret : 0;
}

int32_t rollback_operation_log(const char *backup_path, char *rollback_record)
{
    int64_t lock = 0;
    int32_t ret = backup_log_file(g_op_log, backup_path, OP_LOG_MAX_SIZE, &lock);
    if (ret < 0) {
        puts("Log file roolback failed.");
    } else if (ret == 0) {
        time_t now = time(nullptr);
        struct tm local = {};
        const struct tm *stamp = localtime_r(&now, &local);
        ret = get_rollback_log(stamp, backup_path, rollback_record);
        if (ret != 0) {
            printf("Get rollback log failed(%d).\n", ret);
            ret = STATUS_FAILED;
        } else {
            append_operation_log(rollback_record);
        }
    }
    release_tool_lock(&lock);
    return ret == LOG_NOT_MOVED ? 0 : ret;
}

int32_t print_record_at(char *record, uint32_t offset, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t ret = vsnprintf_s(record + offset, OP_LOG_RECORD_SIZE - offset,
                                    OP_LOG_RECORD_SIZE - 1 - offset, format, args);
    va_end(args);
    return ret;
}

int32_t print_record_stamp(char *record, const struct tm *now)
{
    return print_record_at(record, 0, "[%d-%02d-%02d %02d:%02d:%02d] ", now->tm_year + 1900,
                           now->tm_mon + 1, now->tm_mday, now->tm_hour, now->tm_min, now->tm_sec);
}

// A log that vanished after start-up is not made again: the record is
// dropped without a word.
void append_operation_log(const char *record)
{
    if (record == nullptr || g_op_log[0] == '\0' || check_path_exist(g_op_log) != 0) {
        return;
    }
    int fd = open_regular(g_op_log, O_WRONLY | O_APPEND | O_CREAT, LOG_FILE_MODE);
    if (fd < 0) {
        printf("Can not open operation log file[%s].\n", g_op_log);
        return;
    }
    // One write, whose shortfall is seen here.
    struct stat info = {};
    off_t size_before = fstat(fd, &info) == 0 ? info.st_size : -1;
    size_t length = strlen(record);
    ssize_t got = write(fd, record, length);
    if (got != static_cast<ssize_t>(length)) {
        puts("Error data size write to file.");
        // Part of the record may stand (a full file system): it is cut off
        // again so the log keeps whole lines, unless someone else has
        // appended since.
        struct stat after = {};
        if (size_before >= 0 && got > 0 && fstat(fd, &after) == 0 &&
            after.st_size == size_before + got) {
            (void)!ftruncate(fd, size_before);
        }
    }
    close(fd);
}
