// The host's records of its cards, and boot: what each card runs, recorded
// once at every boot by the boot service.
#include "zorvitemplate/records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "channel/device_target.h"
#include "template/identity_check.h"
#include "zorvitemplate/card.h"
#include "zorvitemplate/commands.h"
#include "zorvitemplate/output.h"
#include "zorvitemplate/replace_file.h"

namespace {

constexpr const char *BOOT_ID = "/proc/sys/kernel/random/boot_id";
constexpr size_t BOOT_ID_LENGTH = 36;

// Where each kind lives, by RecordKind: root's alone.
constexpr const char *RECORD_FOLDERS[] = {"/run/zorvi", "/var/lib/zorvi", "/var/lib/zorvi"};
constexpr const char *RECORD_SUFFIXES[] = {"running", "armed", "reverted"};

// The path of the card's record of `kind`, until the next call.
const char *record_path(RecordKind kind)
{
    static char path[PATH_MAX];
    snprintf(path, sizeof(path), "%s/%s.%s", RECORD_FOLDERS[kind], g_device_target.name,
             RECORD_SUFFIXES[kind]);
    return path;
}

// What one read of the file gives: its length, or -1 (errno says why).
ssize_t read_file(const char *path, int flags, void *data, size_t size)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC | flags);
    const ssize_t got = fd < 0 ? -1 : read(fd, data, size);
    if (fd >= 0) {
        close(fd);
    }
    return got;
}

// Text fields end within them, whatever the file held.
template <size_t... N>
void end_texts(char (&...texts)[N])
{
    ((texts[N - 1] = '\0'), ...);
}

}  // namespace

bool read_boot_id(char (&id)[BOOT_ID_SIZE])
{
    memset(id, 0, sizeof(id));
    return read_file(BOOT_ID, 0, id, BOOT_ID_LENGTH) == static_cast<ssize_t>(BOOT_ID_LENGTH);
}

void now_text(char (&text)[TIME_TEXT_SIZE], uint32_t minutes_on)
{
    const time_t when = time(nullptr) + 60 * static_cast<time_t>(minutes_on);
    struct tm fields {};
    strftime(text, sizeof(text), "%FT%TZ", gmtime_r(&when, &fields));
}

int32_t read_record(RecordKind kind, void *record, size_t size)
{
    const ssize_t got = read_file(record_path(kind), O_NOFOLLOW | O_NONBLOCK, record, size);
    if (kind == RECORD_RUNNING) {
        end_texts(static_cast<RunningRecord *>(record)->recorded);
    } else if (auto *arming = static_cast<ArmingRecord *>(record); kind == RECORD_ARMING) {
        end_texts(arming->armed, arming->until, arming->confirmed, arming->backup);
    } else if (auto *revert = static_cast<RevertRecord *>(record); kind == RECORD_REVERT) {
        end_texts(revert->at, revert->told);
    }
    errno = got >= 0 ? EBADMSG : errno;  // a record cut short, when it is not whole
    return got == static_cast<ssize_t>(size) ? 0 : errno == ENOENT ? RECORD_NONE : -1;
}

int32_t write_record(RecordKind kind, const void *record, size_t size)
{
    ReplacedFile file{};
    const char *path = record_path(kind);
    if ((mkdir(RECORD_FOLDERS[kind], 0700) != 0 && errno != EEXIST) ||
        resolve_replace_target(path, true, &file) != 0 || start_replacing(&file) != 0 ||
        write_replacing(&file, record, size) != 0 || finish_replacing(&file, 0600, nullptr) != 0) {
        warn("%s: cannot write %s: %s", g_device_target.name, path,
             file.why[0] != '\0' ? file.why : strerror(errno));
        return -1;
    }
    return 0;
}

int32_t remove_record(RecordKind kind)
{
    return unlink(record_path(kind)) == 0 || errno == ENOENT ? 0 : -1;
}

bool read_running(RunningRecord *record)
{
    char boot_id[BOOT_ID_SIZE];
    return read_record(RECORD_RUNNING, record, sizeof(*record)) == 0 && read_boot_id(boot_id) &&
           memcmp(boot_id, record->boot_id, BOOT_ID_SIZE) == 0;
}

bool differs_from_running(const RunningRecord &running, int32_t fetched,
                          const ResourceTemplate &stored)
{
    return running.card_status != fetched ||
           (fetched == 0 && memcmp(&running.running, &stored, sizeof(stored)) != 0);
}

int run_boot(const CommandOptions &)
{
    RunningRecord record{};
    if (!read_boot_id(record.boot_id) || find_cards() != 0) {
        return warn("cannot read %s or the network devices: %s", BOOT_ID, strerror(errno));
    }
    now_text(record.recorded);
    bool whole = true;
    for (size_t i = 0; i < g_cards.count; ++i) {
        (void)select_device(g_cards.names[i]);
        char why[CARD_TROUBLE_SIZE] = {};
        record.running = ResourceTemplate{};
        record.card_status = fetch_card_template(&record.running, why);
        const bool kept =
            record.card_status >= 0 && write_record(RECORD_RUNNING, &record, sizeof(record)) == 0;
        if (record.card_status < 0) {
            warn("%s; nothing is recorded of what it runs", why);
        } else if (kept) {
            const bool held = record.card_status == 0;
            print_string(nullptr, "%s runs", g_device_target.name);
            print_uint(nullptr, held ? " metadata 0x%08X\n" : " no template (card status %u)\n",
                       held ? template_checksum(&record.running)
                            : static_cast<uint32_t>(record.card_status));
        }
        whole = kept && start_revert_timer() == 0 && whole;
    }
    return whole ? EXIT_GOOD : EXIT_NO;
}
