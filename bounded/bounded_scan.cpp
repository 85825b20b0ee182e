// Formatted scan of standard input and of a text. Each directive of the
// format runs through the C library's own scanning; what is added here is
// the size argument of %s, %c and %[, the 32-bit number rule and the
// result rules.
#include "bounded/bounded.h"

#include <cctype>
#include <cstdio>
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
// character (kind '\0') or one conversion.
struct Directive {
    const char *start;
    size_t length;
    bool suppress;
    size_t width;  // 0: none given
    char modifier[3];
    char kind;
    const char *set;  // %[: the scan set after '[', its ']' included
    size_t setLength;
};

bool is_space(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

bool one_of(char c, const char *chars)
{
    return c != '\0' && strchr(chars, c) != nullptr;
}

// Reads the directive at *f; false when its conversion is invalid.
bool next_directive(const char **f, Directive *d)
{
    const char *p = *f;
    *d = Directive{p, 0, false, 0, "", '\0', nullptr, 0};
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
        size_t modifierLength = one_of(*p, "hljztL") ? 1 : 0;
        if ((*p == 'h' || *p == 'l') && p[1] == *p) {
            modifierLength = 2;
        }
        memcpy(d->modifier, p, modifierLength);
        p += modifierLength;
        d->kind = *p++;
        if (!one_of(d->kind, "diouxXaAeEfFgGpcs[n%") || (d->kind == '%' && p != d->start + 2)) {
            return false;
        }
        if (d->kind == '[') {
            d->set = p;
            p += *p == '^' ? 1 : 0;
            p += *p == ']' ? 1 : 0;
            p = strchr(p, ']');
            if (p == nullptr) {
                return false;
            }
            p++;
            d->setLength = static_cast<size_t>(p - d->set);
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

// Skips white space as a " " directive does (a text without the library's
// set-up cost for each call).
void skip_space(Source *in)
{
    if (in->text == nullptr) {
        run(in, nullptr, " ");
        return;
    }
    while (is_space(in->text[in->taken])) {
        in->taken++;
    }
}

// %s, %c and %[: at most size - 1 characters and a NUL (size characters
// for %c). A field that goes on past them empties the destination and
// stops the scan; the rest of it stays unread.
Outcome scan_field(Source *in, const Directive &d, char *dest, unsigned int size)
{
    if (size == 0 || size > BOUNDED_MAX_LEN) {
        return Outcome::MATCH_FAIL;
    }
    // %s is a run of non-space characters after the white space it skips.
    char kind = d.kind == 's' ? '[' : d.kind;
    const char *set = d.kind == 's' ? "^ \t\n\v\f\r]" : d.kind == '[' ? d.set : "";
    int setLength = static_cast<int>(d.kind == 's' ? strlen(set) : d.setLength);
    if (d.kind == 's') {
        skip_space(in);
    }
    size_t room = d.kind == 'c' ? size : size - 1;
    size_t width = d.width != 0 ? d.width : d.kind == 'c' ? 1 : 0;
    bool bounded = width != 0 && width <= room;
    size_t wanted = bounded ? width : room;
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

// %u, %o, %x and %X into 32 bits: the C library gathers the digits in 64
// bits (all ones beyond them, '-' negating modulo 2^64); a '-' before a
// value above 2^32 gives all ones, anything else keeps the low 32 bits.
Outcome scan_number(Source *in, const Directive &d, uint32_t *dest)
{
    skip_space(in);
    int next = in->text != nullptr ? in->text[in->taken] : ungetc(getc(stdin), stdin);
    unsigned long long value = 0;
    Outcome read = run(in, &value, "%.*sll%c", static_cast<int>(d.length - 1), d.start, d.kind);
    if (read == Outcome::DONE) {
        bool beyond = next == '-' && value != 0 && value < 0xFFFFFFFF00000000ULL;
        *dest = beyond ? UINT32_MAX : static_cast<uint32_t>(value);
    }
    return read;
}

// %n: the characters consumed so far, at the width its modifier names.
void store_count(const Source *in, const Directive &d, void *dest)
{
    auto n = static_cast<long long>(in->taken);
    if (strcmp(d.modifier, "hh") == 0) {
        *static_cast<signed char *>(dest) = static_cast<signed char>(n);
    } else if (strcmp(d.modifier, "h") == 0) {
        *static_cast<short *>(dest) = static_cast<short>(n);
    } else if (d.modifier[0] == '\0') {
        *static_cast<int *>(dest) = static_cast<int>(n);
    } else {
        *static_cast<long long *>(dest) = n;
    }
}

Outcome scan_directive(Source *in, const Directive &d, va_list *args, int32_t *assigned)
{
    bool plain = d.modifier[0] == '\0';
    if (one_of(d.kind, "sc[") && !plain) {
        return Outcome::ERROR;  // wide characters are not supported
    }
    bool assigns = !d.suppress && one_of(d.kind, "diouxXaAeEfFgGpcs[n");
    void *dest = assigns ? va_arg(*args, void *) : nullptr;
    if (assigns && dest == nullptr) {
        return Outcome::ERROR;
    }
    Outcome outcome = Outcome::DONE;
    if (d.kind == 'n') {
        if (assigns) {
            store_count(in, d, dest);
        }
        return outcome;
    }
    if (assigns && one_of(d.kind, "sc[")) {
        outcome = scan_field(in, d, static_cast<char *>(dest), va_arg(*args, unsigned int));
    } else if (assigns && plain && one_of(d.kind, "uoxX")) {
        outcome = scan_number(in, d, static_cast<uint32_t *>(dest));
    } else {
        // Anything else is the C library's as it stands.
        outcome = run(in, dest, "%.*s", static_cast<int>(d.length), d.start);
    }
    *assigned += outcome == Outcome::DONE && assigns ? 1 : 0;
    return outcome;
}

// Fields assigned; -1 when a conversion is invalid or the input ended
// before any directive (white space and %n aside) matched.
int32_t scan(Source *in, const char *format, va_list *args)
{
    int32_t assigned = 0;
    bool matched = false;
    for (const char *f = format; *f != '\0';) {
        Directive d{};
        if (!next_directive(&f, &d)) {
            return STATUS_FAILED;
        }
        switch (scan_directive(in, d, args, &assigned)) {
            case Outcome::DONE:
                matched = matched || (d.kind != ' ' && d.kind != 'n');
                break;
            case Outcome::MATCH_FAIL:
                return assigned;
            case Outcome::INPUT_END:
                return matched ? assigned : STATUS_FAILED;
            case Outcome::ERROR:
                return STATUS_FAILED;
        }
    }
    return assigned;
}

// An empty text still empties the destination of a first %s, %c or %[
// whose size is not 0.
void clear_first_field(const char *format, va_list *args)
{
    Directive d{};
    for (const char *f = format; *f != '\0' && next_directive(&f, &d);) {
        if (d.kind == ' ' || d.kind == '\0' || d.kind == '%') {
            continue;
        }
        if (one_of(d.kind, "sc[") && !d.suppress && d.modifier[0] == '\0') {
            char *dest = va_arg(*args, char *);
            if (dest != nullptr && va_arg(*args, unsigned int) != 0) {
                dest[0] = '\0';
            }
        }
        return;
    }
}

}  // namespace

int32_t vscanf_s(const char *format, va_list args)
{
    if (format == nullptr) {
        return STATUS_FAILED;
    }
    va_list local;
    va_copy(local, args);
    Source in{nullptr, 0};
    int32_t result = scan(&in, format, &local);
    va_end(local);
    return result;
}

int32_t scanf_s(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = vscanf_s(format, args);
    va_end(args);
    return result;
}

int32_t vsscanf_s(const char *buffer, const char *format, va_list args)
{
    if (buffer == nullptr || format == nullptr) {
        return STATUS_FAILED;
    }
    va_list local;
    va_copy(local, args);
    Source in{buffer, 0};
    int32_t result = STATUS_FAILED;
    if (buffer[0] == '\0') {
        clear_first_field(format, &local);
    } else {
        result = scan(&in, format, &local);
    }
    va_end(local);
    return result;
}

int32_t sscanf_s(const char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = vsscanf_s(buffer, format, args);
    va_end(args);
    return result;
}
