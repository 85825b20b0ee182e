// How this program speaks. The libraries tell a load's user what went wrong
// on standard output, where this program puts its results: while they run,
// standard output goes to /dev/null, and the program says itself on
// standard error what happened.
#pragma once

#include <cstdio>

constexpr const char *PROGRAM_NAME = "zorvitemplate";

// Exit statuses of every command.
constexpr int EXIT_GOOD = 0;     // accepted, sealed, exported whole, no change
constexpr int EXIT_NO = 1;       // refused, not carried whole, changes
constexpr int EXIT_TROUBLE = 2;  // usage, unreadable file or card, nothing done

// Returns the descriptor to give back to unhush_libraries, or -1.
int hush_libraries();
void unhush_libraries(int saved);

// Longest message, before its control bytes are shown as \xHH.
constexpr size_t SAID_TEXT_SIZE = 8192;

// One line of text meant for a person, with its control bytes (C0 and C1)
// shown as \xHH, so that no name or file text it quotes can move the
// cursor or command the terminal; the line feed after it is added.
void put_shown_line(FILE *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
// "zorvitemplate: " and the message, on standard error, as put_shown_line.
void say(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A JSON string of `length` bytes: quotes, backslashes and control bytes
// (C1 ones too) escaped, bytes that are no UTF-8 as U+FFFD.
void put_json_string(FILE *out, const char *text, size_t length);
void put_json_text(FILE *out, const char *text);
