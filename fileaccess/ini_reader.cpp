// INI key-value reader for template files. A lookup opens the file, reads it
// from the top until it has the answer and closes it again; the only state is
// on the stack of one call. The file comes in with read(2) into one buffer,
// so a template costs an open, a read and a close, and its lines are looked
// at where they lie in that buffer, cut as fgets would cut them.
#include "fileaccess/ini_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cstdio>
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
// Stops at the first difference; neither name is measured first.
bool is_name(const char *name, size_t length, const char *wanted)
{
    size_t at = 0;
    while (at < length && name[at] == wanted[at]) {
        ++at;
    }
    return at == length && wanted[at] == '\0';
}

constexpr const char *NO_FILE_MESSAGE = "File isn't existed";

// Moves the unfinished line to the front and reads after it. A failed read
// loses that line, as fgets does; either way the reading is then over. A
// file swapped for a device after the load's check would never end: before
// its second read the descriptor itself must be a regular file, or the
// reading ends as after a failed read. A small template takes one read and
// never pays for the check.
void read_more(IniLines *lines)
{
    if (lines->next != lines->text || lines->end != lines->text) {
        struct stat info {};
        if (!lines->regular && (fstat(lines->fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            lines->at_end = true;
            lines->next = lines->end = lines->text;
            *lines->end = '\0';
            return;
        }
        lines->regular = true;
    }
    const auto kept = static_cast<size_t>(lines->end - lines->next);
    lines->base += static_cast<uint64_t>(lines->next - lines->text);
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
    *lines->end = '\0';
}

// The next line, or nullptr; see next_ini_line. A line that ends in its
// feed, or at the end of the file, is handed out where it lies: the feed, or
// the NUL after the file's bytes, ends every scan of it as the NUL after it
// would. A piece cut from a longer line is copied out with a NUL of its own.
// Inlined, so that the lookup loop keeps its pointers in registers.
__attribute__((always_inline)) inline char *take_line(IniLines *lines)
{
    for (;;) {
        char *start = lines->next;
        const auto ready = static_cast<size_t>(lines->end - start);
        const void *feed = memchr(start, '\n', ready < LINE_MOST ? ready : LINE_MOST);
        if (feed != nullptr) {
            lines->next = static_cast<char *>(const_cast<void *>(feed)) + 1;
            return start;
        }
        if (ready >= LINE_MOST) {
            memcpy(lines->cut, start, LINE_MOST);
            lines->cut[LINE_MOST] = '\0';
            lines->next += LINE_MOST;
            return lines->cut;
        }
        if (lines->at_end) {
            lines->next = lines->end;
            return ready == 0 ? nullptr : start;  // the last line, without a feed
        }
        read_more(lines);
    }
}

// Copies the value a key line holds; a value longer than the buffer holds
// is reported and leaves it empty.
void copy_key_value(const IniLineParts &parts, char *value)
{
    if (strncpy_s(value, INI_VALUE_SIZE, parts.value, parts.value_length) != 0) {
        puts("Copy data failed!");
    }
}

// Where the walk of find_key<true> stands: the file's line of the piece at
// hand, and what the lookup has met so far.
struct Tracked {
    uint32_t line = 0;
    bool line_open = false;  // the last piece was cut from a longer line
    uint32_t hidden_line = 0;
};

// The key stands inside `piece` (a piece of a long line) after its start,
// followed by blanks and '=': a shorter line would have been read.
bool key_hidden_in(const char *piece, size_t length, const char *key)
{
    const size_t key_length = strlen(key);
    const char *start = skip_blanks(piece);
    for (const char *at = piece; key_length != 0;) {
        const auto left = static_cast<size_t>(piece + length - at);
        const auto *hit = static_cast<const char *>(memmem(at, left, key, key_length));
        if (hit == nullptr) {
            return false;
        }
        const char *after = hit + key_length;
        while (after < piece + length && is_blank_char(*after)) {
            ++after;
        }
        if (hit != start && after < piece + length && *after == '=') {
            return true;
        }
        at = hit + 1;
    }
    return false;
}

// A key line or the header of the section read: the section's last line
// so far, after which a line added to it goes.
void note_section_line(const IniLines &lines, const char *line, size_t length, IniWhere *where)
{
    const char *start = line == lines.cut ? lines.next - LINE_MOST : line;
    where->section_end = lines.base + static_cast<uint64_t>(start - lines.text) + length;
    where->section_end_feed = line[length - 1] == '\n';
    where->section_crlf = length >= 2 && where->section_end_feed && line[length - 2] == '\r';
}

// The lookup's walk over the lines of an open file; see get_key_value.
template <bool WHERE>
int32_t find_key(IniLines *lines, const char *section, const char *key, char *value,
                 bool *in_section, IniWhere *where)
{
    char first = '[';  // the first character of the lines looked at beyond the headers
    Tracked tracked;
    if constexpr (WHERE) {
        *where = IniWhere{};
        where->answer = INI_NO_SECTION;
    }
    for (char *line = take_line(lines); line != nullptr; line = take_line(lines)) {
        [[maybe_unused]] size_t length = 0;
        [[maybe_unused]] bool long_piece = false;  // a piece of a line longer than a piece
        if constexpr (WHERE) {
            const bool cut = line == lines->cut;
            length = cut ? LINE_MOST : static_cast<size_t>(lines->next - line);
            long_piece = cut || tracked.line_open;
            tracked.line += tracked.line_open ? 0 : 1;
            tracked.line_open = cut;
        }
        const char *cursor = line;
        if (static_cast<unsigned char>(*cursor) <= ' ') {  // blanks, or an empty line
            cursor = skip_blanks(cursor);
        }
        IniLineParts parts;
        if (*cursor == '[') {
            if (*in_section) {
                if constexpr (WHERE) {
                    describe_ini_line(cursor, &parts);
                    where->answer = tracked.hidden_line != 0 ? INI_LONG_LINE : INI_NO_KEY;
                    where->line = tracked.hidden_line != 0 ? tracked.hidden_line : tracked.line;
                    where->ended_by_bracket = parts.kind != INI_LINE_HEADER;
                }
                return STATUS_FAILED;
            }
            describe_ini_line(cursor, &parts);
            *in_section = parts.kind == INI_LINE_HEADER && section != nullptr &&
                          is_name(parts.name, parts.name_length, section);
            first = *in_section && key != nullptr ? key[0] : '[';
            if constexpr (WHERE) {
                if (*in_section) {
                    where->answer = INI_NO_KEY;
                    where->section_line = tracked.line;
                    note_section_line(*lines, line, length, where);
                }
            }
            continue;
        }
        if constexpr (WHERE) {
            if (*in_section) {
                describe_ini_line(cursor, &parts);
                if (parts.kind == INI_LINE_KEY) {
                    note_section_line(*lines, line, length, where);
                }
                if (long_piece && tracked.hidden_line == 0 && key != nullptr &&
                    key_hidden_in(line, length, key)) {
                    tracked.hidden_line = tracked.line;
                }
            }
        }
        if (*cursor != first) {
            continue;
        }
        size_t same = 0;
        while (key[same] != '\0' && cursor[same] == key[same]) {
            ++same;
        }
        if (key[same] != '\0') {
            continue;
        }
        describe_ini_line(cursor, &parts);
        if (parts.kind == INI_LINE_KEY && is_name(parts.name, parts.name_length, key)) {
            copy_key_value(parts, value);
            if constexpr (WHERE) {
                const char *start = line == lines->cut ? lines->next - LINE_MOST : line;
                where->answer = INI_FOUND;
                where->line = tracked.line;
                where->value_start = lines->base + static_cast<uint64_t>(start - lines->text) +
                                     static_cast<uint64_t>(parts.value - line);
                where->value_length = parts.value_length;
                const size_t kept = parts.value_length < INI_VALUE_SIZE - 1 ? parts.value_length
                                                                            : INI_VALUE_SIZE - 1;
                memcpy(where->value, parts.value, kept);
                where->value[kept] = '\0';
            }
            return 0;
        }
    }
    if constexpr (WHERE) {
        if (*in_section) {
            where->answer = tracked.hidden_line != 0 ? INI_LONG_LINE : INI_NO_KEY;
            where->line = tracked.hidden_line;
        }
    }
    return STATUS_FAILED;
}

// The text read so far decides a lookup by searching it, instead of walking
// every line: the sections by their '[', the key by its name. Each
// candidate is judged as the walk judges a line: the piece it stands in is
// the fgets line of at most 511 bytes, counted from the start of its line,
// and it counts only as the first character of that piece after its blanks.
// NOT_DECIDED when the text read so far cannot tell (a piece or the file
// goes on beyond it): the walk then reads on from the start.
constexpr int32_t NOT_DECIDED = -2;

struct Text {
    const char *start;  // the file's first byte
    const char *end;    // after the bytes read; a NUL stands there
    bool whole;         // nothing follows `end`
};

// Where the piece that holds `at` starts.
const char *piece_start(const Text &text, const char *at)
{
    const void *feed = memrchr(text.start, '\n', static_cast<size_t>(at - text.start));
    const char *line = feed == nullptr ? text.start : static_cast<const char *>(feed) + 1;
    return line + static_cast<size_t>(at - line) / LINE_MOST * LINE_MOST;
}

// Where the piece that starts at `start` ends: after its feed, after 511
// bytes, or at the end of the text.
const char *piece_end(const Text &text, const char *start)
{
    const auto ready = static_cast<size_t>(text.end - start);
    const size_t most = ready < LINE_MOST ? ready : LINE_MOST;
    const auto *feed = static_cast<const char *>(memchr(start, '\n', most));
    return feed != nullptr ? feed + 1 : start + most;
}

bool starts_piece(const Text &text, const char *at)
{
    const char *start = piece_start(text, at);
    while (start < at && is_blank_char(*start)) {
        ++start;
    }
    return start == at;
}

// The parts of the piece that starts at `start`, its characters from `at`
// on as the walk would hand them to describe_ini_line. False when the piece
// goes on beyond the text read.
bool describe_piece_at(const Text &text, const char *start, const char *at,
                       char (&cut)[INI_LINE_SIZE], IniLineParts *parts)
{
    const auto ready = static_cast<size_t>(text.end - start);
    if (memchr(start, '\n', ready < LINE_MOST ? ready : LINE_MOST) != nullptr ||
        (ready < LINE_MOST && text.whole)) {
        describe_ini_line(at, parts);  // the feed, or the NUL at the end, ends it
        return true;
    }
    if (ready < LINE_MOST) {
        return false;
    }
    memcpy(cut, start, LINE_MOST);
    cut[LINE_MOST] = '\0';
    describe_ini_line(cut + (at - start), parts);
    return true;
}

// The next place at or after `at`, before `end`, where a '[' stands or
// where the key may: its first byte there and its last byte `last` bytes on
// (end when there is none). The caller judges each place. glibc's SIMD
// searches look for one byte; this looks for two at once, 32 places a step
// where the processor can.
const char *next_candidate_plain(const char *at, const char *end, char first, char final,
                                 size_t last)
{
    for (; at < end; ++at) {
        if (*at == '[' ||
            (*at == first && last < static_cast<size_t>(end - at) && at[last] == final)) {
            return at;
        }
    }
    return end;
}

#if defined(__x86_64__)
// The places among the 32 bytes from `at` on, as 0xFF bytes.
__attribute__((target("avx2"), always_inline)) inline __m256i places_avx2(
    const char *at, size_t last, __m256i firsts, __m256i finals, __m256i opens)
{
    const __m256i heads = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
    const __m256i tails = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + last));
    const __m256i pairs =
        _mm256_and_si256(_mm256_cmpeq_epi8(heads, firsts), _mm256_cmpeq_epi8(tails, finals));
    return _mm256_or_si256(pairs, _mm256_cmpeq_epi8(heads, opens));
}

__attribute__((target("avx2"))) const char *next_candidate_avx2(const char *at, const char *end,
                                                                char first, char final, size_t last)
{
    const __m256i firsts = _mm256_set1_epi8(first);
    const __m256i finals = _mm256_set1_epi8(final);
    const __m256i opens = _mm256_set1_epi8('[');
    constexpr size_t STEP = sizeof(__m256i);
    // Two steps at a time, looked at closer only where one of them holds a place.
    while (static_cast<size_t>(end - at) >= last + 2 * STEP) {
        const __m256i low = places_avx2(at, last, firsts, finals, opens);
        const __m256i high = places_avx2(at + STEP, last, firsts, finals, opens);
        const __m256i both = _mm256_or_si256(low, high);
        if (_mm256_testz_si256(both, both) == 0) {
            const auto low_bits = static_cast<uint32_t>(_mm256_movemask_epi8(low));
            const auto high_bits = static_cast<uint32_t>(_mm256_movemask_epi8(high));
            return at + __builtin_ctzll(low_bits | static_cast<uint64_t>(high_bits) << STEP);
        }
        at += 2 * STEP;
    }
    return next_candidate_plain(at, end, first, final, last);
}
#endif

#if defined(__x86_64__)
// Asked once; a plain variable, since a guarded static would need the C++
// runtime, which the program does not load otherwise.
int g_avx2 = -1;
#endif

const char *next_candidate(const char *at, const char *end, const char *key, size_t length)
{
#if defined(__x86_64__)
    if (g_avx2 < 0) {
        g_avx2 = __builtin_cpu_supports("avx2") ? 1 : 0;
    }
    if (g_avx2 != 0) {
        return next_candidate_avx2(at, end, key[0], key[length - 1], length - 1);
    }
#endif
    return next_candidate_plain(at, end, key[0], key[length - 1], length - 1);
}

int32_t find_in_text(const Text &text, const char *section, const char *key, char *value,
                     bool *in_section)
{
    char cut[INI_LINE_SIZE];
    IniLineParts parts;
    // The first header of the section.
    const char *from = text.start;
    for (;;) {
        const auto *open =
            static_cast<const char *>(memchr(from, '[', static_cast<size_t>(text.end - from)));
        if (open == nullptr) {
            return text.whole ? STATUS_FAILED : NOT_DECIDED;
        }
        from = open + 1;
        // A header names the section only if the name follows the '[' and
        // its blanks: most other headers are passed over before the piece
        // is looked at.
        const char *name = open + 1;
        while (is_blank_char(*name)) {
            ++name;
        }
        if (*name != section[0] || !starts_piece(text, open)) {
            continue;
        }
        const char *start = piece_start(text, open);
        if (!describe_piece_at(text, start, open, cut, &parts)) {
            return NOT_DECIDED;
        }
        if (parts.kind == INI_LINE_HEADER && is_name(parts.name, parts.name_length, section)) {
            from = piece_end(text, start);
            break;
        }
    }
    *in_section = true;
    // The key, unless a line that starts with '[' ends the section first.
    const size_t length = strlen(key);
    for (const char *at = from;; ++at) {
        at = next_candidate(at, text.end, key, length);
        if (at == text.end) {
            return text.whole ? STATUS_FAILED : NOT_DECIDED;
        }
        if (*at == '[' && starts_piece(text, at)) {
            return STATUS_FAILED;
        }
        if (memcmp(at, key, length) != 0 || !starts_piece(text, at)) {
            continue;
        }
        if (!describe_piece_at(text, piece_start(text, at), at, cut, &parts)) {
            return NOT_DECIDED;
        }
        if (parts.kind == INI_LINE_KEY && is_name(parts.name, parts.name_length, key)) {
            copy_key_value(parts, value);
            return 0;
        }
    }
}

// The value text of `key`, in a buffer cleared first.
int32_t read_value_text(const char *path, const char *section, const char *key,
                        char (&text)[INI_VALUE_SIZE], IniWhere *where)
{
    if (memset_s(text, sizeof(text), 0, sizeof(text)) != 0) {
        puts("Init key value buff failed");
        return STATUS_FAILED;
    }
    return get_key_value(path, section, key, text, where);
}

}  // namespace

int32_t check_ini_file(const char *path)
{
    struct stat info {};
    if (path == nullptr || stat(path, &info) != 0) {
        return 0;
    }
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) || S_ISFIFO(info.st_mode) ||
        S_ISSOCK(info.st_mode)) {
        puts(NO_FILE_MESSAGE);
        return STATUS_FAILED;
    }
    return 0;
}

// Never waits on the way in: a FIFO put in the file's place between two
// lookups opens at once, and a terminal does not become the controlling one.
int32_t open_ini_lines(const char *path, IniLines *lines)
{
    lines->fd = (path == nullptr) ? -1 : open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    lines->next = lines->text;
    lines->end = lines->text;
    lines->at_end = false;
    lines->regular = false;
    lines->base = 0;
    return lines->fd < 0 ? STATUS_FAILED : 0;
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

// The first header of `section` opens its keys; the next line that starts
// with '[' ends them. Only a line that starts with the key is taken apart.
// With WHERE the same walk also tells `where` what it met; the load's walk
// is the one without it, and keeps its instructions.
int32_t get_key_value(const char *path, const char *section, const char *key, char *value,
                      IniWhere *where)
{
    IniLines lines;
    if (open_ini_lines(path, &lines) != 0) {
        puts(NO_FILE_MESSAGE);
        if (where != nullptr) {
            *where = IniWhere{};
            where->answer = INI_NO_FILE;
        }
        return STATUS_FAILED;
    }
    bool in_section = false;
    int32_t status = NOT_DECIDED;
    if (where == nullptr && section != nullptr && section[0] != '\0' && key != nullptr &&
        key[0] != '\0') {
        read_more(&lines);
        status = find_in_text(Text{lines.text, lines.end, lines.at_end}, section, key, value,
                              &in_section);
    }
    if (status == NOT_DECIDED) {
        in_section = false;
        status = where == nullptr
                     ? find_key<false>(&lines, section, key, value, &in_section, nullptr)
                     : find_key<true>(&lines, section, key, value, &in_section, where);
    }
    close_ini_lines(&lines);
    if (in_section && status != 0) {
        puts("keyname isn't existed");
        puts("Failed to get key value for the input key");
    }
    return status;
}

int32_t convert_uint_value(const char *text, uint32_t *value, size_t *length)
{
    const char *number = skip_blanks(text);
    // No octal form: a leading 0 without x is an ordinary decimal digit.
    const bool hex = number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
    const char *digits = hex ? number + 2 : number;
    // A load asks no length, and its 333 conversions spare the %n.
    int taken = 0;
    const int32_t converted = length == nullptr
                                  ? sscanf_s(digits, hex ? "%x" : "%u", value)
                                  : sscanf_s(digits, hex ? "%x%n" : "%u%n", value, &taken);
    if (converted != 1) {
        return STATUS_FAILED;
    }
    if (length != nullptr) {
        *length = static_cast<size_t>(digits - text) + static_cast<size_t>(taken);
    }
    return 0;
}

int32_t get_uint_key_value(const char *path, const char *section, const char *key, uint32_t *value,
                           IniWhere *where)
{
    char text[INI_VALUE_SIZE];
    int32_t status = read_value_text(path, section, key, text, where);
    if (status != 0) {
        return status;
    }
    if (convert_uint_value(text, value) != 0) {
        printf("Sscanf_s unit pkeyvalue %s failed.\n", skip_blanks(text));
        return STATUS_FAILED;
    }
    return 0;
}

int32_t get_string_key_value(const char *path, const char *section, const char *key, char *value,
                             IniWhere *where)
{
    char text[INI_VALUE_SIZE];
    int32_t status = read_value_text(path, section, key, text, where);
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

void describe_ini_line(const char *line, IniLineParts *parts)
{
    *parts = IniLineParts{};
    const char *cursor = skip_blanks(line);
    if (*cursor == '[') {
        // The name runs to the first ']' of the line, blanks around it dropped,
        // so "[ CONFIG ]" opens CONFIG.
        const char *name = skip_blanks(cursor + 1);
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
    if (cursor[0] == '#' || (cursor[0] == '/' && cursor[1] == '/') || is_line_end(*cursor)) {
        parts->kind = INI_LINE_BLANK;
        return;
    }
    // The key stands before the first '=' of the line, without the blanks
    // before the '='; an empty key is no key.
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
