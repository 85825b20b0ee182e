// arm, confirm and revert: a load that the host takes back by itself unless
// it is confirmed in time after the next boot, for a template that cuts the
// host's network. The boot service starts the timer, whose service runs
// revert; revert loads the backup with zorviconfig, so that the operation
// log and the system log keep it as they keep every load.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "channel/device_target.h"
#include "template/identity_check.h"
#include "zorvitemplate/card.h"
#include "zorvitemplate/check.h"
#include "zorvitemplate/commands.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/records.h"

extern char **environ;

namespace {

CheckResult g_backup;

// A program found through PATH, run to its end with `input` on its standard
// input and `words` for its arguments, its name first: its exit status, or
// -1 when it could not be run. The input waits in the pipe before the
// program starts, so that no write can meet a reader that has gone.
template <typename... Words>
int run_program(const char *input, Words... words)
{
    const char *const argv[] = {words..., nullptr};
    int pipe_ends[2];
    posix_spawn_file_actions_t actions;
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
        return -1;
    }
    (void)!write(pipe_ends[1], input, strlen(input));
    close(pipe_ends[1]);
    fflush(nullptr);  // what was said before the program comes before what it says
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], STDIN_FILENO);
    pid_t child = 0;
    const int failed =
        posix_spawnp(&child, argv[0], &actions, nullptr, const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[0]);
    // No signal has a handler, so none interrupts the wait.
    int status = 0;
    const bool ended = failed == 0 && waitpid(child, &status, 0) == child;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the card holds: its METADATA, or false after `why` says why not.
bool held_metadata(uint32_t *metadata, char (&why)[CARD_TROUBLE_SIZE])
{
    ResourceTemplate stored{};
    const int32_t fetched = fetch_card_template(&stored, why);
    *metadata = template_checksum(&stored);
    return fetched == 0;
}

// What the revert of `armed` did, kept, told to the system log and printed.
__attribute__((format(printf, 3, 4))) void tell_revert(const ArmingRecord &armed, RevertOutcome how,
                                                       const char *format, ...)
{
    RevertRecord done{how, armed.metadata, armed.backup_metadata, {}, {}};
    va_list args;
    va_start(args, format);
    vsnprintf(done.told, sizeof(done.told), format, args);
    va_end(args);
    now_text(done.at);
    (void)write_record(RECORD_REVERT, &done, sizeof(done));
    openlog(PROGRAM_NAME, LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s", done.told);
    closelog();
    print_string(nullptr, "%s\n", done.told);
}

// Whether a load waits for its confirmation: 1 with its arming, 0 when none
// does (said when `tell_none`), -1 after a message when the record cannot
// be read.
int armed_load(ArmingRecord *armed, bool tell_none = false)
{
    const int32_t read = read_record(RECORD_ARMING, armed, sizeof(*armed));
    if (read < 0) {
        warn("%s: cannot read what is armed: %s", g_device_target.name, strerror(errno));
        return -1;
    }
    const bool waiting = read == 0 && armed->state == ARM_ARMED;
    print_string(nullptr, "%s: nothing is armed\n",
                 !waiting && tell_none ? g_device_target.name : nullptr);
    return waiting ? 1 : 0;
}

}  // namespace

int32_t start_revert_timer()
{
    ArmingRecord armed{};
    char boot[BOOT_ID_SIZE];
    const int waiting = armed_load(&armed);
    // The boot of the load itself, or one whose timer runs already, starts none.
    if (waiting != 1 || !read_boot_id(boot) || memcmp(armed.load_boot, boot, sizeof(boot)) == 0 ||
        memcmp(armed.timer_boot, boot, sizeof(boot)) == 0) {
        return waiting < 0 ? -1 : 0;
    }
    char span[32];
    char unit[64];
    snprintf(span, sizeof(span), "--on-active=%umin", armed.minutes);
    snprintf(unit, sizeof(unit), "--unit=zorvi-revert@%s.service", g_device_target.name);
    if (run_program("", "systemd-run", span, "--timer-property=AccuracySec=1s", unit) != 0) {
        warn("%s: systemd-run cannot start the revert's timer", g_device_target.name);
        return -1;
    }
    memcpy(armed.timer_boot, boot, sizeof(boot));
    now_text(armed.until, armed.minutes);
    (void)write_record(RECORD_ARMING, &armed, sizeof(armed));  // the timer runs all the same
    print_string(nullptr, "%s", g_device_target.name);
    print_uint(nullptr, " armed template 0x%08X", armed.metadata);
    print_string(nullptr, " is reverted at %s unless confirmed\n", armed.until);
    return 0;
}

int run_arm(const CommandOptions &options)
{
    char why[CARD_TROUBLE_SIZE];
    CardIdentity card{};
    ArmingRecord armed{ARM_ARMED, options.minutes, 0, 0, {}, {}, {}, {}, {}, {}};
    if (!ask_card_identity(&card, why) || !held_metadata(&armed.metadata, why)) {
        return warn("%s; nothing was armed: the card must hold the template loaded", why);
    }
    // The backup must be a file a load on this card takes, wherever it is run from.
    if (check_template(options.file, &card, false, &g_backup) != 0 || !load_accepts(&g_backup) ||
        realpath(options.file, armed.backup) == nullptr) {
        return warn("%s: a load on %s would not take it back; nothing was armed", options.file,
                    g_device_target.name);
    }
    armed.backup_metadata = template_checksum(&g_backup.record);
    now_text(armed.armed);
    if (!read_boot_id(armed.load_boot) || write_record(RECORD_ARMING, &armed, sizeof(armed)) != 0) {
        return warn("%s: nothing was armed", g_device_target.name);
    }
    print_string(nullptr, "%s", g_device_target.name);
    print_uint(nullptr, " armed: template 0x%08X", armed.metadata);
    print_uint(nullptr, " must be confirmed within %u minutes of the next boot", armed.minutes);
    print_string(nullptr, ", or %s is loaded back\n", armed.backup);
    return EXIT_GOOD;
}

int run_confirm(const CommandOptions &)
{
    ArmingRecord armed{};
    if (const int waiting = armed_load(&armed, true); waiting != 1) {
        return waiting == 0 ? EXIT_GOOD : EXIT_TROUBLE;
    }
    // Confirmed first: a timer that fires after it finds nothing to revert.
    armed.state = ARM_CONFIRMED;
    now_text(armed.confirmed);
    if (write_record(RECORD_ARMING, &armed, sizeof(armed)) != 0) {
        return EXIT_TROUBLE;
    }
    char timer[64];
    snprintf(timer, sizeof(timer), "zorvi-revert@%s.timer", g_device_target.name);
    (void)run_program("", "systemctl", "stop", timer);  // none runs before the boot
    print_string(nullptr, "%s", g_device_target.name);
    print_uint(nullptr, " confirmed: template 0x%08X stays\n", armed.metadata);
    return EXIT_GOOD;
}

int run_revert(const CommandOptions &)
{
    ArmingRecord armed{};
    if (const int waiting = armed_load(&armed, true); waiting != 1) {
        return waiting == 0 ? EXIT_GOOD : EXIT_TROUBLE;
    }
    // Disarmed before anything else: whatever follows, this is the one revert.
    if (remove_record(RECORD_ARMING) != 0) {
        return warn("%s: cannot disarm: %s; nothing was reverted", g_device_target.name,
                    strerror(errno));
    }
    const char *device = g_device_target.name;
    char why[CARD_TROUBLE_SIZE];
    uint32_t held = 0;
    if (!held_metadata(&held, why) || held != armed.metadata) {
        tell_revert(armed, REVERT_DISARMED,
                    "%s: the card no longer holds the armed template 0x%08X (another was loaded "
                    "since, or it cannot be read); disarmed, nothing loaded",
                    device, armed.metadata);
        return EXIT_GOOD;
    }
    const int status = run_program("yes\nagree\n", "zorviconfig", device, "-f", armed.backup);
    // Read back: the card must hold the backup's template.
    if (status != 0 || !held_metadata(&held, why) || held != armed.backup_metadata) {
        tell_revert(armed, REVERT_FAILED,
                    "%s: template 0x%08X was not confirmed, but its backup %s cannot be loaded "
                    "back (zorviconfig exit status %d, the card holds 0x%08X); not rebooting",
                    device, armed.metadata, armed.backup, status, held);
        return EXIT_NO;
    }
    tell_revert(armed, REVERT_LOADED,
                "%s: template 0x%08X was not confirmed within %u minutes of the boot; its backup "
                "%s (0x%08X) is loaded back; rebooting",
                device, armed.metadata, armed.minutes, armed.backup, armed.backup_metadata);
    if (run_program("", "systemctl", "reboot") != 0) {
        warn("%s: systemctl reboot failed: the card applies the backup at the next boot", device);
        return EXIT_NO;
    }
    return EXIT_GOOD;
}
