// The pass over the lines of a template file for what a load never reads:
// unknown keys, keys given twice or outside the sections a load reads, a
// second section of a name, NUL bytes, long lines, values that wrap at
// 2^32. Warnings only: whether a key is read is the load's walk's answer,
// never a rule of this pass. It also notes where each key a load asks for
// stands first, for the errors to say.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "fileaccess/ini_reader.h"
#include "zorvitemplate/check.h"

namespace {

constexpr size_t PIECE_MOST = INI_LINE_SIZE - 1;  // the longest line the reader hands out
constexpr size_t SHOWN_NAME_MOST = 40;
constexpr uint32_t MODE_BITS_ABOVE = ~MODE_BITS_KNOWN;

struct Pass {
    const CheckSetup *setup;
    CheckResult *result;
    uint32_t line;         // of the piece at hand
    uint32_t header_line;  // of the header in force, 0 before any
    SeenIn section;
    bool unread_section;  // the header in force names a section no load reads
    uint32_t first_header[2];
};

bool same_name(const char *name, size_t length, const char *known)
{
    return strlen(known) == length && memcmp(name, known, length) == 0;
}

// Optimal string alignment distance of two short names, transpositions
// counting once.
size_t name_distance(const char *a, size_t a_length, const char *b, size_t b_length)
{
    size_t d[KEY_NAME_SIZE * 2 + 1][KEY_NAME_SIZE + 1];
    for (size_t i = 0; i <= a_length; ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b_length; ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a_length; ++i) {
        for (size_t j = 1; j <= b_length; ++j) {
            const size_t cost = (a[i - 1] == b[j - 1]) ? 0 : 1;
            size_t best = d[i - 1][j] + 1;
            best = d[i][j - 1] + 1 < best ? d[i][j - 1] + 1 : best;
            best = d[i - 1][j - 1] + cost < best ? d[i - 1][j - 1] + cost : best;
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] &&
                d[i - 2][j - 2] + 1 < best) {
                best = d[i - 2][j - 2] + 1;
            }
            d[i][j] = best;
        }
    }
    return d[a_length][b_length];
}

bool same_but_case(const char *a, size_t a_length, const char *b)
{
    if (strlen(b) != a_length) {
        return false;
    }
    for (size_t i = 0; i < a_length; ++i) {
        if (toupper(static_cast<unsigned char>(a[i])) != b[i]) {
            return false;
        }
    }
    return true;
}

// The key name nearest to `name` when it looks like a misspelling of it:
// short names one edit away, longer ones two.
bool nearest_key_name(const char *name, size_t length, char (&nearest)[KEY_NAME_SIZE])
{
    if (length == 0 || length > KEY_NAME_SIZE * 2) {
        return false;
    }
    const size_t limit = (length <= 4) ? 2 : 3;
    size_t best = limit;
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        for (uint32_t element = 0; element < TEMPLATE_KEYS[row].count; ++element) {
            const char *known = key_name(key_slot(row, element));
            const size_t distance = same_but_case(name, length, known)
                                        ? 0
                                        : name_distance(name, length, known, strlen(known));
            if (distance < best) {
                best = distance;
                memcpy(nearest, known, KEY_NAME_SIZE);
            }
        }
    }
    return best < limit;
}

void warn(Pass *pass, size_t slot, const char *format, ...) __attribute__((format(printf, 3, 4)));

void warn(Pass *pass, size_t slot, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    add_finding_v(&pass->result->findings, pass->line, false, NO_PROBLEM, slot, format, args);
    va_end(args);
}

void take_header(Pass *pass, const IniLineParts &parts)
{
    char shown[SHOWN_NAME_MOST * 4 + 4];
    quote_file_text(parts.name, parts.name_length, SHOWN_NAME_MOST, shown, sizeof(shown));
    pass->header_line = pass->line;
    pass->unread_section = false;
    const bool info = same_name(parts.name, parts.name_length, "INFO");
    if (!info && !same_name(parts.name, parts.name_length, "CONFIG")) {
        pass->section = SEEN_OTHER;
        pass->unread_section = true;
        warn(pass, KEY_SLOT_COUNT, "section [%s] is not read by a load", shown);
        return;
    }
    pass->section = info ? SEEN_INFO : SEEN_CONFIG;
    uint32_t &first = pass->first_header[info ? SECTION_INFO : SECTION_CONFIG];
    if (first == 0) {
        first = pass->line;
        return;
    }
    pass->unread_section = true;
    warn(pass, KEY_SLOT_COUNT, "a second [%s] section: a load reads only the first, at line %u",
         info ? "INFO" : "CONFIG", first);
}

// A '[' line that is no header ends the section a load reads there; the
// lookups that met it say which.
void take_bracket(Pass *pass)
{
    const ParseReport &report = pass->result->report;
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        for (uint32_t element = 0; element < TEMPLATE_KEYS[row].count; ++element) {
            const IniWhere &where = report.places[key_slot(row, element)];
            if (where.answer == INI_NO_KEY && where.ended_by_bracket && where.line == pass->line) {
                const char *section = section_name(TEMPLATE_KEYS[row].section);
                warn(pass, KEY_SLOT_COUNT,
                     "this line starts with '[' but is no section header; it ends [%s], and a "
                     "load reads no key of [%s] after it",
                     section, section);
                return;
            }
        }
    }
    warn(pass, KEY_SLOT_COUNT, "this line starts with '[' but is no section header");
}

// A key line: where a known key stands, and what a load does with it. An
// unknown key in a piece of a long line is that line's own warning.
void take_key(Pass *pass, const IniLineParts &parts, bool long_line)
{
    size_t row = 0;
    uint32_t element = 0;
    const size_t slot = parse_key_name(parts.name, parts.name_length, &row, &element);
    if (slot == KEY_SLOT_COUNT) {
        if (long_line) {
            return;
        }
        if (pass->unread_section || !warning_kept(&pass->result->findings)) {
            pass->result->findings.dropped += pass->unread_section ? 0 : 1;
            return;  // its section's header has its warning
        }
        char shown[SHOWN_NAME_MOST * 4 + 4];
        quote_file_text(parts.name, parts.name_length, SHOWN_NAME_MOST, shown, sizeof(shown));
        char nearest[KEY_NAME_SIZE];
        if (nearest_key_name(parts.name, parts.name_length, nearest)) {
            warn(pass, KEY_SLOT_COUNT, "%s is not a key a load reads; did you mean %s?", shown,
                 nearest);
        } else {
            warn(pass, KEY_SLOT_COUNT, "%s is not a key a load reads", shown);
        }
        return;
    }
    KeySeen &seen = pass->result->seen[slot];
    if (seen.line == 0) {
        seen = KeySeen{pass->line, pass->header_line, pass->section};
    }
    const IniWhere &where = pass->result->report.places[slot];
    if (where.answer != INI_FOUND || where.line == pass->line) {
        return;  // read here, or not read at all: an error tells that
    }
    const char *name = key_name(slot);
    if (pass->header_line == where.section_line) {
        warn(pass, slot, "%s is given again; a load takes the one at line %u", name, where.line);
    } else {
        warn(pass, slot, "%s here is not read; a load takes the one at line %u", name, where.line);
    }
}

void take_piece(Pass *pass, const char *piece, bool long_line)
{
    IniLineParts parts;
    describe_ini_line(piece, &parts);
    switch (parts.kind) {
        case INI_LINE_BLANK:
            break;
        case INI_LINE_HEADER:
            take_header(pass, parts);
            break;
        case INI_LINE_BRACKET:
            take_bracket(pass);
            break;
        case INI_LINE_KEY:
            take_key(pass, parts, long_line);
            break;
        case INI_LINE_OTHER:
            if (pass->line == 1 && strncmp(piece, "\xEF\xBB\xBF", 3) == 0) {
                describe_ini_line(piece + 3, &parts);
            }
            if (parts.kind == INI_LINE_HEADER) {
                warn(pass, KEY_SLOT_COUNT,
                     "the file starts with a UTF-8 byte order mark; a load reads "
                     "\\xEF\\xBB\\xBF[%.*s] as no header",
                     static_cast<int>(parts.name_length), parts.name);
            } else if (!long_line && !pass->unread_section) {
                warn(pass, KEY_SLOT_COUNT,
                     "this line is no key, section header or comment; a load passes over it");
            }
            break;
    }
}

// A number written past 32 bits, or below 0: a load reads another, as glibc
// tells by reading it in 64 bits.
bool wraps(const char *text)
{
    const char *digits = text + strspn(text, " \t");
    const bool hex = digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    digits += hex ? 2 : 0;
    errno = 0;
    const unsigned long long value = strtoull(digits, nullptr, hex ? 16 : 10);
    return errno == ERANGE || value > 0xFFFFFFFFull;
}

// Warnings about what the walk read: values, the mode, the card's id.
void warn_about_values(Pass *pass)
{
    const CheckResult *result = pass->result;
    const ParseReport &report = result->report;
    for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
        const TemplateKey &key = TEMPLATE_KEYS[row];
        for (uint32_t element = 0; element < key.count; ++element) {
            const size_t slot = key_slot(row, element);
            const IniWhere &where = report.places[slot];
            if (where.answer != INI_FOUND) {
                continue;
            }
            pass->line = where.line;
            const char *name = key_name(slot);
            if (key.kind == KEY_TEXT && where.value_length >= INI_VALUE_SIZE) {
                warn(pass, slot,
                     "%s has %zu characters; a load keeps at most 31 and reads this one as empty",
                     name, where.value_length);
            } else if (key.kind == KEY_TEXT && strchr(where.value, '#') != nullptr) {
                warn(pass, slot, "%s holds a '#'; a load keeps it and what follows in the name",
                     name);
            } else if (key.kind != KEY_TEXT && where.value_length < INI_VALUE_SIZE &&
                       wraps(where.value)) {
                warn(pass, slot, "%s = %s does not fit in 32 bits; a load reads it as %u", name,
                     where.value, report.values[slot]);
            }
        }
    }
    const IniWhere &version = report.places[key_slot(key_index("VERSION"), 0)];
    pass->line = version.line;
    if (version.answer == INI_FOUND && (result->record.mode & MODE_BITS_ABOVE) != 0) {
        warn(pass, key_slot(key_index("VERSION"), 0),
             "mode 0x%X has bits above 0x40, which add no block; the checksum then covers the "
             "basic keys only",
             result->record.mode);
    }
    const CheckSetup *setup = pass->setup;
    const size_t pcidid = key_slot(key_index("PCIDID"), 0);
    pass->line = report.places[pcidid].line;
    if (setup->pci_id_from_file && driver_reports_pci_id(&setup->card) &&
        setup->card.pci_device_id > PCI_ID_MAX) {
        warn(pass, pcidid, "PCIDID 0x%X is wider than a PCI device id: no card has it",
             setup->card.pci_device_id);
    }
}

// Keys of a block the mode leaves out: one warning a block, at its first
// line. Only when the walk read VERSION, so that the mode is the file's.
void warn_about_blocks(Pass *pass)
{
    const CheckResult *result = pass->result;
    if (result->report.places[key_slot(key_index("VERSION"), 0)].answer != INI_FOUND) {
        return;
    }
    const uint32_t mode = result->record.mode;
    for (uint32_t bit = 1; bit <= MODE_OVNP; bit <<= 1) {
        // PCIDID is read whatever the mode; its bit only stores it.
        if ((mode & bit) != 0 || bit == MODE_PCIDID) {
            continue;
        }
        size_t first = KEY_SLOT_COUNT;
        for (size_t row = 0; row < TEMPLATE_KEY_COUNT; ++row) {
            for (uint32_t element = 0; element < TEMPLATE_KEYS[row].count; ++element) {
                const size_t slot = key_slot(row, element);
                const uint32_t line = result->seen[slot].line;
                if (TEMPLATE_KEYS[row].mode_bit == bit && line != 0 &&
                    (first == KEY_SLOT_COUNT || line < result->seen[first].line)) {
                    first = slot;
                }
            }
        }
        if (first != KEY_SLOT_COUNT) {
            pass->line = result->seen[first].line;
            warn(pass, first, "block 0x%02X is not read, from %s on: mode 0x%02X leaves it out",
                 bit, key_name(first), mode);
        }
    }
}

}  // namespace

int32_t lint_template(const CheckSetup *setup, CheckResult *result)
{
    Pass pass{setup, result, 0, 0, SEEN_BEFORE_HEADERS, false, {}};
    for (KeySeen &seen : result->seen) {
        seen = KeySeen{};
    }
    warn_about_values(&pass);
    IniLines lines;
    if (open_ini_lines(setup->path, &lines) != 0) {
        return -1;
    }
    char *piece = nullptr;
    size_t length = 0;
    bool line_open = false;  // the last piece had no line feed
    uint64_t line_length = 0;
    uint32_t pieces = 0;
    bool nul_told = false;
    pass.line = 1;
    result->bytes = 0;
    while (next_ini_line(&lines, &piece, &length) == 0) {
        if (!line_open) {
            line_length = 0;
            pieces = 0;
            nul_told = false;
        }
        const bool long_line = line_open || (length == PIECE_MOST && piece[length - 1] != '\n');
        if (!nul_told && memchr(piece, '\0', length) != nullptr) {
            nul_told = true;
            warn(&pass, KEY_SLOT_COUNT,
                 "this line holds a NUL byte; a load reads each piece of it only up to the first");
        }
        take_piece(&pass, piece, long_line);
        result->bytes += length;
        line_length += length - (piece[length - 1] == '\n' ? 1 : 0);
        ++pieces;
        line_open = piece[length - 1] != '\n';
        if (!line_open || length < PIECE_MOST) {
            if (pieces > 1) {
                warn(&pass, KEY_SLOT_COUNT,
                     "this line has %llu characters; a load reads it in pieces of 511, each as a "
                     "line of its own",
                     static_cast<unsigned long long>(line_length));
            }
            ++pass.line;
            line_open = false;
        }
    }
    close_ini_lines(&lines);
    warn_about_blocks(&pass);
    return 0;
}
