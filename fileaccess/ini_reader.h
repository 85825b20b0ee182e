// Key lookups in INI-style template files. Every lookup opens, scans and
// closes the file; nothing is kept between lookups, and nothing is printed:
// the answer says what was found, or why nothing was.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t INI_LINE_SIZE = 512;
constexpr uint32_t INI_VALUE_SIZE = 32;  // at most 31 characters and a NUL
// A template with every key and a comment on each comes in one read.
constexpr uint32_t INI_READ_SIZE = 16384;

// Lines are counted from 1 as the file's own lines, whatever pieces the
// reader cuts them into; offsets are bytes from the start of the file.
enum IniAnswer : uint8_t {
    INI_UNASKED,     // no lookup told it
    INI_FOUND,       // the key stands at `line`; its value at `value_start`
    INI_NO_FILE,     // the file cannot be opened, or is a device, FIFO or socket
    INI_NO_SECTION,  // no header of the section
    INI_NO_KEY,      // the section ended at `line` (0: at the end of the file)
    INI_LONG_LINE,   // not found, but the key stands inside `line`, a line longer
                     // than a piece, where no lookup sees it
};

struct IniWhere {
    IniAnswer answer;
    uint32_t line;
    uint32_t section_line;  // the header of the section read, 0 when none
    bool ended_by_bracket;  // INI_NO_KEY: the line that ended it is no header
    // INI_FOUND: the value as the lookup cuts it (blanks around it and a
    // "//" comment dropped): its place, its length, its first characters.
    // A load takes a value of INI_VALUE_SIZE characters or more as empty.
    uint64_t value_start;
    size_t value_length;
    char value[INI_VALUE_SIZE];
};

// The first header of `section` opens its keys; the next line that starts
// with '[' ends them. 0 when `key` was found there, else -1; `where` tells
// either way.
int32_t lookup_ini_key(const char *path, const char *section, const char *key, IniWhere *where);

// The value a load takes from a found key: empty when it is too long.
inline const char *ini_value(const IniWhere &where)
{
    return where.value_length < INI_VALUE_SIZE ? where.value : "";
}

// A value text as a load converts it: 0x or 0X and hexadecimal, else
// decimal, by sscanf_s; 0, or -1 when it holds no number. `length`, when
// given, receives how many characters of `text` the number took.
int32_t convert_uint_value(const char *text, uint32_t *value, size_t *length = nullptr);
// Where the digits of a value text start: past its blanks and, when `hex`,
// its 0x or 0X.
const char *value_digits(const char *text, bool *hex);

// An open template file, read into `text` as its lines are asked for. It
// hands out the lines fgets would store in a buffer of INI_LINE_SIZE bytes:
// at most INI_LINE_SIZE - 1 bytes, up to and with the first line feed.
// Lives on the stack of one lookup.
struct IniLines {
    int fd;
    char *next;                    // where the next line starts in `text`
    char *end;                     // the end of the file's bytes in `text`
    bool at_end;                   // a read gave the end of the file or failed
    bool read_once;                // the first read is done
    bool judged;                   // fstat has told what the descriptor is
    bool not_file;                 // a device, FIFO or socket: nothing was read
    uint64_t base;                 // the file offset of text[0]
    char cut[INI_LINE_SIZE];       // a line cut short, then a NUL
    char text[INI_READ_SIZE + 1];  // the file's bytes, then a NUL
};

// 0 when the file is open, -1 when it cannot be opened.
int32_t open_ini_lines(const char *path, IniLines *lines);
// 0 and the next line with its length (NUL bytes inside included); -1 after
// the last line or when a read fails, the part of a line read before the
// failure then being lost as fgets loses it. A line ends with its line feed
// or is followed by a NUL; it may be changed in place up to that end, and
// stays valid until the next call. A device, FIFO or socket has no lines
// and sets `not_file`.
int32_t next_ini_line(IniLines *lines, char **line, size_t *length);
void close_ini_lines(IniLines *lines);

// What a line is to the lookups, by their own rules: skipped lines,
// headers, lines that start with '[' without being one (they still end a
// section's keys), key lines, and the rest, which the lookups pass over.
enum IniLineKind : uint8_t {
    INI_LINE_BLANK,    // empty or a comment
    INI_LINE_HEADER,   // `name` is the section's
    INI_LINE_BRACKET,  // '[' without a ']' on the line
    INI_LINE_KEY,      // `name` is the key, `value` its text as a lookup cuts it
    INI_LINE_OTHER,
};

struct IniLineParts {
    IniLineKind kind;
    const char *name;
    size_t name_length;
    const char *value;
    size_t value_length;
};

// `line` as next_ini_line hands it out, or NUL-terminated.
void describe_ini_line(const char *line, IniLineParts *parts);
