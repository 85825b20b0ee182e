// boot: what each card runs, recorded once at every boot by the boot
// service; and the record read back for list and diff --running.
#include "zorvitemplate/running.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

constexpr const char *RUN_FOLDER = "/run/zorvi";
constexpr const char *BOOT_ID = "/proc/sys/kernel/random/boot_id";
constexpr size_t BOOT_ID_LENGTH = 36;
constexpr mode_t RECORD_MODE = 0600;

// The bytes of a small file, never through a link: how many were read, or -1.
ssize_t read_file(const char *path, void *buffer, size_t size)
{
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const ssize_t got = fd < 0 ? -1 : read(fd, buffer, size);
    if (fd >= 0) {
        close(fd);
    }
    return got;
}

// The id of this boot, which the kernel makes anew at every boot.
bool read_boot_id(char (&id)[BOOT_ID_SIZE])
{
    memset(id, 0, sizeof(id));
    return read_file(BOOT_ID, id, BOOT_ID_LENGTH) == static_cast<ssize_t>(BOOT_ID_LENGTH);
}

void running_path(const char *device, char (&path)[PATH_MAX])
{
    snprintf(path, sizeof(path), "%s/%s.running", RUN_FOLDER, device);
}

// The record of the card behind g_device_target, whole or not at all.
int32_t write_running(const RunningRecord &record, char (&why)[REPLACE_TROUBLE_SIZE])
{
    static ReplacedFile file;
    char path[PATH_MAX];
    running_path(g_device_target.name, path);
    if ((mkdir(RUN_FOLDER, 0700) != 0 && errno != EEXIST) ||
        resolve_replace_target(path, true, &file) != 0 || start_replacing(&file) != 0 ||
        write_replacing(&file, &record, sizeof(record)) != 0 ||
        finish_replacing(&file, RECORD_MODE, nullptr) != 0) {
        snprintf(why, sizeof(why), "%s", file.why[0] != '\0' ? file.why : strerror(errno));
        return -1;
    }
    return 0;
}

}  // namespace

int32_t read_running(RunningRecord *record)
{
    char path[PATH_MAX];
    char boot_id[BOOT_ID_SIZE];
    running_path(g_device_target.name, path);
    const bool whole = read_file(path, record, sizeof(*record)) == sizeof(*record);
    record->recorded[sizeof(record->recorded) - 1] = '\0';  // the file's bytes, whatever they are
    return whole && read_boot_id(boot_id) && memcmp(boot_id, record->boot_id, BOOT_ID_SIZE) == 0
               ? 0
               : -1;
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
    size_t count = 0;
    if (!read_boot_id(record.boot_id) || find_devices(&count) != 0) {
        warn("cannot read %s or the network devices: %s", BOOT_ID, strerror(errno));
        return EXIT_TROUBLE;
    }
    const time_t now = time(nullptr);
    struct tm when {};
    strftime(record.recorded, sizeof(record.recorded), "%FT%TZ", gmtime_r(&now, &when));
    bool whole = true;
    for (size_t i = 0; i < count; ++i) {
        (void)select_device(device_name(i));
        char why[REPLACE_TROUBLE_SIZE] = {};
        char trouble[CARD_TROUBLE_SIZE] = {};
        record.running = ResourceTemplate{};
        record.card_status = fetch_card_template(&record.running, trouble);
        if (record.card_status < 0) {
            warn("%s; nothing is recorded of what it runs", trouble);
        } else if (write_running(record, why) != 0) {
            warn("%s: cannot record what the card runs: %s", g_device_target.name, why);
        } else {
            const bool held = record.card_status == 0;
            print_string(PRINT_TEXT, nullptr, "%s runs", g_device_target.name);
            print_uint(PRINT_TEXT, nullptr,
                       held ? " metadata 0x%08X\n" : " no template (card status %u)\n",
                       held ? template_checksum(&record.running)
                            : static_cast<uint32_t>(record.card_status));
        }
        whole = whole && record.card_status >= 0 && why[0] == '\0';
    }
    return whole ? EXIT_GOOD : EXIT_NO;
}
