// The unsigned number rules of the bounded scan (%u and %x), written out
// independently so that fuzz targets can predict a conversion.
#pragma once

#include <cstdint>

namespace zorvifuzz {

struct ScanResult {
    int32_t result;  // what sscanf_s returns: -1, 0 or 1
    uint32_t value;  // stored when result is 1
};

inline bool is_scan_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline int digit_of(char c, unsigned base)
{
    int value = 99;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < static_cast<int>(base) ? value : -1;
}

// One unsigned field: sign, 0x prefix for base 16, digits gathered in 64
// bits; too big for 64 bits is all ones, a minus negates modulo 2^32 up to
// 2^32 and is all ones beyond. An empty or blank text ends the input: -1.
inline ScanResult model_number(const char *text, unsigned base)
{
    while (is_scan_space(*text)) {
        ++text;
    }
    if (*text == '\0') {
        return {-1, 0};
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    bool digits = false;
    if (base == 16 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        digits = true;  // "0x" alone reads as 0
        text += 2;
    }
    unsigned __int128 magnitude = 0;
    bool overflow = false;
    for (; digit_of(*text, base) >= 0; ++text) {
        digits = true;
        magnitude = magnitude * base + static_cast<unsigned>(digit_of(*text, base));
        if (magnitude > UINT64_MAX) {
            overflow = true;
            magnitude = 0;
        }
    }
    if (!digits) {
        return {0, 0};
    }
    if (overflow) {
        return {1, UINT32_MAX};
    }
    auto m = static_cast<uint64_t>(magnitude);
    if (negative) {
        return {1, m > (uint64_t{1} << 32) ? UINT32_MAX : static_cast<uint32_t>(0 - m)};
    }
    return {1, static_cast<uint32_t>(m)};
}

}  // namespace zorvifuzz
