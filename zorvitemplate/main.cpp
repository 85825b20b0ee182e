// zorvitemplate: check, seal, back up and compare resource templates.
// The command comes first; each has its own options, GNU style.
#include <getopt.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fileaccess/ini_reader.h"
#include "zorvitemplate/card.h"
#include "zorvitemplate/commands.h"
#include "zorvitemplate/output.h"

namespace {

// What a command takes: its options, and `least` to `most` words after
// them, the first a device when `device_first` and all are given, the last
// a file otherwise.
struct Command {
    const char *name;
    int (*run)(const CommandOptions &);
    int least;
    int most;
    bool device_first;
    const char *short_options;
    const option *long_options;
    const char *synopsis;
    const char *help;
};

enum LongOnly : int { OPT_PCI_ID = 256, OPT_DRIVER_VERSION, OPT_WITHIN };

// What the command line asks for; getopt sets the switches itself.
CommandOptions g_options{};

// The options more than one command takes; each command's own stand in its list.
constexpr option PCI_ID = {"pci-id", required_argument, nullptr, OPT_PCI_ID};
constexpr option JSON = {"json", no_argument, &g_options.json, 1};
constexpr option HELP = {"help", no_argument, nullptr, 'h'};
constexpr option END = {};
constexpr option CHECK_OPTIONS[] = {
    PCI_ID, {"driver-version", required_argument, nullptr, OPT_DRIVER_VERSION}, JSON, HELP, END};
constexpr option SEAL_OPTIONS[] = {PCI_ID, HELP, END};
constexpr option EXPORT_OPTIONS[] = {{"output", required_argument, nullptr, 'o'}, HELP, END};
constexpr option JSON_OPTIONS[] = {JSON, HELP, END};
constexpr option DIFF_OPTIONS[] = {
    JSON, {"running", no_argument, &g_options.running, 1}, HELP, END};
constexpr option HELP_OPTIONS[] = {HELP, END};
constexpr option ARM_OPTIONS[] = {{"within", required_argument, nullptr, OPT_WITHIN}, HELP, END};

constexpr Command COMMANDS[] = {
    {"check", run_check, 1, 2, true, ":h", CHECK_OPTIONS,
     "check [--pci-id ID] [--driver-version TEXT] [--json] [DEVICE] FILE",
     "Report every problem a load of FILE would meet: FILE:LINE: error|warning: TEXT,\n"
     "judged against DEVICE's driver and PCI device id, asked as a load asks them, or:\n"
     "  --pci-id ID            the card's id (default: the file's PCIDID, else 0x3310)\n"
     "  --driver-version TEXT  the driver's version (default: 1.4.3.0)\n"
     "  --json                 one JSON document on standard output\n"
     "Exit status: 0 a load accepts FILE, 1 refuses it, 2 FILE or card unreadable, usage.\n"},
    {"seal", run_seal, 1, 1, false, ":h", SEAL_OPTIONS, "seal [--pci-id ID] FILE",
     "Print the METADATA of FILE and write it into FILE; no other byte changes.\n"
     "  --pci-id ID  the card's id (default: the file's PCIDID, else 0x3310)\n"
     "Exit status: 0 sealed, 1 FILE has other errors, 2 nothing written.\n"},
    {"export", run_export, 1, 1, true, ":ho:", EXPORT_OPTIONS, "export [-o FILE] DEVICE",
     "Write the card's template as a file that a load on that card accepts.\n"
     "  -o, --output FILE  write to FILE (mode 0600) instead of standard output\n"
     "Exit status: 0 written, 1 written without all the card holds, 2 nothing written.\n"},
    {"diff", run_diff, 2, 2, false, ":h", DIFF_OPTIONS, "diff [--json] OLD NEW | --running DEVICE",
     "Print what changes from OLD to NEW, each a zorvi device or a template file (any name\n"
     "with a '/'): from a card to a file, what a load would change; tables as on the card.\n"
     "  --json     one JSON document on standard output, an entry for each value\n"
     "  --running  what the next boot changes on the card: its running and stored templates\n"
     "Exit status: 0 no change, 1 changes, 2 a file refused, unreadable, or usage.\n"},
    {"list", run_list, 0, 0, false, ":h", JSON_OPTIONS, "list [--json]",
     "List every card of the zorvi driver with what it holds, and whether a reboot is pending.\n"
     "  --json  one JSON document on standard output\n"
     "Exit status: 0 every card answered, 1 some could not be asked, 2 usage.\n"},
    {"boot", run_boot, 0, 0, false, ":h", HELP_OPTIONS, "boot",
     "Record what every card runs: what it holds now. zorvi-boot.service runs it at boot.\n"
     "Exit status: 0 recorded, 1 some card could not be asked or recorded, 2 trouble.\n"},
    {"arm", run_arm, 2, 2, true, ":h", ARM_OPTIONS, "arm [--within MINUTES] DEVICE BACKUP",
     "After a load: unless confirmed within MINUTES (default 10) of the next boot, the\n"
     "card's template is reverted: BACKUP is loaded back and the host rebooted.\n"
     "Exit status: 0 armed, 2 the card holds no template, BACKUP refused, or usage.\n"},
    {"confirm", run_confirm, 1, 1, true, ":h", HELP_OPTIONS, "confirm DEVICE",
     "Keep the card's armed template: its revert is called off.\n"
     "Exit status: 0 confirmed or nothing armed, 2 the record cannot be written.\n"},
    {"revert", run_revert, 1, 1, true, ":h", HELP_OPTIONS, "revert DEVICE",
     "Disarm, load the backup back, read the card back and reboot; the revert's timer\n"
     "runs it. Only disarm when the card no longer holds the armed template.\n"
     "Exit status: 0 reverted, disarmed or nothing armed, 1 the backup not loaded, 2 trouble.\n"},
};

[[gnu::format(printf, 2, 3)]] int usage_error(const Command *command, const char *format, ...)
{
    char text[SAID_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    warn("%s%s%s", command != nullptr ? command->name : "", command != nullptr ? ": " : "", text);
    fprintf(stderr, "Try '%s%s%s --help' for more information.\n", PROGRAM_NAME,
            command != nullptr ? " " : "", command != nullptr ? command->name : "");
    return EXIT_TROUBLE;
}

int run_command(const Command &command, int argc, char *argv[])
{
    size_t length = 0;
    for (int got = 0; (got = getopt_long(argc, argv, command.short_options, command.long_options,
                                         nullptr)) != -1;) {
        switch (got) {
            case 0:  // a switch, set by getopt
                break;
            case 'h':
                printf("Usage: %s %s\n%s", PROGRAM_NAME, command.synopsis, command.help);
                return EXIT_GOOD;
            case OPT_PCI_ID:
                // A PCI device id as a template writes numbers, and nothing after it.
                if (convert_uint_value(optarg, &g_options.pci_id, &length) != 0 ||
                    optarg[length] != '\0' || g_options.pci_id > PCI_ID_MAX) {
                    return usage_error(&command, "'%s' is no PCI device id (0 to 0xFFFF)", optarg);
                }
                g_options.pci_id_given = true;
                break;
            case 'o':
                g_options.output = optarg;
                break;
            case OPT_DRIVER_VERSION:
                g_options.driver_version = optarg;
                break;
            case OPT_WITHIN:
                if (convert_uint_value(optarg, &g_options.minutes, &length) != 0 ||
                    optarg[length] != '\0' || g_options.minutes == 0 || g_options.minutes > 1440) {
                    return usage_error(&command, "'%s' is no number of minutes (1 to 1440)",
                                       optarg);
                }
                break;
            case ':':
                return usage_error(&command, "option '%s' needs an argument", argv[optind - 1]);
            default:
                return usage_error(&command, "unknown option '%s'", argv[optind - 1]);
        }
    }
    const int given = argc - optind;
    const int least = command.least - g_options.running;  // diff --running takes one
    if (given < least || given > command.most - g_options.running) {
        return usage_error(&command, given < least ? "missing operand" : "too many operands");
    }
    const bool device = command.device_first && given == command.most;
    if ((device || g_options.running) && !select_device(argv[optind])) {
        return usage_error(&command, "device name '%s' is too long: at most 15 characters",
                           argv[optind]);
    }
    g_options.first = given > 0 ? argv[optind] : nullptr;
    g_options.file = given > (device ? 1 : 0) ? argv[argc - 1] : nullptr;
    print_to(stdout, g_options.json);
    return command.run(g_options);
}

int run(int argc, char *argv[])
{
    if (argc < 2) {
        return usage_error(nullptr, "missing command");
    }
    const char *word = argv[1];
    if (strcmp(word, "-h") == 0 || strcmp(word, "--help") == 0) {
        printf(
            "Usage: %s COMMAND [OPTION]... ARGUMENT...\n"
            "Check, seal, back up, compare and list the resource templates of Kx3310 cards.\n\n"
            "Commands:\n",
            PROGRAM_NAME);
        for (const Command &command : COMMANDS) {
            printf("  %s %s\n", PROGRAM_NAME, command.synopsis);
        }
        printf(
            "\n  -h, --help     this help\n"
            "      --version  the program's version\n\n"
            "'%s COMMAND --help' tells more of each command; zorvitemplate(8) all.\n",
            PROGRAM_NAME);
        return EXIT_GOOD;
    }
    if (strcmp(word, "--version") == 0) {
        printf("%s %s\n", PROGRAM_NAME, ZORVI_VERSION);
        return EXIT_GOOD;
    }
    for (const Command &command : COMMANDS) {
        if (strcmp(word, command.name) == 0) {
            // The command's own options start after its name.
            return run_command(command, argc - 1, argv + 1);
        }
    }
    return usage_error(nullptr, "unknown command '%s'", word);
}

}  // namespace

int main(int argc, char *argv[])
{
    open_output();
    return close_output(run(argc, argv));
}
