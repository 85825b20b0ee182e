// Formatted scan of standard input and of a text.
#include "bounded/bounded.h"

#include "bounded/scan_engine.h"

namespace {

int32_t scan_stdin(const char *format, va_list *args)
{
    if (format == nullptr) {
        return -1;
    }
    ScanInput in{nullptr, 0, stdin, 0};
    return scan_engine(&in, format, args);
}

int32_t scan_text(const char *buffer, const char *format, va_list *args)
{
    if (buffer == nullptr || format == nullptr) {
        return -1;
    }
    if (buffer[0] == '\0') {
        scan_clear_first_string(format, args);
        return -1;
    }
    ScanInput in{buffer, 0, nullptr, 0};
    return scan_engine(&in, format, args);
}

}  // namespace

int32_t vscanf_s(const char *format, va_list args)
{
    va_list local;
    va_copy(local, args);
    int32_t result = scan_stdin(format, &local);
    va_end(local);
    return result;
}

int32_t scanf_s(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = scan_stdin(format, &args);
    va_end(args);
    return result;
}

int32_t vsscanf_s(const char *buffer, const char *format, va_list args)
{
    va_list local;
    va_copy(local, args);
    int32_t result = scan_text(buffer, format, &local);
    va_end(local);
    return result;
}

int32_t sscanf_s(const char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = scan_text(buffer, format, &args);
    va_end(args);
    return result;
}
