#include "zorvitemplate/findings.h"

#include <cstdarg>
#include <cstring>

void add_finding(FindingList *list, uint32_t line, bool error, int16_t problem, const char *key,
                 const char *format, ...)
{
    if (list->count >= FINDING_MAX) {
        ++list->dropped;
        return;
    }
    Finding *finding = &list->items[list->count++];
    finding->line = line;
    finding->error = error;
    finding->problem = problem;
    snprintf(finding->key, sizeof(finding->key), "%s", key == nullptr ? "" : key);
    va_list args;
    va_start(args, format);
    vsnprintf(finding->text, sizeof(finding->text), format, args);
    va_end(args);
}

void quote_file_text(const char *text, size_t length, size_t most, char *out, size_t size)
{
    size_t used = 0;
    const size_t shown = length < most ? length : most;
    for (size_t i = 0; i < shown && used + 5 < size; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            used += static_cast<size_t>(snprintf(out + used, size - used, "\\x%02X", byte));
        } else {
            out[used++] = static_cast<char>(byte);
        }
    }
    if (shown < length && used + 4 < size) {
        memcpy(out + used, "...", 3);
        used += 3;
    }
    out[used < size ? used : size - 1] = '\0';
}
