#include "zorvitemplate/voice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>

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

void say(const char *format, ...)
{
    fprintf(stderr, "%s: ", PROGRAM_NAME);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}

namespace {

// Length of the UTF-8 sequence at `text`, or 0 when it is none.
size_t utf8_length(const unsigned char *text, size_t left)
{
    const unsigned char lead = text[0];
    size_t length = 0;
    uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        least = 0x10000;
    } else {
        return 0;
    }
    if (length > left) {
        return 0;
    }
    uint32_t code = lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (text[i] & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return (code < least || code > 0x10FFFF || surrogate) ? 0 : length;
}

}  // namespace

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
