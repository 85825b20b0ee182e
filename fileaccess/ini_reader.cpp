// INI key-value reader for template files. A lookup opens the file, reads it
// from the top until it has the answer and closes it again; the only state is
// on the stack of one call. The file comes in with read(2) into one buffer,
// so a template costs an open, a read and a close, and its lines are looked
// at where they lie in that buffer, cut as fgets would cut them.
#include "fileaccess/ini_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool is_comment_start(const char *text)
{
    return text[0] == '#' || (text[0] == '/' && text[1] == '/');
}

// Every buffer starts zeroed; a lookup that cannot clear one ends there.
int32_t clear_buffer(char *buffer, size_t size)
{
    if (memset_s(buffer, size, 0, size) != 0) {
        puts("Init key value buff failed");
        return STATUS_FAILED;
    }
    return 0;
}

char *skip_blanks(char *text)
{
    while (is_blank_char(*text)) {
        ++text;
    }
    return text;
}

// Drops the blanks that stand just before `end`, never going back past `start`.
void trim_blanks_before(char *start, char *end)
{
    while (end > start && is_blank_char(end[-1])) {
        --end;
    }
    *end = '\0';
}

// Stops at the first difference; neither name is measured first.
int32_t compare_name(const char *left, const char *right)
{
    if (left == nullptr || right == nullptr) {
        return STATUS_FAILED;
    }
    while (*left != '\0' && *left == *right) {
        ++left;
        ++right;
    }
    return *left == *right ? 0 : -1;
}

// 0 when `line` is a header of `section`. The line is changed in place.
// Blanks on both sides of the name are dropped, so "[ CONFIG ]" opens
// CONFIG: a header that looks right to a reader should not silently fail
// to match.
int32_t match_section_header(const char *section, char *line)
{
    char *cursor = skip_blanks(line);
    if (*cursor != '[') {  // so neither a comment nor an empty line
        return STATUS_FAILED;
    }
    char *name = skip_blanks(cursor + 1);
    char *close = name;
    while (*close != ']' && *close != '\0' && *close != '\n') {  // a feed ends the line
        ++close;
    }
    if (*close != ']') {
        return STATUS_FAILED;
    }
    trim_blanks_before(name, close);  // also ends the name at the ']'
    return compare_name(name, section);
}

// The key a lookup wants, made ready once for the comparison with each line.
struct WantedKey {
    const char *name;
    size_t length;
    bool can_match;  // see want_key
#if defined(__SSE2__)
    bool held;      // the key fits `bytes`, to be compared with 16 bytes of a line at once
    __m128i bytes;  // the key, then NULs
    unsigned bits;  // a bit for each byte of the key
#endif
};

// A key line holds its key after its blanks and before its first '=',
// without the blanks before the '=', and a line feed ends it; a line that
// starts (after blanks) with a comment start, a line end or '[' is no key
// line. No line holds a key that is empty, has a '=' or a feed, ends in a
// blank or starts as those lines do, so a line need not be split before its
// key is compared. (A key that starts with a blank never meets a line that
// does.)
void want_key(const char *key, WantedKey *wanted)
{
    wanted->name = key;
    wanted->length = 0;
    wanted->can_match =
        key != nullptr && !is_line_end(key[0]) && !is_comment_start(key) && key[0] != '[';
    while (wanted->can_match && key[wanted->length] != '\0') {
        const char c = key[wanted->length++];
        wanted->can_match = c != '=' && c != '\n';
    }
    wanted->can_match = wanted->can_match && !is_blank_char(key[wanted->length - 1]);
#if defined(__SSE2__)
    wanted->held = wanted->can_match && wanted->length <= sizeof(__m128i);
    char bytes[sizeof(__m128i)] = {};
    for (size_t at = 0; wanted->held && at < wanted->length; ++at) {
        bytes[at] = key[at];
    }
    wanted->bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
    wanted->bits = wanted->held ? (1u << wanted->length) - 1 : 0;
#endif
}

// Whether `line`, which has 16 bytes to be read, starts with the
// wanted key. Stops at the first byte that differs.
bool starts_with_key(const char *line, const WantedKey &wanted)
{
#if defined(__SSE2__)
    if (wanted.held) {
        const __m128i got = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line));
        const auto same =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(got, wanted.bytes)));
        return (same & wanted.bits) == wanted.bits;
    }
#endif
    for (size_t at = 0; at < wanted.length; ++at) {
        if (line[at] != wanted.name[at]) {  // the line's end differs from every byte of a key
            return false;
        }
    }
    return true;
}

// 0 when `line` is "key = value" for the wanted key, one that can match;
// `value_start` then points just after the '='.
int32_t split_key_line(const WantedKey &wanted, char *line, char **value_start)
{
    if (!starts_with_key(line, wanted)) {
        return STATUS_FAILED;
    }
    char *equals = skip_blanks(line + wanted.length);
    if (*equals != '=') {
        return STATUS_FAILED;
    }
    *value_start = equals + 1;
    return 0;
}

// Copies the value text, without blanks around it and without a trailing
// "//" comment. A '#' stays part of the value.
void copy_key_value(char *value_start, char *value)
{
    char *start = skip_blanks(value_start);
    char *end = start;
    while (!is_line_end(*end) && !(end[0] == '/' && end[1] == '/')) {
        ++end;
    }
    trim_blanks_before(start, end);
    if (strncpy_s(value, INI_VALUE_SIZE, start, strlen(start)) != 0) {
        puts("Copy data failed!");
    }
}

// Where the first line feed of the `count` bytes at `start` is, or `count`
// when there is none.
size_t find_feed(const char *start, size_t count)
{
    const void *feed = memchr(start, '\n', count);
    return feed == nullptr ? count : static_cast<size_t>(static_cast<const char *>(feed) - start);
}

#if defined(__SSE2__)
// Bit i set when byte i of the 16 at `bytes` is a line feed.
unsigned feeds_at(const char *bytes)
{
    const __m128i got = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(got, _mm_set1_epi8('\n'))));
}
#endif

// Moves the unfinished line to the front and reads after it. A failed read
// loses that line, as fgets does; either way the reading is then over.
void read_more(IniLines *lines)
{
    const size_t kept = static_cast<size_t>(lines->end - lines->next);
    if (kept != 0) {
        memmove(lines->text, lines->next, kept);
    }
    lines->next = lines->text;
    lines->end = lines->text + kept;
    const ssize_t got = read(lines->fd, lines->end, INI_READ_SIZE - kept);
    if (got > 0) {
        lines->end += got;
    } else {
        lines->at_end = true;
    }
    if (got < 0) {
        lines->end = lines->text;
    }
    memset(lines->end, 0, INI_TEXT_PAD);
}

// The next line when the bytes read so far may not hold it whole: reads on,
// or cuts a long line short, copying the piece out with a NUL of its own.
char *take_line_slowly(IniLines *lines)
{
    for (;;) {
        char *start = lines->next;
        const auto ready = static_cast<size_t>(lines->end - lines->next);
        const size_t limit = ready < LINE_MOST ? ready : LINE_MOST;
        size_t length = find_feed(start, limit) + 1;
        if (length <= limit) {
            // a whole line
        } else if (ready >= LINE_MOST) {
            memcpy(lines->cut, start, LINE_MOST);
            memset(lines->cut + LINE_MOST, 0, sizeof(lines->cut) - LINE_MOST);
            lines->next += LINE_MOST;
            return lines->cut;
        } else if (!lines->at_end) {
            read_more(lines);
            continue;
        } else if (ready == 0) {
            return nullptr;
        } else {
            length = ready;  // the last line, without a feed
        }
        lines->next += length;
        return start;
    }
}

// The next line, or nullptr; see next_ini_line. A line that ends in its
// feed, or at the end of the file, is handed out where it lies: the feed, or
// the NULs after the file's bytes, end every scan of it as the NUL after it
// would.
inline char *take_line(IniLines *lines)
{
#if defined(__SSE2__)
    // Most lines are shorter than 16 bytes: one compare finds their feed
    // without a call, and 64 bytes at a time that of nearly every longer
    // line. What is looked at stays within a line's reach, and so within the
    // file's bytes and the NULs after them: a feed found is one of the file's.
    static_assert(LINE_MOST <= INI_TEXT_PAD);
    char *start = lines->next;
    const unsigned feeds = feeds_at(start);
    if (feeds != 0) {
        lines->next = start + std::countr_zero(feeds) + 1;
        return start;
    }
    for (size_t at = 16; at + 64 <= LINE_MOST; at += 64) {
        const uint64_t more = feeds_at(start + at) |
                              static_cast<uint64_t>(feeds_at(start + at + 16)) << 16 |
                              static_cast<uint64_t>(feeds_at(start + at + 32)) << 32 |
                              static_cast<uint64_t>(feeds_at(start + at + 48)) << 48;
        if (more != 0) {
            lines->next = start + at + static_cast<unsigned>(std::countr_zero(more)) + 1;
            return start;
        }
    }
#endif
    return take_line_slowly(lines);
}

// Looks for `key` in the lines after a section header, up to the next line
// that starts with '['.
int32_t find_key_in_section(IniLines *lines, const char *key, char *value)
{
    WantedKey wanted;
    want_key(key, &wanted);
    const char first = wanted.can_match ? key[0] : '\0';
    for (char *line = take_line(lines); line != nullptr; line = take_line(lines)) {
        char *cursor = line;
        if (static_cast<unsigned char>(*cursor) <= ' ') {  // blanks, line ends
            cursor = skip_blanks(cursor);
        }
        if (*cursor == '[') {
            break;
        }
        char *value_start = nullptr;
        if (wanted.can_match && *cursor == first &&
            split_key_line(wanted, cursor, &value_start) == 0) {
            copy_key_value(value_start, value);
            return 0;
        }
    }
    puts("keyname isn't existed");
    return STATUS_FAILED;
}

// The value text of `key`, in a buffer cleared first.
int32_t read_value_text(const char *path, const char *section, const char *key,
                        char (&text)[INI_VALUE_SIZE])
{
    if (clear_buffer(text, sizeof(text)) != 0) {
        return STATUS_FAILED;
    }
    return get_key_value(path, section, key, text);
}

}  // namespace

int32_t open_ini_lines(const char *path, IniLines *lines)
{
    lines->fd = (path == nullptr) ? -1 : open(path, O_RDONLY);
    lines->next = lines->text;
    lines->end = lines->text;
    lines->at_end = false;
    if (lines->fd < 0) {
        return STATUS_FAILED;
    }
    read_more(lines);  // the first line is always asked for
    return 0;
}

int32_t next_ini_line(IniLines *lines, char **line, size_t *length)
{
    *line = take_line(lines);
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

int32_t get_key_value(const char *path, const char *section, const char *key, char *value)
{
    IniLines lines;
    if (open_ini_lines(path, &lines) != 0) {
        puts("File isn't existed");
        return STATUS_FAILED;
    }
    bool found = false;
    for (char *line = take_line(&lines); line != nullptr; line = take_line(&lines)) {
        if (match_section_header(section, line) == 0) {
            found = true;
            break;
        }
    }
    if (!found) {
        close_ini_lines(&lines);
        return STATUS_FAILED;
    }
    if (find_key_in_section(&lines, key, value) != 0) {
        puts("Failed to get key value for the input key");
        close_ini_lines(&lines);
        return STATUS_FAILED;
    }
    close_ini_lines(&lines);
    return 0;
}

int32_t get_uint_key_value(const char *path, const char *section, const char *key, uint32_t *value)
{
    char text[INI_VALUE_SIZE];
    int32_t status = read_value_text(path, section, key, text);
    if (status != 0) {
        return status;
    }
    const char *number = skip_blanks(text);
    // No octal form: a leading 0 without x is an ordinary decimal digit.
    int32_t converted = (number[0] == '0' && (number[1] == 'x' || number[1] == 'X'))
                            ? sscanf_s(number + 2, "%x", value)
                            : sscanf_s(number, "%u", value);
    if (converted != 1) {
        printf("Sscanf_s unit pkeyvalue %s failed.\n", number);
        return STATUS_FAILED;
    }
    return 0;
}

int32_t get_string_key_value(const char *path, const char *section, const char *key, char *value)
{
    char text[INI_VALUE_SIZE];
    int32_t status = read_value_text(path, section, key, text);
    if (status != 0) {
        return status;
    }
    status = strcpy_s(value, INI_VALUE_SIZE, skip_blanks(text));
    if (status != 0) {
        puts("Strcpy_s pkeyvalue failed.");
        return status;
    }
    return 0;
}

namespace {

const char *skip_blank_text(const char *text)
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

}  // namespace

void describe_ini_line(const char *line, IniLineParts *parts)
{
    *parts = IniLineParts{};
    const char *cursor = skip_blank_text(line);
    if (*cursor == '[') {
        // As match_section_header: the name runs to the first ']' of the line.
        const char *name = skip_blank_text(cursor + 1);
        const char *close = name;
        while (*close != ']' && *close != '\0' && *close != '\n') {
            ++close;
        }
        parts->kind = (*close == ']') ? INI_LINE_HEADER : INI_LINE_BRACKET;
        if (parts->kind == INI_LINE_HEADER) {
            parts->name = name;
            parts->name_length = static_cast<size_t>(drop_blanks_before(name, close) - name);
        }
        return;
    }
    if (is_comment_start(cursor) || is_line_end(*cursor)) {
        parts->kind = INI_LINE_BLANK;
        return;
    }
    // As split_key_line: the key stands before the first '=' of the line,
    // without the blanks before the '='; an empty key is no key.
    const char *equals = cursor;
    while (*equals != '=' && *equals != '\0' && *equals != '\n') {
        ++equals;
    }
    const char *key_end = drop_blanks_before(cursor, equals);
    if (*equals != '=' || key_end == cursor) {
        parts->kind = INI_LINE_OTHER;
        return;
    }
    parts->kind = INI_LINE_KEY;
    parts->name = cursor;
    parts->name_length = static_cast<size_t>(key_end - cursor);
    // As copy_key_value, before its limit of INI_VALUE_SIZE - 1 characters.
    const char *start = skip_blank_text(equals + 1);
    const char *end = start;
    while (!is_line_end(*end) && !(end[0] == '/' && end[1] == '/')) {
        ++end;
    }
    parts->value = start;
    parts->value_length = static_cast<size_t>(drop_blanks_before(start, end) - start);
}
