// INI key-value reader for template files. A lookup opens the file, reads it
// from the top until it has the answer and closes it again; the only state is
// on the stack of one call. The file comes in with pread(2) into one buffer,
// so a template costs an open, a read and a close; its lines are looked at
// where they lie in that buffer, cut as fgets would cut them, and most of
// them no further than their start.
#include "fileaccess/ini_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "bounded/bounded.h"

namespace {

constexpr size_t LINE_MOST = INI_LINE_SIZE - 1;  // fgets keeps room for its NUL

bool is_blank_char(char c)
{
    return c == ' ' || c == '\t';
}

bool is_line_end(char c)
{
    return c == '\0' || c == '\n' || c == '\r';
}

const char *skip_blanks(const char *text)
{
    while (is_blank_char(*text)) {
        ++text;
    }
    return text;
}

// Where the text from `start` ends before `end` once the blanks before `end`
// are dropped.
const char *drop_blanks_before(const char *start, const char *end)
{
    while (end > start && is_blank_char(end[-1])) {
        --end;
    }
    return end;
}

// Whether the `length` characters at `name` are the whole of `wanted`.
bool is_name(const char *name, size_t length, const char *wanted)
{
    return strncmp(name, wanted, length) == 0 && wanted[length] == '\0';
}

// Whether `text` starts with `key`, blanks and '='.
bool opens_with_key(const char *text, const char *key)
{
    while (*key != '\0' && *text == *key) {
        ++text;
        ++key;
    }
    return *key == '\0' && *skip_blanks(text) == '=';
}

// A device, FIFO or socket never ends as a template, and a FIFO swapped in
// for the file could hand over anything: the descriptor is judged once,
// whenever its first read does not settle the lookup (a pread of a FIFO or
// socket fails, a device fills the buffer or gives nothing). A folder reads
// as an empty file, as fgets would read it. False when reading must stop.
bool judge_descriptor(IniLines *lines)
{
    if (lines->judged) {
        return true;
    }
    lines->judged = true;
    struct stat info {};
    const bool readable = fstat(lines->fd, &info) == 0;
    lines->not_file = readable && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
    if (readable && !lines->not_file) {
        return true;
    }
    lines->at_end = true;
    lines->next = lines->end = lines->text;
    *lines->end = '\0';
    return false;
}

// Moves the unfinished line to the front and reads after it. A failed read
// loses that line, as fgets does; either way the reading is then over.
void read_more(IniLines *lines)
{
    if (lines->read_once && !judge_descriptor(lines)) {
        return;
    }
    const auto kept = static_cast<size_t>(lines->end - lines->next);
    lines->base += static_cast<uint64_t>(lines->next - lines->text);
    memmove(lines->text, lines->next, kept);
    lines->next = lines->text;
    lines->end = lines->text + kept;
    const ssize_t got =
        pread(lines->fd, lines->end, INI_READ_SIZE - kept, static_cast<off_t>(lines->base + kept));
    lines->read_once = true;
    if (got <= 0 && !judge_descriptor(lines)) {
        return;
    }
    lines->at_end = got <= 0;
    lines->end = got < 0 ? lines->text : lines->end + got;
    *lines->end = '\0';
}

// Takes the line at `next` if its feed lies within a piece's reach.
char *line_in_place(IniLines *lines)
{
    char *start = lines->next;
    const auto ready = static_cast<size_t>(lines->end - start);
    auto *feed = static_cast<char *>(memchr(start, '\n', std::min(ready, LINE_MOST)));
    lines->next = feed == nullptr ? start : feed + 1;
    return feed == nullptr ? nullptr : start;
}

// Takes the whole lines in place that matter to no lookup of `key`, and says
// how many. describe_ini_line stays the one rule of what a line is: to it, a
// line that starts, after blanks, with neither '[' nor the key, blanks and
// '=' is no header and not the key's line, so only the few others need it.
uint32_t pass_over_lines(IniLines *lines, const char *key)
{
    for (uint32_t count = 0;; ++count) {
        const char *start = skip_blanks(lines->next);
        if (*start == '[' || (*start == *key && opens_with_key(start, key)) ||
            line_in_place(lines) == nullptr) {
            return count;
        }
    }
}

// The key stands inside `piece` (a piece of a long line) after its start,
// followed by blanks and '=': a shorter line would have been read.
bool key_hidden_in(const char *piece, size_t length, const char *key)
{
    const size_t key_length = strlen(key);
    const char *start = skip_blanks(piece);
    for (size_t at = 0; key_length != 0 && at + key_length < length; ++at) {
        if (piece + at != start && opens_with_key(piece + at, key)) {
            return true;
        }
    }
    return false;
}

void note_found(const IniLines &lines, const char *line, const IniLineParts &parts,
                uint32_t line_number, IniWhere *where)
{
    where->answer = INI_FOUND;
    where->line = line_number;
    // A cut piece was copied out from just before `next`.
    const char *in_text = line == lines.cut ? lines.next - LINE_MOST : line;
    where->value_start =
        lines.base + static_cast<uint64_t>(in_text + (parts.value - line) - lines.text);
    where->value_length = parts.value_length;
    const size_t kept = std::min<size_t>(parts.value_length, INI_VALUE_SIZE - 1);
    memcpy(where->value, parts.value, kept);
    where->value[kept] = '\0';
}

// The walk of one lookup over the lines of an open file.
int32_t find_key(IniLines *lines, const char *section, const char *key, IniWhere *where)
{
    *where = IniWhere{};
    where->answer = INI_NO_SECTION;
    bool in_section = false;
    uint32_t line_number = 0;
    bool line_open = false;  // the last piece was cut from a longer line
    uint32_t hidden_line = 0;
    char *line = nullptr;
    size_t length = 0;
    for (;;) {
        line_number += line_open ? 0 : pass_over_lines(lines, key) + 1;
        if (next_ini_line(lines, &line, &length) != 0) {
            break;
        }
        const bool long_piece = line == lines->cut || line_open;
        line_open = line == lines->cut;
        IniLineParts parts;
        describe_ini_line(line, &parts);
        if (parts.kind == INI_LINE_HEADER || parts.kind == INI_LINE_BRACKET) {
            if (in_section) {
                where->line = line_number;
                where->ended_by_bracket = parts.kind != INI_LINE_HEADER;
                break;
            }
            in_section =
                parts.kind == INI_LINE_HEADER && is_name(parts.name, parts.name_length, section);
            if (in_section) {
                where->answer = INI_NO_KEY;
                where->section_line = line_number;
            }
            continue;
        }
        if (in_section && parts.kind == INI_LINE_KEY &&
            is_name(parts.name, parts.name_length, key)) {
            note_found(*lines, line, parts, line_number, where);
            return 0;
        }
        if (in_section && long_piece && hidden_line == 0 && key_hidden_in(line, length, key)) {
            hidden_line = line_number;
        }
    }
    if (lines->not_file) {
        *where = IniWhere{};
        where->answer = INI_NO_FILE;
    } else if (hidden_line != 0) {
        where->answer = INI_LONG_LINE;
        where->line = hidden_line;
    }
    return STATUS_FAILED;
}

}  // namespace

// Never waits on the way in: a FIFO put in the file's place between two
// lookups opens at once, and a terminal does not become the controlling one.
int32_t open_ini_lines(const char *path, IniLines *lines)
{
    // Not the buffers: they are written before they are read.
    lines->at_end = lines->read_once = lines->judged = lines->not_file = false;
    lines->base = 0;
    lines->fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    lines->next = lines->end = lines->text;
    *lines->end = '\0';
    return lines->fd < 0 ? STATUS_FAILED : 0;
}

// A line that ends in its feed, or at the end of the file, is handed out
// where it lies: the feed, or the NUL after the file's bytes, ends every scan
// of it as the NUL after it would. A piece cut from a longer line is copied
// out with a NUL of its own.
int32_t next_ini_line(IniLines *lines, char **line, size_t *length)
{
    while ((*line = line_in_place(lines)) == nullptr) {
        char *start = lines->next;
        const auto ready = static_cast<size_t>(lines->end - start);
        if (ready >= LINE_MOST) {
            memcpy(lines->cut, start, LINE_MOST);
            lines->cut[LINE_MOST] = '\0';
            lines->next += LINE_MOST;
            *line = lines->cut;
            break;
        }
        if (lines->at_end) {
            lines->next = lines->end;
            *line = ready == 0 ? nullptr : start;  // the last line, without a feed
            break;
        }
        read_more(lines);
    }
    if (*line == nullptr) {
        return STATUS_FAILED;
    }
    // A line in place ends where the next one starts.
    *length = (*line == lines->cut) ? LINE_MOST : static_cast<size_t>(lines->next - *line);
    return 0;
}

void close_ini_lines(IniLines *lines)
{
    close(lines->fd);
}

int32_t lookup_ini_key(const char *path, const char *section, const char *key, IniWhere *where)
{
    IniLines lines;
    if (open_ini_lines(path, &lines) != 0) {
        *where = IniWhere{};
        where->answer = INI_NO_FILE;
        return STATUS_FAILED;
    }
    const int32_t status = find_key(&lines, section, key, where);
    close_ini_lines(&lines);
    return status;
}

const char *value_digits(const char *text, bool *hex)
{
    const char *number = skip_blanks(text);
    // No octal form: a leading 0 without x is an ordinary decimal digit.
    *hex = number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
    return *hex ? number + 2 : number;
}

int32_t convert_uint_value(const char *text, uint32_t *value, size_t *length)
{
    bool hex = false;
    const char *digits = value_digits(text, &hex);
    int taken = 0;
    if (sscanf_s(digits, hex ? "%x%n" : "%u%n", value, &taken) != 1) {
        return STATUS_FAILED;
    }
    if (length != nullptr) {
        *length = static_cast<size_t>(digits - text) + static_cast<size_t>(taken);
    }
    return 0;
}

void describe_ini_line(const char *line, IniLineParts *parts)
{
    *parts = IniLineParts{};
    const char *cursor = skip_blanks(line);
    if (*cursor == '[') {
        // The name runs to the first ']' of the line, blanks around it dropped,
        // so "[ CONFIG ]" opens CONFIG.
        const char *name = skip_blanks(cursor + 1);
        const char *close = name + strcspn(name, "]\n");
        parts->kind = (*close == ']') ? INI_LINE_HEADER : INI_LINE_BRACKET;
        if (parts->kind == INI_LINE_HEADER) {
            parts->name = name;
            parts->name_length = static_cast<size_t>(drop_blanks_before(name, close) - name);
        }
        return;
    }
    if (cursor[0] == '#' || (cursor[0] == '/' && cursor[1] == '/') || is_line_end(*cursor)) {
        parts->kind = INI_LINE_BLANK;
        return;
    }
    // The key stands before the first '=' of the line, without the blanks
    // before the '='; an empty key is no key.
    const char *equals = cursor + strcspn(cursor, "=\n");
    const char *key_end = drop_blanks_before(cursor, equals);
    if (*equals != '=' || key_end == cursor) {
        parts->kind = INI_LINE_OTHER;
        return;
    }
    parts->kind = INI_LINE_KEY;
    parts->name = cursor;
    parts->name_length = static_cast<size_t>(key_end - cursor);
    // The value without blanks around it and without a trailing "//"
    // comment; a '#' stays part of it.
    const char *start = skip_blanks(equals + 1);
    const char *end = start;
    while (!is_line_end(*end) && !(end[0] == '/' && end[1] == '/')) {
        ++end;
    }
    parts->value = start;
    parts->value_length = static_cast<size_t>(drop_blanks_before(start, end) - start);
}
