// Calls sscanf_s with three destinations chosen at run time.
#pragma once

#include "bounded/bounded.h"

// One destination; `sized` ones (%s, %c, %[) are followed by their size.
struct ScanSlot {
    void *p;
    bool sized;
    unsigned size;
};

inline int sscanf_s_three(const char *text, const char *format, const ScanSlot *s)
{
    int layout = s[0].sized | s[1].sized << 1 | s[2].sized << 2;
    switch (layout) {
    case 0: return sscanf_s(text, format, s[0].p, s[1].p, s[2].p);
    case 1: return sscanf_s(text, format, s[0].p, s[0].size, s[1].p, s[2].p);
    case 2: return sscanf_s(text, format, s[0].p, s[1].p, s[1].size, s[2].p);
    case 3: return sscanf_s(text, format, s[0].p, s[0].size, s[1].p, s[1].size, s[2].p);
    case 4: return sscanf_s(text, format, s[0].p, s[1].p, s[2].p, s[2].size);
    case 5: return sscanf_s(text, format, s[0].p, s[0].size, s[1].p, s[2].p, s[2].size);
    case 6: return sscanf_s(text, format, s[0].p, s[1].p, s[1].size, s[2].p, s[2].size);
    default:
        return sscanf_s(text, format, s[0].p, s[0].size, s[1].p, s[1].size, s[2].p, s[2].size);
    }
}
