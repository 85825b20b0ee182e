#include "zorvitemplate/findings.h"

#include <cstdarg>
#include <cstring>

#include "bounded/shown_text.h"

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
    static constexpr char CUT[] = "...";
    const size_t shown = length < most ? length : most;
    const size_t room = size > sizeof(CUT) ? size - (sizeof(CUT) - 1) : size;
    if (show_text(text, shown, out, room, SHOW_C0) >= 0 && shown < length) {
        strcat(out, CUT);
    }
}
