// The begin and result records of a load, and the system-log copy.
#pragma once

#include <cstdint>

#include "oplog/operation_log.h"

constexpr const char *SYSLOG_IDENTITY = "zorviadm";
// Tries of the result record's lock, one second apart.
constexpr int RESULT_LOCK_TRIES = 3;

// Module state of one run.
extern char g_input_buf[OP_LOG_RECORD_SIZE];  // start time and command line of the run
extern char g_begin_log[OP_LOG_RECORD_SIZE];  // the begin record
extern bool g_begin_logged;                   // a result record is owed
extern int64_t g_op_log_lock;                 // lock handle reused for every record

void record_user_input(uint32_t argc, const char *const argv[]);
int32_t write_begin_log();
void write_result_log(int32_t status);
// The result word at `offset`, inside the record: its length, or -1 when it
// does not fit before the record's last byte.
int32_t set_cmd_result_string(int32_t status, char *record, uint32_t offset);
