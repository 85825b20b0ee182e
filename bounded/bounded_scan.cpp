// Formatted scan of standard input and of a text, one character at a time,
// for the conversions the program uses: %s with its size argument, %u and %x
// with the 32-bit number rule, and %n.
#include "bounded/bounded.h"

#include <cctype>
#include <cstdio>

namespace {

enum class Outcome { DONE, MATCH_FAIL, INPUT_END };

// The text being scanned, or standard input when text is null.
struct Source {
    const char *text;
    size_t taken;  // characters consumed so far
};

int next_char(Source *in)
{
    const int c = in->text == nullptr           ? getc(stdin)
                  : in->text[in->taken] == '\0' ? EOF
                                                : static_cast<unsigned char>(in->text[in->taken]);
    in->taken += c == EOF ? 0 : 1;
    return c;
}

// The one character that ended a field stays unread, for the next call too.
void put_back(Source *in, int c)
{
    if (c != EOF) {
        in->taken--;
        if (in->text == nullptr) {
            ungetc(c, stdin);
        }
    }
}

// The first character after white space, consumed.
int skip_space(Source *in)
{
    int c = next_char(in);
    while (c != EOF && isspace(c) != 0) {
        c = next_char(in);
    }
    return c;
}

// %s: at most size - 1 characters and a NUL. A longer word empties the
// destination and stops the scan; the rest of it stays unread.
Outcome scan_word(Source *in, char *dest, unsigned int size)
{
    if (size == 0 || size > BOUNDED_MAX_LEN) {
        return Outcome::MATCH_FAIL;
    }
    int c = skip_space(in);
    if (c == EOF) {
        return Outcome::INPUT_END;
    }
    size_t length = 0;
    for (; c != EOF && isspace(c) == 0; c = next_char(in)) {
        if (length == size - 1) {
            put_back(in, c);
            dest[0] = '\0';
            return Outcome::MATCH_FAIL;
        }
        dest[length++] = static_cast<char>(c);
    }
    put_back(in, c);
    dest[length] = '\0';
    return Outcome::DONE;
}

// %u and %x into 32 bits: the digits are gathered in 64 bits, all ones
// beyond them; a value that fits 64 bits keeps its low 32 bits; '-' negates
// modulo 2^32 up to 4294967296 and gives all ones beyond it. %x takes a 0x
// after the sign, and its x even when no hex digit follows.
Outcome scan_number(Source *in, bool hex, uint32_t *dest)
{
    int c = skip_space(in);
    if (c == EOF) {
        return Outcome::INPUT_END;
    }
    const bool minus = c == '-';
    c = c == '-' || c == '+' ? next_char(in) : c;
    bool digits = false;
    if (hex && c == '0') {
        digits = true;
        c = next_char(in);
        c = c == 'x' || c == 'X' ? next_char(in) : c;
    }
    const uint64_t base = hex ? 16 : 10;
    uint64_t value = 0;
    bool beyond = false;
    for (; c != EOF && (hex ? isxdigit(c) : isdigit(c)) != 0; c = next_char(in)) {
        const auto digit = static_cast<uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        beyond = beyond || value > (UINT64_MAX - digit) / base;
        value = value * base + digit;
        digits = true;
    }
    put_back(in, c);
    if (!digits) {
        return Outcome::MATCH_FAIL;
    }
    *dest = beyond || (minus && value > 0x100000000ULL)
                ? UINT32_MAX
                : static_cast<uint32_t>(minus ? 0 - value : value);
    return Outcome::DONE;
}

// Fields assigned, or -1: a directive other than %s, %u, %x and %n, a null
// destination, or input that ended before any field was assigned. An empty
// text only empties the destination of a first %s whose size is not 0.
int32_t scan(Source in, const char *format, va_list args)
{
    if (in.text != nullptr && in.text[0] == '\0') {
        char *dest = format[0] == '%' && format[1] == 's' ? va_arg(args, char *) : nullptr;
        if (dest != nullptr && va_arg(args, unsigned int) != 0) {
            dest[0] = '\0';
        }
        return STATUS_FAILED;
    }
    int32_t assigned = 0;
    for (const char *f = format; *f != '\0'; f += 2) {
        const char kind = f[0] == '%' ? f[1] : '\0';
        if (kind != 's' && kind != 'u' && kind != 'x' && kind != 'n') {
            return STATUS_FAILED;
        }
        void *dest = va_arg(args, void *);
        if (dest == nullptr) {
            return STATUS_FAILED;
        }
        if (kind == 'n') {
            *static_cast<int *>(dest) = static_cast<int>(in.taken);
            continue;
        }
        const Outcome outcome =
            kind == 's' ? scan_word(&in, static_cast<char *>(dest), va_arg(args, unsigned int))
                        : scan_number(&in, kind == 'x', static_cast<uint32_t *>(dest));
        if (outcome != Outcome::DONE) {
            return outcome == Outcome::INPUT_END && assigned == 0 ? STATUS_FAILED : assigned;
        }
        assigned++;
    }
    return assigned;
}

}  // namespace

int32_t vscanf_s(const char *format, va_list args)
{
    return format == nullptr ? STATUS_FAILED : scan(Source{nullptr, 0}, format, args);
}

int32_t scanf_s(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t result = vscanf_s(format, args);
    va_end(args);
    return result;
}

int32_t vsscanf_s(const char *buffer, const char *format, va_list args)
{
    return buffer == nullptr || format == nullptr ? STATUS_FAILED
                                                  : scan(Source{buffer, 0}, format, args);
}

int32_t sscanf_s(const char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t result = vsscanf_s(buffer, format, args);
    va_end(args);
    return result;
}
