// Bounded string copy and concatenation.
#include "bounded/bounded.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// True when [a, a + len] and [b, b + len] share a byte (both ends included).
bool spans_overlap(const char *a, const char *b, size_t len)
{
    auto pa = reinterpret_cast<uintptr_t>(a);
    auto pb = reinterpret_cast<uintptr_t>(b);
    return pa < pb ? pb - pa <= len : pa - pb <= len;
}

int32_t reset_string(char *dest, int32_t status)
{
    dest[0] = '\0';
    return status;
}

// Checks shared by every string function, in their order: a bad
// destination is left untouched, a missing source or a count above the
// limit empties it (the functions without a count pass 0). 0 lets the
// caller go on.
int32_t check_arguments(char *dest, size_t destMax, const char *src, size_t count)
{
    if (destMax == 0 || destMax > BOUNDED_MAX_LEN) {
        return ERANGE;
    }
    if (dest == nullptr) {
        return EINVAL;
    }
    if (src == nullptr) {
        return reset_string(dest, EINVAL_RESET);
    }
    if (count > BOUNDED_MAX_LEN) {
        return reset_string(dest, ERANGE_RESET);
    }
    return 0;
}

int32_t concatenate(char *dest, size_t destMax, const char *src, size_t srcLimit, bool limitIsCount)
{
    size_t destLen = strnlen(dest, destMax);
    size_t srcLen = strnlen(src, limitIsCount ? srcLimit : destMax - destLen);
    auto d = reinterpret_cast<uintptr_t>(dest);
    auto s = reinterpret_cast<uintptr_t>(src);
    bool overlap = (s > d && d + destLen + srcLen >= s) || (s < d && d <= s + srcLen);
    if (overlap) {
        bool noTerminator = s >= d + destLen && destLen == destMax;
        return reset_string(dest, noTerminator ? EINVAL_RESET : EOVERLAP_RESET);
    }
    if (destLen + srcLen < destMax && dest != src) {
        memcpy(dest + destLen, src, srcLen);
        dest[destLen + srcLen] = '\0';
        return 0;
    }
    return reset_string(dest, destLen == destMax ? EINVAL_RESET : ERANGE_RESET);
}

}  // namespace

int32_t strcpy_s(char *dest, size_t destMax, const char *src)
{
    int32_t status = check_arguments(dest, destMax, src, 0);
    if (status != 0) {
        return status;
    }
    size_t len = strnlen(src, destMax);
    if (len >= destMax) {
        return reset_string(dest, ERANGE_RESET);
    }
    if (dest == src) {
        return 0;
    }
    if (spans_overlap(dest, src, len)) {
        return reset_string(dest, EOVERLAP_RESET);
    }
    memcpy(dest, src, len + 1);
    return 0;
}

int32_t strncpy_s(char *dest, size_t destMax, const char *src, size_t count)
{
    int32_t status = check_arguments(dest, destMax, src, count);
    if (status != 0) {
        return status;
    }
    if (count == 0) {
        return reset_string(dest, 0);
    }
    // Only a count that reaches destMax can leave no room for the NUL.
    const size_t len = strnlen(src, std::min(count, destMax));
    if (len == destMax) {
        return reset_string(dest, ERANGE_RESET);
    }
    if (dest != src && spans_overlap(dest, src, len)) {
        return reset_string(dest, EOVERLAP_RESET);
    }
    if (dest != src) {
        memcpy(dest, src, len);
    }
    dest[len] = '\0';
    return 0;
}

int32_t strcat_s(char *dest, size_t destMax, const char *src)
{
    int32_t status = check_arguments(dest, destMax, src, 0);
    return status != 0 ? status : concatenate(dest, destMax, src, 0, false);
}

int32_t strncat_s(char *dest, size_t destMax, const char *src, size_t count)
{
    int32_t status = check_arguments(dest, destMax, src, count);
    return status != 0 ? status : concatenate(dest, destMax, src, count, true);
}
