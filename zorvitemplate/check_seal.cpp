// check and seal: a template file against a stand-in card.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "template/template_parser.h"
#include "zorvitemplate/check.h"
#include "zorvitemplate/commands.h"
#include "zorvitemplate/replace_file.h"
#include "zorvitemplate/voice.h"

namespace {

CheckResult g_check;
// The parse of a sealed file before it replaces the old one.
ParseReport g_recheck;
ResourceTemplate g_recheck_record;

constexpr size_t METADATA_TEXT_SIZE = 16;
constexpr size_t COPY_CHUNK = 65536;

// The stand-in card of a check: the driver version given (a load's rules
// read it) and the PCI device id given or the file's own.
bool stand_in_card(const CommandOptions &options, CheckSetup *setup)
{
    char text[128];
    snprintf(text, sizeof(text), "%s", options.driver_version);
    if (parse_driver_version_text(text, setup->card.driver_version) != 0) {
        return false;
    }
    setup->card.pci_device_id = options.pci_id;
    setup->pci_id_from_file = !options.pci_id_given;
    return true;
}

void print_check_json(const char *path, const CheckResult *result, const char *trouble)
{
    fputs("{\n  \"file\": ", stdout);
    put_json_text(stdout, path);
    printf(",\n  \"accepted\": %s,\n  \"error\": ",
           trouble == nullptr && load_accepts(result) ? "true" : "false");
    if (trouble == nullptr) {
        fputs("null", stdout);
    } else {
        put_json_text(stdout, trouble);
    }
    const bool complete =
        trouble == nullptr && !report_has_errors_besides_metadata(&result->report);
    printf(",\n  \"errors\": %u,\n  \"warnings\": %u,\n  \"metadata\": ",
           trouble == nullptr ? result->errors : 0, trouble == nullptr ? result->warnings : 0);
    if (complete) {
        printf("\"0x%08X\"", result->report.checksum);
    } else {
        fputs("null", stdout);
    }
    fputs(",\n", stdout);
    if (trouble == nullptr) {
        print_findings_json(stdout, path, result, "  ");
    } else {
        fputs("  \"findings\": []", stdout);
    }
    fputs("\n}\n", stdout);
}

// Copies bytes [from, to) of `fd` into the new file.
int32_t copy_range(int fd, uint64_t from, uint64_t to, ReplacedFile *file,
                   char (&why)[REPLACE_TROUBLE_SIZE])
{
    static char chunk[COPY_CHUNK];
    while (from < to) {
        const size_t want =
            (to - from < sizeof(chunk)) ? static_cast<size_t>(to - from) : sizeof(chunk);
        const ssize_t got = pread(fd, chunk, want, static_cast<off_t>(from));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            snprintf(why, sizeof(why), "%s: cannot be read again (%s)", file->target,
                     got < 0 ? strerror(errno) : "it became shorter");
            return -1;
        }
        if (write_replacing(file, chunk, static_cast<size_t>(got), why) != 0) {
            return -1;
        }
        from += static_cast<uint64_t>(got);
    }
    return 0;
}

// The file with its METADATA value replaced, or a METADATA line added at the
// end of [INFO]; every other byte as it was.
int32_t write_sealed(int fd, const LocatedFile &located, uint32_t checksum, ReplacedFile *file,
                     char (&why)[REPLACE_TROUBLE_SIZE])
{
    char value[METADATA_TEXT_SIZE];
    snprintf(value, sizeof(value), "0x%08X", checksum);
    const KeyPlace &place = located.keys[METADATA_SLOT];
    uint64_t cut_from = 0;
    uint64_t cut_to = 0;
    char added[64];
    if (place.line != 0) {
        cut_from = place.value_start;
        cut_to = place.value_end;
        snprintf(added, sizeof(added), "%s", value);
    } else {
        const char *end = located.info_crlf ? "\r\n" : "\n";
        cut_from = located.info_end;
        cut_to = located.info_end;
        snprintf(added, sizeof(added), "%sMETADATA = %s%s", located.info_end_feed ? "" : end, value,
                 end);
    }
    if (copy_range(fd, 0, cut_from, file, why) != 0 ||
        write_replacing(file, added, strlen(added), why) != 0 ||
        copy_range(fd, cut_to, located.bytes, file, why) != 0) {
        return -1;
    }
    return 0;
}

int seal_file(const CommandOptions &options, const char *target)
{
    const LocatedFile &located = g_check.located;
    const uint32_t checksum = g_check.report.checksum;
    char why[REPLACE_TROUBLE_SIZE];
    const int fd = open(target, O_RDONLY | O_CLOEXEC);
    struct stat state {};
    if (fd < 0 || fstat(fd, &state) != 0 || !same_file_state(g_check.file_state, state)) {
        say("%s: changed while it was read; it was left as it is", options.file);
        if (fd >= 0) {
            close(fd);
        }
        return EXIT_TROUBLE;
    }
    ReplacedFile file{};
    if (start_replacing(target, &file, why) != 0) {
        close(fd);
        say("%s", why);
        return EXIT_TROUBLE;
    }
    if (write_sealed(fd, located, checksum, &file, why) != 0) {
        close(fd);
        abandon_replacing(&file);
        say("%s", why);
        return EXIT_TROUBLE;
    }
    close(fd);
    // The new file must pass the check it is sealed for before it replaces
    // the old one.
    const int hushed = hush_libraries();
    const int32_t status =
        check_template_file(file.temp, &g_check.card, &g_recheck_record, &g_recheck);
    unhush_libraries(hushed);
    if (status != 0 || g_recheck.count != 0) {
        abandon_replacing(&file);
        say("%s: the sealed file does not pass the check; it was left as it is", options.file);
        return EXIT_TROUBLE;
    }
    if (finish_replacing(&file, state.st_mode & 07777, &state, &g_check.file_state, why) != 0) {
        say("%s", why);
        return EXIT_TROUBLE;
    }
    printf("0x%08X\n", checksum);
    return EXIT_GOOD;
}

}  // namespace

int run_check(const CommandOptions &options)
{
    CheckSetup setup{options.file, {}, false};
    if (!stand_in_card(options, &setup)) {
        say("check: '%s' is no driver version", options.driver_version);
        return EXIT_TROUBLE;
    }
    if (check_template(&setup, &g_check) != 0) {
        if (options.json) {
            print_check_json(options.file, &g_check, g_check.trouble);
        }
        say("%s", g_check.trouble);
        return EXIT_TROUBLE;
    }
    const bool accepted = load_accepts(&g_check);
    if (options.json) {
        print_check_json(options.file, &g_check, nullptr);
    } else {
        print_findings(stdout, options.file, &g_check, false);
        say("%s: a load would %s it (%u error%s, %u warning%s)", options.file,
            accepted ? "accept" : "refuse", g_check.errors, g_check.errors == 1 ? "" : "s",
            g_check.warnings, g_check.warnings == 1 ? "" : "s");
    }
    return accepted ? EXIT_GOOD : EXIT_NO;
}

int run_seal(const CommandOptions &options)
{
    CheckSetup setup{options.file, {}, false};
    if (!stand_in_card(options, &setup)) {
        return EXIT_TROUBLE;
    }
    // The file itself is rewritten, not a link to it, and only a regular
    // file is.
    ReplaceTarget target{};
    char why[REPLACE_TROUBLE_SIZE];
    if (resolve_replace_target(options.file, false, &target, why) != 0) {
        say("%s", why);
        return EXIT_TROUBLE;
    }
    if (check_template(&setup, &g_check) != 0) {
        say("%s", g_check.trouble);
        return EXIT_TROUBLE;
    }
    if (report_has_errors_besides_metadata(&g_check.report)) {
        print_findings(stderr, options.file, &g_check, true);
        say("%s: not sealed: mend the errors besides METADATA first", options.file);
        return EXIT_NO;
    }
    if (g_check.report.count == 0) {
        printf("0x%08X\n", g_check.report.checksum);
        return EXIT_GOOD;  // already sealed: not a byte changes
    }
    return seal_file(options, target.path);
}
