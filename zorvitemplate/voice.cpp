#include "zorvitemplate/voice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "bounded/shown_text.h"

int hush_libraries()
{
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0) {
        if (saved >= 0) {
            close(saved);
        }
        if (null >= 0) {
            close(null);
        }
        return -1;
    }
    close(null);
    return saved;
}

void unhush_libraries(int saved)
{
    if (saved < 0) {
        return;
    }
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
}

void put_shown_line(FILE *out, const char *format, ...)
{
    char text[SAID_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    char shown[sizeof(text) * 4];
    if (show_text(text, strlen(text), shown, sizeof(shown), SHOW_C0_C1) >= 0) {
        fputs(shown, out);
    }
    fputc('\n', out);
}

void say(const char *format, ...)
{
    char text[SAID_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    put_shown_line(stderr, "%s: %s", PROGRAM_NAME, text);
}

void put_json_string(FILE *out, const char *text, size_t length)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    fputc('"', out);
    for (size_t i = 0; i < length;) {
        const unsigned char byte = bytes[i];
        if (byte == '"' || byte == '\\') {
            fputc('\\', out);
            fputc(byte, out);
        } else if (byte == '\n') {
            fputs("\\n", out);
        } else if (byte == '\t') {
            fputs("\\t", out);
        } else if (byte < 0x20 || byte == 0x7F) {
            fprintf(out, "\\u%04x", byte);
        } else if (byte >= 0x80) {
            const size_t sequence = utf8_length(bytes + i, length - i);
            if (sequence == 0) {
                fputs("\\ufffd", out);
                ++i;
            } else if (byte == 0xC2 && bytes[i + 1] <= 0x9F) {
                // U+0080 to U+009F, C1 controls: escaped like the C0 ones.
                fprintf(out, "\\u%04x", bytes[i + 1]);
                i += sequence;
            } else {
                fwrite(bytes + i, 1, sequence, out);
                i += sequence;
            }
            continue;
        } else {
            fputc(byte, out);
        }
        ++i;
    }
    fputc('"', out);
}

void put_json_text(FILE *out, const char *text)
{
    put_json_string(out, text, strlen(text));
}
