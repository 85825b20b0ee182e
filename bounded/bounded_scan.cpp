// Formatted scan of standard input and of a text. Each directive of the
// format runs through the C library's own scanning; what is added here is
// the size argument of %s, %c and %[, the 32-bit number rule and the
// result rules.
#include "bounded/bounded.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The directives handed to the C library are built here from pieces of the
// caller's format that next_directive has checked.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {

// Room for one directive with the "%ln" that follows it.
constexpr size_t DIRECTIVE_SIZE = 128;

enum class Outcome { DONE, MATCH_FAIL, INPUT_END, ERROR };

// The text being scanned, or standard input when text is null.
struct Source {
    const char *text;
    size_t taken;  // characters consumed so far
};

// One directive of the format: white space (kind ' '), one literal
// character (kind '\0') or one conversion, whose letter `tail` follows (a
// scan set and its ']' for %[).
struct Directive {
    const char *start;
    size_t length;
    bool suppress;
    size_t width;  // 0: none given
    char modifier[3];
    char kind;
    const char *tail;
};

bool is_space(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

// Whether c is one of the characters; the NUL that ends them is not.
bool one_of(char c, const char *chars)
{
    return c != '\0' && strchr(chars, c) != nullptr;
}

// Reads the directive at *f; false when its conversion is invalid.
bool next_directive(const char **f, Directive *d)
{
    const char *p = *f;
    *d = Directive{p, 0, false, 0, "", '\0', nullptr};
    if (is_space(*p)) {
        d->kind = ' ';
        while (is_space(*p)) {
            p++;
        }
    } else if (*p++ == '%') {
        d->suppress = *p == '*';
        p += d->suppress ? 1 : 0;
        for (; *p >= '0' && *p <= '9'; p++) {
            d->width = d->width * 10 + static_cast<size_t>(*p - '0');
        }
        const size_t modifierLength = (*p == 'h' || *p == 'l') && p[1] == *p ? 2
                                      : one_of(*p, "hljztL")                 ? 1
                                                                             : 0;
        memcpy(d->modifier, p, modifierLength);
        p += modifierLength;
        d->kind = *p++;
        d->tail = p;
        if (!one_of(d->kind, "uxXoscdi[n%aAeEfFgGp") || (d->kind == '%' && p != d->start + 2)) {
            return false;
        }
        if (d->kind == '[') {
            p += *p == '^' ? 1 : 0;
            p = strchr(*p == ']' ? p + 1 : p, ']');
            if (p == nullptr) {
                return false;
            }
            p++;
        }
    }
    d->length = static_cast<size_t>(p - d->start);
    *f = p;
    return true;
}

// Runs one directive, built from `pattern` as printf would, on the source:
// the C library reads it and stores into dest (if any), and the "%ln" added
// after it tells whether and how far it matched.
__attribute__((format(printf, 3, 4))) Outcome run(Source *in, void *dest, const char *pattern, ...)
{
    char directive[DIRECTIVE_SIZE];
    va_list parts;
    va_start(parts, pattern);
    int length = vsnprintf(directive, sizeof directive - 3, pattern, parts);
    va_end(parts);
    if (length < 0 || static_cast<size_t>(length) >= sizeof directive - 3) {
        return Outcome::ERROR;
    }
    strcpy(directive + length, "%ln");
    long taken = -1;
    void *first = dest != nullptr ? dest : &taken;  // a directive without one takes only &taken
    int result = in->text != nullptr ? sscanf(in->text + in->taken, directive, first, &taken)
                                     : scanf(directive, first, &taken);
    if (taken < 0) {
        return result == EOF ? Outcome::INPUT_END : Outcome::MATCH_FAIL;
    }
    in->taken += static_cast<size_t>(taken);
    return Outcome::DONE;
}

// %s, %c and %[: at most size - 1 characters and a NUL (size characters
// for %c). A field that goes on past them empties the destination and
// stops the scan; the rest of it stays unread.
Outcome scan_field(Source *in, const Directive &d, char *dest, unsigned int size)
{
    if (size == 0 || size > BOUNDED_MAX_LEN) {
        return Outcome::MATCH_FAIL;
    }
    // %s is a run of non-space characters after the white space it skips:
    // as a scan set, the look-ahead below skips nothing.
    const bool word = d.kind == 's';
    const char *set = word ? "^ \t\n\v\f\r]" : d.tail;
    const auto setLength =
        static_cast<int>(word ? strlen(set) : static_cast<size_t>(d.start + d.length - d.tail));
    if (word) {
        run(in, nullptr, " ");
    }
    const char kind = word ? '[' : d.kind;
    const size_t room = d.kind == 'c' ? size : size - 1;
    const size_t width = d.width != 0 ? d.width : d.kind == 'c' ? 1 : 0;
    const bool bounded = width != 0 && width <= room;
    const size_t wanted = bounded ? width : room;
    if (wanted > 0) {
        Outcome read = run(in, dest, "%%%zu%c%.*s", wanted, kind, setLength, set);
        if (read != Outcome::DONE || bounded) {
            return read;
        }
    }
    char one[2];
    Outcome more = run(in, one, "%%1%c%.*s", kind, setLength, set);
    if (more != Outcome::DONE) {
        return wanted == 0 ? more : Outcome::DONE;
    }
    in->taken--;
    if (in->text == nullptr) {
        ungetc(static_cast<unsigned char>(one[0]), stdin);
    }
    dest[0] = '\0';
    return Outcome::MATCH_FAIL;
}

// %u, %o, %x and %X into 32 bits: the digits are gathered in 64 bits as the
// C library's %llu does (all ones beyond them, '-' negating modulo 2^64); a
// '-' before a value above 2^32 gives all ones, anything else keeps the low
// 32 bits. A text without a width goes to strtoull, the conversion behind
// %llu, without the set-up of a scan for each number.
Outcome scan_number(Source *in, const Directive &d, uint32_t *dest)
{
    unsigned long long value = 0;
    char sign = '\0';
    Outcome read = Outcome::DONE;
    if (in->text != nullptr && d.width == 0) {
        const char *start = in->text + in->taken;
        while (is_space(*start)) {
            start++;
        }
        sign = *start;
        const bool hex = d.kind == 'x' || d.kind == 'X';
        char *end = nullptr;
        value = strtoull(start, &end, hex ? 16 : d.kind == 'o' ? 8 : 10);
        // A "0x" that no hex digit follows: the scan takes the x too.
        const char *digits = start + (sign == '-' || sign == '+' ? 1 : 0);
        end += hex && end == digits + 1 && *digits == '0' && (*end == 'x' || *end == 'X') ? 1 : 0;
        in->taken = static_cast<size_t>(end - in->text);
        read = end != start   ? Outcome::DONE
               : sign == '\0' ? Outcome::INPUT_END
                              : Outcome::MATCH_FAIL;
    } else {
        run(in, nullptr, " ");
        sign = static_cast<char>(in->text != nullptr ? in->text[in->taken]
                                                     : ungetc(getc(stdin), stdin));
        read = run(in, &value, "%.*sll%c", static_cast<int>(d.length - 1), d.start, d.kind);
    }
    if (read == Outcome::DONE) {
        const bool beyond = sign == '-' && value != 0 && value < 0xFFFFFFFF00000000ULL;
        *dest = beyond ? UINT32_MAX : static_cast<uint32_t>(value);
    }
    return read;
}

// %n: the characters consumed so far, at the width its modifier names.
void store_count(const Source *in, const Directive &d, void *dest)
{
    const auto n = static_cast<long long>(in->taken);
    if (d.modifier[0] == 'h' && d.modifier[1] == 'h') {
        *static_cast<signed char *>(dest) = static_cast<signed char>(n);
    } else if (d.modifier[0] == 'h') {
        *static_cast<short *>(dest) = static_cast<short>(n);
    } else if (d.modifier[0] == '\0') {
        *static_cast<int *>(dest) = static_cast<int>(n);
    } else {
        *static_cast<long long *>(dest) = n;
    }
}

Outcome scan_directive(Source *in, const Directive &d, va_list *args, int32_t *assigned)
{
    const bool plain = d.modifier[0] == '\0', field = one_of(d.kind, "sc[");
    if (field && !plain) {
        return Outcome::ERROR;  // wide characters are not supported
    }
    const bool assigns = !d.suppress && one_of(d.kind, "uxXoscdi[naAeEfFgGp");
    void *dest = assigns ? va_arg(*args, void *) : nullptr;
    if (assigns && dest == nullptr) {
        return Outcome::ERROR;
    }
    Outcome outcome = Outcome::DONE;
    if (assigns && d.kind == 'n') {
        store_count(in, d, dest);
        return outcome;
    }
    if (assigns && field) {
        outcome = scan_field(in, d, static_cast<char *>(dest), va_arg(*args, unsigned int));
    } else if (assigns && plain && one_of(d.kind, "uoxX")) {
        outcome = scan_number(in, d, static_cast<uint32_t *>(dest));
    } else if (d.kind != 'n') {
        // Anything else is the C library's as it stands.
        outcome = run(in, dest, "%.*s", static_cast<int>(d.length), d.start);
    }
    *assigned += outcome == Outcome::DONE && assigns ? 1 : 0;
    return outcome;
}

// Fields assigned; -1 when a conversion is invalid or the input ended
// before any directive (white space and %n aside) matched. An empty text
// only empties the destination of a first %s, %c or %[ whose size is not 0.
int32_t scan(Source *in, const char *format, va_list *args)
{
    int32_t assigned = 0;
    bool matched = false;
    const bool empty = in->text != nullptr && in->text[0] == '\0';
    Directive d{};
    for (const char *f = format; *f != '\0';) {
        if (!next_directive(&f, &d)) {
            return STATUS_FAILED;
        }
        if (empty && (d.kind == ' ' || d.kind == '\0' || d.kind == '%')) {
            continue;
        }
        if (empty) {
            char *dest = !d.suppress && one_of(d.kind, "sc[") && d.modifier[0] == '\0'
                             ? va_arg(*args, char *)
                             : nullptr;
            if (dest != nullptr && va_arg(*args, unsigned int) != 0) {
                dest[0] = '\0';
            }
            return STATUS_FAILED;
        }
        const Outcome outcome = scan_directive(in, d, args, &assigned);
        if (outcome == Outcome::ERROR || (outcome == Outcome::INPUT_END && !matched)) {
            return STATUS_FAILED;
        }
        if (outcome != Outcome::DONE) {
            return assigned;
        }
        matched = matched || (d.kind != ' ' && d.kind != 'n');
    }
    return empty ? STATUS_FAILED : assigned;
}

// The text, or standard input when it is null.
int32_t scan_source(const char *text, const char *format, va_list args)
{
    va_list local;
    va_copy(local, args);
    Source in{text, 0};
    const int32_t result = scan(&in, format, &local);
    va_end(local);
    return result;
}

}  // namespace

int32_t vscanf_s(const char *format, va_list args)
{
    return format == nullptr ? STATUS_FAILED : scan_source(nullptr, format, args);
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
                                                  : scan_source(buffer, format, args);
}

int32_t sscanf_s(const char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t result = vsscanf_s(buffer, format, args);
    va_end(args);
    return result;
}
