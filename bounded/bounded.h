// Bounds-checked copy, fill, concatenation and formatted I/O.
// Every function takes the capacity of its destination and answers with a
// status instead of writing past it; most failures reset the destination so
// that no partial or unterminated result survives.
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "bounded/status.h"

// Largest destination size and count accepted.
constexpr size_t BOUNDED_MAX_LEN = 0x7FFFFFFF;

int32_t memcpy_s(void *dest, size_t destMax, const void *src, size_t count);
int32_t memset_s(void *dest, size_t destMax, int c, size_t count);
int32_t strcpy_s(char *dest, size_t destMax, const char *src);
int32_t strncpy_s(char *dest, size_t destMax, const char *src, size_t count);
int32_t strcat_s(char *dest, size_t destMax, const char *src);
int32_t strncat_s(char *dest, size_t destMax, const char *src, size_t count);

// Formatted print: characters written (NUL not counted) or -1.
int32_t sprintf_s(char *dest, size_t destMax, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
int32_t vsprintf_s(char *dest, size_t destMax, const char *format, va_list args)
    __attribute__((format(printf, 3, 0)));
int32_t snprintf_s(char *dest, size_t destMax, size_t count, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
int32_t vsnprintf_s(char *dest, size_t destMax, size_t count, const char *format, va_list args)
    __attribute__((format(printf, 4, 0)));

// Formatted scan: fields assigned, or -1 (null format or destination, a
// directive other than %s, %u, %x and %n, or input that ended before any
// field was assigned).
// - %s takes a size argument (unsigned int) after the destination. Size 0 or
//   above BOUNDED_MAX_LEN stops the scan before the field. A word longer
//   than size - 1 characters empties the destination, stops the scan and is
//   not counted; the rest of it stays unread.
// - %u and %x: a value that fits 32 bits is stored as is, one that fits 64
//   bits as its low 32 bits, a larger one as 4294967295; '-' negates modulo
//   2^32 up to 4294967296 and gives 4294967295 beyond. %x takes a 0x prefix.
// - %n stores, as an int, the characters consumed so far.
// - sscanf_s on an empty text returns -1 and empties the destination of a
//   first %s whose size is not 0.
// scanf_s reads stdin as fgetc does and pushes back only the character that
// ended a field, so the rest of the line is left for the next call.
int32_t scanf_s(const char *format, ...);
int32_t vscanf_s(const char *format, va_list args);
int32_t sscanf_s(const char *buffer, const char *format, ...);
int32_t vsscanf_s(const char *buffer, const char *format, va_list args);
