#include "bounded/shown_text.h"

#include <cstring>

#include "bounded/status.h"

namespace {

constexpr size_t ESCAPE_LENGTH = 4;  // \xHH
constexpr char CUT_MARK[] = "...";
constexpr size_t CUT_LENGTH = sizeof(CUT_MARK) - 1;

bool is_c1(unsigned char byte)
{
    return byte >= 0x80 && byte <= 0x9F;
}

}  // namespace

size_t utf8_length(const unsigned char *text, size_t left)
{
    // The smallest code point of each length, so that no longer form stands in.
    constexpr uint32_t LEAST[] = {0x80, 0x800, 0x10000};  // by length - 2
    const unsigned char lead = text[0];
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || length > left) {
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
    return (code < LEAST[length - 2] || code > 0x10FFFF || surrogate) ? 0 : length;
}

int32_t show_text(const char *text, size_t length, char *out, size_t size, ShownBytes which,
                  ShownFit fit)
{
    static constexpr char HEX[] = "0123456789ABCDEF";
    if (out == nullptr || size == 0) {
        return STATUS_FAILED;
    }
    out[0] = '\0';
    if (text == nullptr) {
        return STATUS_FAILED;
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t used = 0;
    size_t kept = 0;  // the end of the last whole unit that leaves room for the mark
    for (size_t i = 0; i < length;) {
        // A whole character is one unit, kept or cut as one, and copied as
        // it is unless it is a C1 control.
        const size_t character = bytes[i] >= 0x80 ? utf8_length(bytes + i, length - i) : 0;
        const size_t run = character == 0 ? 1 : character;
        bool escape = bytes[i] < 0x20 || bytes[i] == 0x7F;  // a C0 control
        if (which == SHOW_C0_C1 && bytes[i] >= 0x80) {
            escape = character == 0 ? is_c1(bytes[i]) : (bytes[i] == 0xC2 && is_c1(bytes[i + 1]));
        }
        const size_t needed = escape ? ESCAPE_LENGTH * run : run;
        if (used + needed >= size) {
            if (fit == SHOW_WHOLE || size <= CUT_LENGTH) {
                out[0] = '\0';
                return STATUS_FAILED;
            }
            memcpy(out + kept, CUT_MARK, CUT_LENGTH);
            used = kept + CUT_LENGTH;
            break;
        }
        for (size_t k = 0; k < run; ++k) {
            const unsigned char byte = bytes[i + k];
            if (escape) {
                out[used++] = '\\';
                out[used++] = 'x';
                out[used++] = HEX[byte >> 4];
                out[used++] = HEX[byte & 0x0F];
            } else {
                out[used++] = static_cast<char>(byte);
            }
        }
        i += run;
        kept = used + CUT_LENGTH < size ? used : kept;
    }
    out[used] = '\0';
    return static_cast<int32_t>(used);
}
