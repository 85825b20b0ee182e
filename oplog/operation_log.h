// The operation log file: start-up, size rollover and appends.
#pragma once

#include <cstdint>
#include <ctime>

#include "bounded/status.h"

constexpr uint32_t OP_LOG_MAX_SIZE = 4194304;
constexpr uint32_t OP_LOG_RECORD_SIZE = 1024;
constexpr uint32_t OP_LOG_PATH_SIZE = 256;
// Name of the lock held while a record is appended to the operation log.
constexpr const char *OP_LOG_LOCK_NAME = "op_log";

// Full path of operations.log; empty until start-up has built it, and an
// empty path disables every append.
extern char g_op_log[OP_LOG_PATH_SIZE];

int32_t init_operation_log(const char *folder);
void append_operation_log(const char *record);
int32_t rollback_operation_log(const char *backup_path, char *rollback_record);

// snprintf_s at `offset` of a record of OP_LOG_RECORD_SIZE bytes, as every
// record is composed: the room left as its size, one less as its count.
int32_t print_record_at(char *record, uint32_t offset, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// The date and time that start a record: "[2024-03-05 14:07:09] ".
int32_t print_record_stamp(char *record, const struct tm *now);
