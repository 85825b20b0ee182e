// The begin and result records of a load, and the system-log copy.
#pragma once

#include <cstdint>

constexpr int32_t STATUS_CANCELED = -254;
constexpr int32_t STATUS_KILLED = -255;

void record_user_input(uint32_t argc, const char *const argv[]);
int32_t write_begin_log();
void write_result_log(int32_t status);
int32_t set_cmd_result_string(int32_t status, char *record, uint32_t offset);
void record_syslog(const char *identity, int priority, const char *message);
