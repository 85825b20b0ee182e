// Text that came from a user, a file or the card, made safe to write where
// a reader takes a control byte as the end of a record or a terminal takes
// it as a command: each such byte is written as \xHH, everything else as it
// stands, a backslash and a percent sign included.
#pragma once

#include <cstddef>
#include <cstdint>

enum ShownBytes : uint8_t {
    SHOW_C0,     // 0x00 to 0x1F and 0x7F: for logs and files
    SHOW_C0_C1,  // also C1 controls, for a terminal: a byte 0x80 to 0x9F that is
                 // no part of a UTF-8 character, and U+0080 to U+009F
};

enum ShownFit : uint8_t {
    SHOW_WHOLE,  // text that does not fit is refused
    SHOW_CUT,    // it is cut after its last whole character or \xHH that
                 // leaves room for "...", which then ends it
};

// The length of the UTF-8 character at `text` (at most `left` bytes), or 0
// when the bytes there are none.
size_t utf8_length(const unsigned char *text, size_t left);

// Writes the `length` bytes at `text` as shown text, then a NUL, into `out`
// of `size` bytes. Returns the length written, or -1 when it does not fit
// whole (`out` then holds an empty string; with SHOW_CUT only when `size` is
// under 4) or an argument is missing.
int32_t show_text(const char *text, size_t length, char *out, size_t size, ShownBytes which,
                  ShownFit fit = SHOW_WHOLE);
