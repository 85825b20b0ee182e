// check and seal: a template file against a stand-in card.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "fileaccess/ini_reader.h"
#include "template/template_parser.h"
#include "zorvitemplate/card.h"
#include "zorvitemplate/check.h"
#include "zorvitemplate/commands.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/replace_file.h"

namespace {

CheckResult g_check;
// The check of a sealed file before it replaces the old one.
CheckResult g_recheck;

constexpr size_t METADATA_LENGTH = 10;  // "0x" and eight hex digits

// The file checked into g_check: against the card of check DEVICE FILE,
// asked as a load asks it; else against a stand-in card of the driver
// version given (a load's rules read it) and the PCI device id given or
// else the file's own, or the defaults. Only check takes a version or a
// device. 0; -1 when the file could not be checked (g_check's trouble says
// why); EXIT_TROUBLE after a message.
int check_file(const CommandOptions &options)
{
    CardIdentity card = DEFAULT_CARD;
    card.pci_device_id = options.pci_id_given ? options.pci_id : card.pci_device_id;
    char text[CARD_TROUBLE_SIZE];
    if (options.first != options.file) {
        if (options.pci_id_given || options.driver_version != nullptr) {
            return warn("check: the card answers --pci-id and --driver-version itself");
        }
        return ask_card_identity(&card, text) ? check_template(options.file, &card, false, &g_check)
                                              : warn("%s", text);
    }
    snprintf(text, sizeof(text), "%s", options.driver_version ? options.driver_version : "");
    if (options.driver_version != nullptr &&
        parse_driver_version_text(text, card.driver_version) != 0) {
        return warn("check: '%s' is no driver version", options.driver_version);
    }
    return check_template(options.file, &card, !options.pci_id_given, &g_check);
}

// Copies bytes [from, to) of `fd` into the new file. No signal has a
// handler, so none interrupts a read.
int32_t copy_range(int fd, uint64_t from, uint64_t to, ReplacedFile *file)
{
    static char chunk[65536];
    for (ssize_t got = 0; from < to; from += static_cast<uint64_t>(got)) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(to - from, sizeof(chunk)));
        got = pread(fd, chunk, want, static_cast<off_t>(from));
        if (got <= 0) {
            snprintf(file->why, sizeof(file->why), "%s: cannot be read again (%s)", file->path,
                     got < 0 ? strerror(errno) : "it became shorter");
            abandon_replacing(file);
            return -1;
        }
        if (write_replacing(file, chunk, static_cast<size_t>(got)) != 0) {
            return -1;
        }
    }
    return 0;
}

// The length of the number a load reads at the start of `value`, with its
// 0x: what the load's own conversion takes; the whole value when it holds
// no number (or is one a load takes as empty).
size_t number_length(const IniWhere &where)
{
    uint32_t number = 0;
    size_t length = 0;
    return convert_uint_value(ini_value(where), &number, &length) == 0 ? length
                                                                       : where.value_length;
}

// Where a METADATA line goes: after the last key line of the [INFO] a load
// reads, or after its header, and the line end there ("" for none). 0, or
// -1 when the file no longer reads as the check read it.
int32_t find_info_end(const char *path, uint64_t *end, const char **eol)
{
    IniWhere info;
    IniLines lines;
    (void)lookup_ini_key(path, section_name(SECTION_INFO), "", &info);
    if (info.answer == INI_NO_FILE || open_ini_lines(path, &lines) != 0) {
        return -1;
    }
    char *piece = nullptr;
    size_t length = 0;
    uint64_t bytes = 0;
    uint32_t line = 1;
    bool keyed = false;  // the line is a key line, or the header of that [INFO]
    char last = '\0';    // of the piece before
    while (next_ini_line(&lines, &piece, &length) == 0) {
        IniLineParts parts;
        describe_ini_line(piece, &parts);
        keyed = keyed || parts.kind == INI_LINE_KEY || line == info.section_line;
        bytes += length;
        const char before_end = length >= 2 ? piece[length - 2] : last;
        last = piece[length - 1];
        if (piece == lines.cut) {
            continue;  // a long line, read in pieces
        }
        if (keyed && line >= info.section_line && (info.line == 0 || line < info.line)) {
            *end = bytes;
            *eol = last != '\n' ? "" : before_end == '\r' ? "\r\n" : "\n";
        }
        ++line;
        keyed = false;
    }
    close_ini_lines(&lines);
    return bytes == g_check.bytes ? 0 : -1;
}

// The file with the number of its METADATA replaced, or a METADATA line
// added at the end of [INFO] as a load reads it; every other byte as it
// was. The copy is read from the descriptor the check judged; the target
// must still be that file when it is replaced, and the new file must pass
// the check it is sealed for before it does.
int seal_file(const CommandOptions &options, ReplacedFile *file, const IniWhere &where)
{
    uint64_t cut_from = 0;
    uint64_t cut_to = 0;
    const char *eol = "";
    char added[64];
    if (where.answer == INI_FOUND) {
        cut_from = where.value_start;
        cut_to = cut_from + number_length(where);
        snprintf(added, sizeof(added), "0x%08X", g_check.report.checksum);
    } else if (find_info_end(options.file, &cut_to, &eol) == 0) {
        // A last line without its line end gets one, and the new line too.
        cut_from = cut_to;
        snprintf(added, sizeof(added), "%sMETADATA = 0x%08X%s", eol[0] != '\0' ? "" : "\n",
                 g_check.report.checksum, eol[0] != '\0' ? eol : "\n");
    } else {
        return warn("%s: cannot be read again; it was left as it is", options.file);
    }
    if (start_replacing(file) != 0 || copy_range(g_check.fd, 0, cut_from, file) != 0 ||
        write_replacing(file, added, strlen(added)) != 0 ||
        copy_range(g_check.fd, cut_to, g_check.bytes, file) != 0) {
        return warn("%s", file->why);
    }
    if (check_template(file->temp, &g_check.card, false, &g_recheck) != 0 ||
        !load_accepts(&g_recheck)) {
        abandon_replacing(file);
        return warn("%s: the sealed file does not pass the check; it was left as it is",
                    options.file);
    }
    if (finish_replacing(file, g_check.file_state.st_mode & 07777, &g_check.file_state) != 0) {
        return warn("%s", file->why);
    }
    return EXIT_GOOD;
}

}  // namespace

int run_check(const CommandOptions &options)
{
    const int status = check_file(options);
    if (status == EXIT_TROUBLE) {
        return EXIT_TROUBLE;
    }
    const bool checked = status == 0;
    const bool accepted = checked && load_accepts(&g_check);
    const uint32_t warnings = g_check.warnings + g_check.dropped;
    open_json(nullptr, JSON_OBJECT);
    print_string("file", nullptr, options.file);
    print_bool("accepted", accepted);
    print_string("error", nullptr, checked ? nullptr : g_check.trouble);
    print_uint("errors", nullptr, g_check.errors);
    print_uint("warnings", nullptr, warnings);
    char metadata[METADATA_LENGTH + 1];
    snprintf(metadata, sizeof(metadata), "0x%08X", g_check.report.checksum);
    const bool complete = checked && !report_has_errors_besides_metadata(&g_check.report);
    print_string("metadata", nullptr, complete ? metadata : nullptr);
    open_json("findings", JSON_ARRAY);
    print_findings(options.file, &g_check);
    close_json();
    close_json();
    if (!checked) {
        return warn("%s", g_check.trouble);
    }
    if (!options.json) {
        // What the verdict was judged against, and where each came from.
        const bool device = options.first != options.file;
        char version[VERSION_TEXT_SIZE];
        show_driver_version(g_check.card, version);
        char pci_id[64] = ", which reports no PCI device id";
        if (driver_reports_pci_id(&g_check.card)) {
            snprintf(pci_id, sizeof(pci_id), " and PCI device id 0x%04X (%s)",
                     g_check.card.pci_device_id,
                     device                     ? g_device_target.name
                     : options.pci_id_given     ? "--pci-id"
                     : g_check.pci_id_from_file ? "the file's PCIDID"
                                                : "default");
        }
        warn("%s: a load would %s it (%u error%s, %u warning%s) against driver %s (%s)%s",
             options.file, accepted ? "accept" : "refuse", g_check.errors,
             g_check.errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s", version,
             device                   ? g_device_target.name
             : options.driver_version ? "--driver-version"
                                      : "default",
             pci_id);
    }
    return accepted ? EXIT_GOOD : EXIT_NO;
}

int run_seal(const CommandOptions &options)
{
    // The file itself is rewritten, not a link to it, and only a regular
    // file is. Seal takes no version: the default parses.
    ReplacedFile file{};
    if (resolve_replace_target(options.file, false, &file) != 0 || check_file(options) != 0) {
        return warn("%s", file.why[0] != '\0' ? file.why : g_check.trouble);
    }
    if (report_has_errors_besides_metadata(&g_check.report)) {
        print_to(stderr, false);
        print_findings(options.file, &g_check, true);
        warn("%s: not sealed: mend the errors besides METADATA first", options.file);
        return EXIT_NO;
    }
    // What follows the number stays, so the sealed value must still be one
    // a load reads whole.
    const bool sealed = g_check.report.count == 0;
    const IniWhere &where = g_check.report.places[key_slot(key_index("METADATA"), 0)];
    const size_t sealed_length = where.value_length - number_length(where) + METADATA_LENGTH;
    if (!sealed && where.answer == INI_FOUND && sealed_length >= INI_VALUE_SIZE) {
        print_to(stderr, false);
        print_string(nullptr, "%s:", options.file);
        fprintf(stderr,
                "%u: error: METADATA's value would have %zu characters sealed, and a load reads "
                "at most %u: shorten what follows the number\n",
                where.line, sealed_length, INI_VALUE_SIZE - 1);
        warn("%s: not sealed", options.file);
        return EXIT_NO;
    }
    // The report comes first: one that cannot be written (or a SIGPIPE)
    // stops the seal before anything is written.
    print_uint(nullptr, "0x%08X\n", g_check.report.checksum);
    if (close_output(EXIT_GOOD) != EXIT_GOOD) {
        return EXIT_TROUBLE;
    }
    return sealed ? EXIT_GOOD : seal_file(options, &file, where);  // sealed: not a byte changes
}
