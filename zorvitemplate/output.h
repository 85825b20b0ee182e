// How this program speaks: one layer for results in text or JSON, in the
// manner of iproute2's print_* calls, on standard output: each call names
// its JSON key and its text format, either left out where the value has no
// place; and one for messages to the person, on standard error,
// "zorvitemplate: " first. Text that a file, a name or the card gave
// is shown with its control bytes (C1 ones included) as \xHH; JSON writes
// the same bytes in its own escapes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr const char *PROGRAM_NAME = "zorvitemplate";

// Exit statuses of every command.
constexpr int EXIT_GOOD = 0;     // accepted, sealed, exported whole, no change
constexpr int EXIT_NO = 1;       // refused, not carried whole, changes
constexpr int EXIT_TROUBLE = 2;  // usage, unreadable file or card, nothing written

// Longest message or text value, before its control bytes are shown.
constexpr size_t SAID_TEXT_SIZE = 8192;

// A standard output closed at the start is told as a write that failed.
void open_output();
// Whether the results reached standard output: `status`, or EXIT_TROUBLE
// with a message when they did not (and the command had not failed already).
// Once note_written told of a file written, such a message says so, and the
// status is EXIT_NO: EXIT_TROUBLE means that nothing was written.
int close_output(int status);
void note_written(const char *file);

// The print calls write to `stream` from now on, as JSON or as text;
// standard output and text at first.
void print_to(FILE *stream, bool json);

// A JSON object or array, `key` naming it inside an object (nullptr in an
// array or at the top), closed by close_json. An object inside an array
// stands on one line. Nothing in text.
enum JsonKind : uint8_t { JSON_OBJECT, JSON_ARRAY };
void open_json(const char *key, JsonKind kind);
void close_json();

// `value` under `key` in JSON; in text, `text_format` with the value shown.
// A null key leaves the value out of JSON and a null text format out of
// the text; nullptr as the value is JSON's null and no text.
// The text format takes the one value: "%s" for a string, "%u" or "%X" for
// a number.
void print_string(const char *key, const char *text_format, const char *value);
// The same for `length` bytes that need not end in a NUL.
void print_bytes(const char *key, const char *text_format, const char *value, size_t length);
// A value not `known` is JSON's null and no text.
void print_uint(const char *key, const char *text_format, uint32_t value, bool known = true);
// In JSON only: text says it in words. A value not `known` is null.
void print_bool(const char *key, bool value, bool known = true);

// "zorvitemplate: " and the message, on standard error, shown. Returns
// EXIT_TROUBLE, for a command that ends with the message.
int warn(const char *format, ...) __attribute__((format(printf, 1, 2)));
