// The formatted-scan engine: the standard scan rules, with a size argument
// after every %s, %c and %[ destination and fixed rules for out-of-range
// numbers.
#include "bounded/scan_engine.h"

#include "bounded/bounded.h"

#include <climits>
#include <cstring>

namespace {

enum class Length { NONE, HH, H, L, LL, J, Z, T };

// How one directive ended.
enum class Outcome {
    DONE,        // matched; go on with the format
    MATCH_FAIL,  // input did not match: stop, return the fields so far
    INPUT_END,   // input ended: stop, -1 when nothing matched yet
    ERROR,       // null destination or invalid conversion: -1
};

struct Conversion {
    bool suppress;
    size_t width;  // 0: none given
    Length length;
    char kind;
};

// Digits of an integer field, gathered in 64 bits.
struct NumberText {
    uint64_t magnitude;
    bool overflow;  // beyond 64 bits
    bool negative;
};

bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int next_char(ScanInput *in)
{
    if (in->text != nullptr) {
        if (in->text[in->pos] == '\0') {
            return EOF;
        }
        return static_cast<unsigned char>(in->text[in->pos++]);
    }
    int c = fgetc(in->stream);
    if (c != EOF) {
        in->consumed++;
    }
    return c;
}

// Gives back the one character that ended a field.
void unget_char(ScanInput *in, int c)
{
    if (c == EOF) {
        return;
    }
    if (in->text != nullptr) {
        in->pos--;
    } else {
        in->consumed--;
        ungetc(c, in->stream);
    }
}

size_t consumed_so_far(const ScanInput *in)
{
    return in->text != nullptr ? in->pos : in->consumed;
}

// Skips white space; false when the input ended.
bool skip_space(ScanInput *in)
{
    int c = next_char(in);
    while (is_space(c)) {
        c = next_char(in);
    }
    unget_char(in, c);
    return c != EOF;
}

int digit_value(int c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 99;
}

// Reads sign, prefix and digits of one integer field. base 0 picks 8, 10 or
// 16 from the prefix as %i does. A "0x" without hex digits after it reads
// as 0 with the x taken.
Outcome read_number(ScanInput *in, size_t width, unsigned base, NumberText *number)
{
    size_t room = width == 0 ? SIZE_MAX : width;
    bool seenDigit = false;
    *number = NumberText{0, false, false};
    int c = next_char(in);
    if (c == EOF) {
        return Outcome::INPUT_END;
    }
    if (c == '+' || c == '-') {
        number->negative = c == '-';
        room--;
        c = room == 0 ? EOF : next_char(in);
    }
    if (c == '0' && (base == 0 || base == 16) && room > 1) {
        seenDigit = true;
        room--;
        c = next_char(in);
        if (c == 'x' || c == 'X') {
            base = 16;
            room--;
            c = room == 0 ? EOF : next_char(in);
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0) {
        base = 10;
    }
    uint64_t magnitude = 0;
    bool overflow = false;
    while (room > 0 && c != EOF && static_cast<unsigned>(digit_value(c)) < base) {
        auto digit = static_cast<unsigned>(digit_value(c));
        uint64_t next = 0;
        if (__builtin_mul_overflow(magnitude, uint64_t{base}, &next) ||
            __builtin_add_overflow(next, uint64_t{digit}, &next)) {
            overflow = true;
        } else {
            magnitude = next;
        }
        seenDigit = true;
        room--;
        c = room == 0 ? EOF : next_char(in);
    }
    if (room > 0) {
        unget_char(in, c);
    }
    number->magnitude = magnitude;
    number->overflow = overflow;
    return seenDigit ? Outcome::DONE : Outcome::MATCH_FAIL;
}

// Unsigned value of `bits` (32 or 64) bits. For 32 bits: fits → as is,
// fits 64 → low 32 bits, beyond 64 → all ones; a '-' negates modulo 2^32
// up to 4294967296 and gives all ones beyond it.
uint64_t unsigned_value(const NumberText &n, unsigned bits)
{
    uint64_t allOnes = bits >= 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
    if (n.overflow) {
        return allOnes;
    }
    if (n.negative) {
        if (bits < 64 && n.magnitude > (uint64_t{1} << bits)) {
            return allOnes;
        }
        return (0 - n.magnitude) & allOnes;
    }
    return n.magnitude & allOnes;
}

// Signed value clamped to 64 bits, as strtoll gives it.
int64_t signed_value(const NumberText &n)
{
    constexpr uint64_t LIMIT = uint64_t{1} << 63;
    if (n.negative) {
        if (n.overflow || n.magnitude >= LIMIT) {
            return INT64_MIN;
        }
        return -static_cast<int64_t>(n.magnitude);
    }
    if (n.overflow || n.magnitude >= LIMIT) {
        return INT64_MAX;
    }
    return static_cast<int64_t>(n.magnitude);
}

unsigned length_bits(Length length)
{
    switch (length) {
        case Length::HH:
            return CHAR_BIT * sizeof(char);
        case Length::H:
            return CHAR_BIT * sizeof(short);
        case Length::NONE:
            return CHAR_BIT * sizeof(int);
        case Length::L:
            return CHAR_BIT * sizeof(long);
        case Length::LL:
            return CHAR_BIT * sizeof(long long);
        case Length::J:
            return CHAR_BIT * sizeof(intmax_t);
        case Length::Z:
            return CHAR_BIT * sizeof(size_t);
        case Length::T:
            return CHAR_BIT * sizeof(ptrdiff_t);
    }
    return CHAR_BIT * sizeof(int);
}

// Stores the low bits of value through a pointer of the width `length` names.
bool store_integer(va_list *args, Length length, uint64_t value)
{
    void *target = va_arg(*args, void *);
    if (target == nullptr) {
        return false;
    }
    switch (length_bits(length)) {
        case 8:
            *static_cast<uint8_t *>(target) = static_cast<uint8_t>(value);
            break;
        case 16:
            *static_cast<uint16_t *>(target) = static_cast<uint16_t>(value);
            break;
        case 32:
            *static_cast<uint32_t *>(target) = static_cast<uint32_t>(value);
            break;
        default:
            *static_cast<uint64_t *>(target) = value;
            break;
    }
    return true;
}

Outcome scan_integer(ScanInput *in, const Conversion &conv, va_list *args, int32_t *assigned)
{
    unsigned base = 10;
    bool isSigned = false;
    switch (conv.kind) {
        case 'd':
            isSigned = true;
            break;
        case 'i':
            isSigned = true;
            base = 0;
            break;
        case 'o':
            base = 8;
            break;
        case 'x':
        case 'X':
        case 'p':
            base = 16;
            break;
        default:
            break;
    }
    if (!skip_space(in)) {
        return Outcome::INPUT_END;
    }
    NumberText number{};
    Outcome outcome = read_number(in, conv.width, base, &number);
    if (outcome != Outcome::DONE || conv.suppress) {
        return outcome;
    }
    Length length = conv.kind == 'p' ? Length::Z : conv.length;
    unsigned bits = length_bits(length);
    uint64_t value = 0;
    if (isSigned) {
        value = static_cast<uint64_t>(signed_value(number));
    } else {
        value = unsigned_value(number, bits < 32 ? 32 : bits);
    }
    if (!store_integer(args, length, value)) {
        return Outcome::ERROR;
    }
    (*assigned)++;
    return Outcome::DONE;
}

// Parses the scan set after '['; returns the position after ']' or null.
const char *parse_scan_set(const char *f, bool set[256])
{
    bool invert = false;
    if (*f == '^') {
        invert = true;
        f++;
    }
    memset(set, 0, 256);
    const char *first = f;
    while (*f != '\0' && (*f != ']' || f == first)) {
        auto low = static_cast<unsigned char>(*f);
        if (f[1] == '-' && f[2] != ']' && f[2] != '\0' && static_cast<unsigned char>(f[2]) >= low) {
            for (unsigned c = low; c <= static_cast<unsigned char>(f[2]); c++) {
                set[c] = true;
            }
            f += 3;
        } else {
            set[low] = true;
            f++;
        }
    }
    if (*f != ']') {
        return nullptr;
    }
    if (invert) {
        for (int c = 0; c < 256; c++) {
            set[c] = !set[c];
        }
    }
    return f + 1;
}

// %s, %c and %[ (set: the scan set of %[, else null): at most size - 1
// characters and a NUL (size characters and no NUL for %c). One character
// too many empties the destination and stops the scan, leaving that
// character unread.
Outcome scan_characters(ScanInput *in, const Conversion &conv, const bool *set, va_list *args,
                        int32_t *assigned)
{
    char *dest = nullptr;
    size_t size = 0;
    if (!conv.suppress) {
        dest = va_arg(*args, char *);
        size = va_arg(*args, unsigned int);
        if (dest == nullptr) {
            return Outcome::ERROR;
        }
        if (size == 0 || size > BOUNDED_MAX_LEN) {
            return Outcome::MATCH_FAIL;
        }
    }
    bool isChar = conv.kind == 'c';
    size_t limit = conv.width != 0 ? conv.width : (isChar ? 1 : SIZE_MAX);
    size_t room = isChar ? size : size - 1;
    if (conv.kind == 's' && !skip_space(in)) {
        return Outcome::INPUT_END;
    }
    size_t count = 0;
    int c = EOF;
    while (count < limit) {
        c = next_char(in);
        if (c == EOF) {
            break;
        }
        bool accepted = isChar || (conv.kind == 's' ? !is_space(c) : set[c]);
        if (!accepted) {
            unget_char(in, c);
            break;
        }
        if (!conv.suppress) {
            if (count == room) {
                unget_char(in, c);
                dest[0] = '\0';
                return Outcome::MATCH_FAIL;
            }
            dest[count] = static_cast<char>(c);
        }
        count++;
    }
    if (count == 0) {
        return c == EOF ? Outcome::INPUT_END : Outcome::MATCH_FAIL;
    }
    if (!conv.suppress) {
        if (!isChar) {
            dest[count] = '\0';
        }
        (*assigned)++;
    }
    return Outcome::DONE;
}

// Reads flags, width and length of the conversion at f (after '%');
// returns the position after the conversion character, or null if invalid.
const char *parse_conversion(const char *f, Conversion *conv)
{
    *conv = Conversion{false, 0, Length::NONE, '\0'};
    if (*f == '*') {
        conv->suppress = true;
        f++;
    }
    if (*f == '0') {
        return nullptr;
    }
    while (*f >= '0' && *f <= '9') {
        conv->width = conv->width * 10 + static_cast<size_t>(*f - '0');
        if (conv->width > BOUNDED_MAX_LEN) {
            return nullptr;
        }
        f++;
    }
    switch (*f) {
        case 'h':
            f++;
            conv->length = *f == 'h' ? (f++, Length::HH) : Length::H;
            break;
        case 'l':
            f++;
            conv->length = *f == 'l' ? (f++, Length::LL) : Length::L;
            break;
        case 'j':
            f++;
            conv->length = Length::J;
            break;
        case 'z':
            f++;
            conv->length = Length::Z;
            break;
        case 't':
            f++;
            conv->length = Length::T;
            break;
        default:
            break;
    }
    conv->kind = *f;
    if (conv->kind == '\0') {
        return nullptr;
    }
    return f + 1;
}

Outcome scan_literal(ScanInput *in, int expected)
{
    int c = next_char(in);
    if (c == EOF) {
        return Outcome::INPUT_END;
    }
    if (c != expected) {
        unget_char(in, c);
        return Outcome::MATCH_FAIL;
    }
    return Outcome::DONE;
}

// Runs one conversion; *counts tells whether it matched input.
Outcome scan_conversion(ScanInput *in, const char **f, va_list *args, int32_t *assigned,
                        bool *counts)
{
    Conversion conv{};
    const char *after = parse_conversion(*f, &conv);
    if (after == nullptr) {
        return Outcome::ERROR;
    }
    *counts = true;
    bool set[256];  // filled only for %[
    switch (conv.kind) {
        case '%':
            if (conv.suppress || conv.width != 0 || conv.length != Length::NONE) {
                return Outcome::ERROR;
            }
            *f = after;
            return skip_space(in) ? scan_literal(in, '%') : Outcome::INPUT_END;
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            *f = after;
            return scan_integer(in, conv, args, assigned);
        case 'p':
            if (conv.length != Length::NONE) {
                return Outcome::ERROR;
            }
            *f = after;
            return scan_integer(in, conv, args, assigned);
        case 'n':
            *counts = false;
            *f = after;
            if (!conv.suppress && !store_integer(args, conv.length, consumed_so_far(in))) {
                return Outcome::ERROR;
            }
            return Outcome::DONE;
        case '[':
            after = parse_scan_set(after, set);
            if (after == nullptr) {
                return Outcome::ERROR;
            }
            [[fallthrough]];
        case 's':
        case 'c':
            if (conv.length != Length::NONE) {
                return Outcome::ERROR;  // wide characters are not supported
            }
            *f = after;
            return scan_characters(in, conv, conv.kind == '[' ? set : nullptr, args, assigned);
        default:
            return Outcome::ERROR;  // floating point and unknown conversions
    }
}

int32_t scan_with(ScanInput *in, const char *format, va_list *args)
{
    int32_t assigned = 0;
    bool matched = false;
    const char *f = format;
    while (*f != '\0') {
        Outcome outcome = Outcome::DONE;
        bool counts = true;
        if (is_space(static_cast<unsigned char>(*f))) {
            while (is_space(static_cast<unsigned char>(*f))) {
                f++;
            }
            skip_space(in);
            continue;
        }
        if (*f == '%') {
            f++;
            outcome = scan_conversion(in, &f, args, &assigned, &counts);
        } else {
            outcome = scan_literal(in, static_cast<unsigned char>(*f));
            f++;
        }
        switch (outcome) {
            case Outcome::DONE:
                matched = matched || counts;
                break;
            case Outcome::MATCH_FAIL:
                return assigned;
            case Outcome::INPUT_END:
                return (assigned == 0 && !matched) ? -1 : assigned;
            case Outcome::ERROR:
                return -1;
        }
    }
    return assigned;
}

}  // namespace

int32_t scan_engine(ScanInput *in, const char *format, va_list *args)
{
    return scan_with(in, format, args);
}

void scan_clear_first_string(const char *format, va_list *args)
{
    const char *f = strchr(format, '%');
    while (f != nullptr && f[1] == '%') {
        f = strchr(f + 2, '%');
    }
    if (f == nullptr) {
        return;
    }
    Conversion conv{};
    if (parse_conversion(f + 1, &conv) == nullptr || conv.suppress || conv.length != Length::NONE ||
        (conv.kind != 's' && conv.kind != 'c' && conv.kind != '[')) {
        return;
    }
    char *dest = va_arg(*args, char *);
    unsigned int size = va_arg(*args, unsigned int);
    if (dest != nullptr && size != 0) {
        dest[0] = '\0';
    }
}
