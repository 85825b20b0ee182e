// Bounded formatted print on top of the platform's vsnprintf.
#include "bounded/bounded.h"

#include <cstdio>

namespace {

// Largest count accepted: one less than the largest destination, so that
// count + 1 bytes always fit a valid destination.
constexpr size_t PRINT_MAX_COUNT = BOUNDED_MAX_LEN - 1;

// A missing destination or a size out of range fails untouched; a missing
// format empties the destination.
bool arguments_valid(char *dest, size_t destMax, const char *format)
{
    if (dest == nullptr || destMax == 0 || destMax > BOUNDED_MAX_LEN) {
        return false;
    }
    if (format == nullptr) {
        dest[0] = '\0';
        return false;
    }
    return true;
}

int32_t reset_output(char *dest)
{
    dest[0] = '\0';
    return STATUS_FAILED;
}

}  // namespace

int32_t vsprintf_s(char *dest, size_t destMax, const char *format, va_list args)
{
    if (!arguments_valid(dest, destMax, format)) {
        return STATUS_FAILED;
    }
    int written = vsnprintf(dest, destMax, format, args);
    if (written < 0 || static_cast<size_t>(written) >= destMax) {
        return reset_output(dest);
    }
    return written;
}

int32_t sprintf_s(char *dest, size_t destMax, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return result;
}

int32_t vsnprintf_s(char *dest, size_t destMax, size_t count, const char *format, va_list args)
{
    if (!arguments_valid(dest, destMax, format)) {
        return STATUS_FAILED;
    }
    if (count > PRINT_MAX_COUNT) {
        return reset_output(dest);
    }
    if (count >= destMax) {
        return vsprintf_s(dest, destMax, format, args);
    }
    // vsnprintf keeps the first count characters and terminates them, which
    // is the cut a too-long output leaves behind.
    int written = vsnprintf(dest, count + 1, format, args);
    if (written < 0) {
        return reset_output(dest);
    }
    return static_cast<size_t>(written) > count ? STATUS_FAILED : written;
}

int32_t snprintf_s(char *dest, size_t destMax, size_t count, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = vsnprintf_s(dest, destMax, count, format, args);
    va_end(args);
    return result;
}
