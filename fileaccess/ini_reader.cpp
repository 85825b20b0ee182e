// INI key-value reader for template files. A lookup opens the file, reads it
// from the top until it has the answer and closes it again; the only state is
// on the stack of one call.
#include "fileaccess/ini_reader.h"

#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"

namespace {

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
        return -1;
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

int32_t compare_name(const char *left, const char *right)
{
    if (left == nullptr || right == nullptr) {
        return -1;
    }
    size_t length = strlen(left);
    if (length != strlen(right)) {
        return -1;
    }
    for (size_t i = 0; i < length; ++i) {
        if (left[i] != right[i]) {
            return -1;
        }
    }
    return 0;
}

// 0 when `line` is a header of `section`. The line is changed in place.
// Blanks on both sides of the name are dropped, so "[ CONFIG ]" opens
// CONFIG: a header that looks right to a reader should not silently fail
// to match.
int32_t match_section_header(const char *section, char *line)
{
    char *cursor = skip_blanks(line);
    if (is_comment_start(cursor) || is_line_end(*cursor) || *cursor != '[') {
        return -1;
    }
    char *name = skip_blanks(cursor + 1);
    char *close = strchr(name, ']');
    if (close == nullptr) {
        return -1;
    }
    trim_blanks_before(name, close);  // also ends the name at the ']'
    return compare_name(name, section);
}

// Splits "key = value" at its first '='. 0 when the key is `key`;
// `value_start` then points just after the '='.
int32_t split_key_line(const char *key, char *line, char **value_start)
{
    char *equals = strchr(line, '=');
    if (equals == nullptr || equals == line) {
        return -1;
    }
    *value_start = equals + 1;
    *equals = '\0';
    trim_blanks_before(line, equals);
    return compare_name(line, key);
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

// Looks for `key` in the lines after a section header, up to the next line
// that starts with '['.
int32_t find_key_in_section(FILE *file, const char *key, char *value)
{
    char line[INI_LINE_SIZE];
    if (clear_buffer(line, sizeof(line)) != 0) {
        return -1;
    }
    while (feof(file) == 0) {
        if (fgets(line, static_cast<int>(sizeof(line)), file) == nullptr) {
            break;
        }
        char *cursor = skip_blanks(line);
        if (is_comment_start(cursor) || is_line_end(*cursor)) {
            continue;
        }
        if (*cursor == '[') {
            break;
        }
        char *value_start = nullptr;
        if (split_key_line(key, cursor, &value_start) == 0) {
            copy_key_value(value_start, value);
            return 0;
        }
    }
    puts("keyname isn't existed");
    return -1;
}

// The value text of `key`, in a buffer cleared first.
int32_t read_value_text(const char *path, const char *section, const char *key,
                        char (&text)[INI_VALUE_SIZE])
{
    if (clear_buffer(text, sizeof(text)) != 0) {
        return -1;
    }
    return get_key_value(path, section, key, text);
}

}  // namespace

int32_t get_key_value(const char *path, const char *section, const char *key, char *value)
{
    char line[INI_LINE_SIZE];
    if (clear_buffer(line, sizeof(line)) != 0) {
        return -1;
    }
    FILE *file = (path == nullptr) ? nullptr : fopen(path, "r");
    if (file == nullptr) {
        puts("File isn't existed");
        return -1;
    }
    bool found = false;
    while (fgets(line, static_cast<int>(sizeof(line)), file) != nullptr) {
        if (match_section_header(section, line) == 0) {
            found = true;
            break;
        }
    }
    if (!found) {
        fclose(file);
        return -1;
    }
    if (find_key_in_section(file, key, value) != 0) {
        puts("Failed to get key value for the input key");
        fclose(file);
        return -1;
    }
    fclose(file);
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
        return -1;
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
