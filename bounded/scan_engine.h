// The formatted-scan engine behind scanf_s and sscanf_s (internal).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Where the characters come from: a NUL-terminated text, or a stream read
// one character at a time with one character of push-back.
struct ScanInput {
    const char *text;  // null when reading the stream
    size_t pos;
    FILE *stream;
    size_t consumed;  // characters taken from the stream, for %n
};

// Fields assigned, or -1 (see bounded.h for the rules). Takes the caller's
// argument list by address: copying a va_list costs more than a short scan.
int32_t scan_engine(ScanInput *in, const char *format, va_list *args);

// Stores NUL in the destination of the first conversion when it is %s, %c
// or %[ with a nonzero size; used when the text to scan is empty.
void scan_clear_first_string(const char *format, va_list *args);
