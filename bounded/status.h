// Every status the program's functions return, by name. 0 is success; the
// program's own failures are negative; 1 to 255 is the card's status byte,
// passed up unchanged. It sits in the lowest folder so every subsystem can
// include it.
#pragma once

#include <cerrno>
#include <cstdint>

constexpr int32_t STATUS_FAILED = -1;        // general failure; a formatted function failed
constexpr int32_t STATUS_NO_DEVICE = -2;     // tool device cannot be opened; no file to check
constexpr int32_t STATUS_BAD_ARGUMENT = -6;  // missing argument, or a result too big for its buffer
constexpr int32_t STATUS_NAME_TOO_LONG = -8;  // device name of 16 characters or more
constexpr int32_t STATUS_FILE_FAILED = -9;    // file cannot be opened, created or renamed
constexpr int32_t STATUS_MISSING = -13;       // file or folder missing or not creatable
// Results of a load that did not run to its end.
constexpr int32_t STATUS_CANCELED = -254;
constexpr int32_t STATUS_KILLED = -255;
// backup_log_file: the log was left in place (or made fresh and empty).
constexpr int32_t LOG_NOT_MOVED = 8;

// Statuses of the bounded memory and string functions (EINVAL 22 and ERANGE
// 34 come from <cerrno>). The *_RESET values mean the destination was reset.
constexpr int32_t BOUNDED_EOVERLAP = 54;
constexpr int32_t EINVAL_RESET = 128 + EINVAL;              // 150
constexpr int32_t ERANGE_RESET = 128 + ERANGE;              // 162
constexpr int32_t EOVERLAP_RESET = 128 + BOUNDED_EOVERLAP;  // 182
