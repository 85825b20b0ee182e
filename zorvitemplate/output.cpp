#include "zorvitemplate/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bounded/shown_text.h"

namespace {

bool g_closed = false;          // standard output was closed when the program started
char g_written[PATH_MAX + 32];  // "; FILE was written" once it was
bool g_json = false;
FILE *g_results = stdout;

// The JSON nesting: per level, whether a member came already and whether
// the level stands on one line.
constexpr int DEPTH_MOST = 8;
struct Level {
    bool array, inline_, any;
};
Level g_levels[DEPTH_MOST];
int g_depth = 0;

// The print calls hand their text formats through; every one is a literal
// of this program, taking the one value it is given.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void out(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(g_results, format, args);
    va_end(args);
}
#pragma GCC diagnostic pop

// The separator and indent before a member or element of the level at
// hand, then its key.
void json_key(const char *key)
{
    if (g_depth > 0) {
        Level &level = g_levels[g_depth - 1];
        level.inline_ ? out(level.any ? ", " : "")
                      : out("%s\n%*s", level.any ? "," : "", 2 * g_depth, "");
        level.any = true;
    }
    if (key != nullptr) {
        out("\"%s\": ", key);
    }
}

// A control byte is one show_text escapes, written in JSON's own forms.
void json_string(const char *text, size_t length)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    out("\"");
    for (size_t i = 0; i < length;) {
        const unsigned char byte = bytes[i];
        const size_t taken = byte >= 0x80 ? utf8_length(bytes + i, length - i) : 1;
        char shown[16];
        if (taken == 0) {
            out("\\ufffd");  // no UTF-8: JSON cannot carry the byte
        } else if (byte == '"' || byte == '\\' || byte == '\n' || byte == '\t') {
            out("\\%c", byte == '\n' ? 'n' : byte == '\t' ? 't' : byte);
        } else if (show_text(text + i, taken, shown, sizeof(shown), SHOW_C0_C1) !=
                   static_cast<int32_t>(taken)) {
            out("\\u%04x", bytes[i + taken - 1]);  // a C0 control, or a C1 one after its 0xC2
        } else {
            fwrite(bytes + i, 1, taken, g_results);
        }
        i += taken == 0 ? 1 : taken;
    }
    out("\"");
}

}  // namespace

void open_output()
{
    // Its number is then held by /dev/null, so that no file opened here takes it.
    g_closed = fcntl(STDOUT_FILENO, F_GETFD) < 0;
    const int null = g_closed ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    if (null >= 0 && null != STDOUT_FILENO) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
}

int close_output(int status)
{
    errno = g_closed ? EBADF : 0;
    const bool written = !g_closed && fflush(stdout) == 0 && ferror(stdout) == 0;
    if (!written && status != EXIT_TROUBLE) {
        warn("cannot write to standard output: %s%s", strerror(errno != 0 ? errno : EIO),
             g_written);
        return g_written[0] != '\0' ? EXIT_NO : EXIT_TROUBLE;
    }
    return status;
}

void note_written(const char *file)
{
    snprintf(g_written, sizeof(g_written), "; %s was written", file);
}

void print_to(FILE *stream, bool json)
{
    g_results = stream;
    g_json = json;
}

void open_json(const char *key, JsonKind kind)
{
    if (!g_json || g_depth >= DEPTH_MOST) {
        return;
    }
    json_key(key);
    // Objects inside arrays stand on one line, with what they hold; the
    // rest one member a line.
    const bool array = kind == JSON_ARRAY;
    const Level outer = g_depth > 0 ? g_levels[g_depth - 1] : Level{};
    out(array ? "[" : "{");
    g_levels[g_depth++] = Level{array, outer.inline_ || (outer.array && !array), false};
}

void close_json()
{
    if (!g_json || g_depth == 0) {
        return;
    }
    const Level level = g_levels[--g_depth];
    // A level of members one a line ends on a line of its own.
    const bool own_line = !level.inline_ && level.any;
    out("%s%*s%s%s", own_line ? "\n" : "", own_line ? 2 * g_depth : 0, "", level.array ? "]" : "}",
        g_depth == 0 ? "\n" : "");
}

void print_bytes(const char *key, const char *text_format, const char *value, size_t length)
{
    char shown[SAID_TEXT_SIZE];
    if (g_json && key != nullptr) {
        json_key(key);
        value == nullptr ? out("null") : json_string(value, length);
    } else if (!g_json && text_format != nullptr && value != nullptr) {
        (void)show_text(value, length, shown, sizeof(shown), SHOW_C0_C1);  // empty when too long
        out(text_format, shown);
    }
}

void print_string(const char *key, const char *text_format, const char *value)
{
    print_bytes(key, text_format, value, value == nullptr ? 0 : strlen(value));
}

void print_uint(const char *key, const char *text_format, uint32_t value, bool known)
{
    if (g_json && key != nullptr) {
        json_key(key);
        known ? out("%u", value) : out("null");
    } else if (!g_json && known && text_format != nullptr) {
        out(text_format, value);
    }
}

void print_bool(const char *key, bool value, bool known)
{
    if (g_json) {
        json_key(key);
        out(!known ? "null" : value ? "true" : "false");
    }
}

int warn(const char *format, ...)
{
    char text[SAID_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    char shown[sizeof(text) * 4];
    (void)show_text(text, strlen(text), shown, sizeof(shown), SHOW_C0_C1);
    fprintf(stderr, "%s: %s\n", PROGRAM_NAME, shown);
    return EXIT_TROUBLE;
}
