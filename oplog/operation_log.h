// The operation log file: start-up, size rollover and appends.
#pragma once

#include <cstdint>
#include <ctime>

#include "bounded/status.h"

constexpr uint32_t OP_LOG_MAX_SIZE = 4194304;
constexpr uint32_t OP_LOG_RECORD_SIZE = 1024;
constexpr uint32_t OP_LOG_PATH_SIZE = 256;

// Full path of operations.log; empty until start-up has built it, and an
// empty path disables every append.
extern char g_op_log[OP_LOG_PATH_SIZE];

int32_t init_operation_log(const char *folder);
void append_operation_log(const char *record);
int32_t rollback_operation_log(const char *backup_path, char *rollback_record,
                               char *removed_record);
int32_t backup_log_file(const char *log_path, const char *backup_path, uint32_t limit,
                        int32_t *removed);
int32_t get_rollback_log(const struct tm *now, const char *backup_path, char *record);
