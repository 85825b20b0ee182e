#include "zorvitemplate/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The temporary file of the run, for the signal handler to remove.
char g_pending_temp[PATH_MAX];
volatile sig_atomic_t g_pending = 0;
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void remove_pending_and_die(int signal_number)
{
    if (g_pending != 0) {
        unlink(g_pending_temp);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void watch_signals(bool on)
{
    for (int signal_number : CLEANUP_SIGNALS) {
        signal(signal_number, on ? remove_pending_and_die : SIG_DFL);
    }
}

void say_errno(char (&why)[REPLACE_TROUBLE_SIZE], const char *what, const char *path)
{
    snprintf(why, sizeof(why), "%s %s: %s", what, path, strerror(errno));
}

// The folder part of `path`, "." when it has none.
void folder_of(const char *path, char (&folder)[PATH_MAX])
{
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) {
        snprintf(folder, sizeof(folder), ".");
    } else if (slash == path) {
        snprintf(folder, sizeof(folder), "/");
    } else {
        snprintf(folder, sizeof(folder), "%.*s", static_cast<int>(slash - path), path);
    }
}

}  // namespace

bool same_file_state(const struct stat &before, const struct stat &now)
{
    return before.st_dev == now.st_dev && before.st_ino == now.st_ino &&
           before.st_size == now.st_size && before.st_mtim.tv_sec == now.st_mtim.tv_sec &&
           before.st_mtim.tv_nsec == now.st_mtim.tv_nsec &&
           before.st_ctim.tv_sec == now.st_ctim.tv_sec &&
           before.st_ctim.tv_nsec == now.st_ctim.tv_nsec;
}

int32_t start_replacing(const char *target, ReplacedFile *file, char (&why)[REPLACE_TROUBLE_SIZE])
{
    file->fd = -1;
    char folder[PATH_MAX];
    folder_of(target, folder);
    const char *slash = strrchr(target, '/');
    const char *base = (slash == nullptr) ? target : slash + 1;
    const int length = snprintf(file->temp, sizeof(file->temp), "%s/.%s.XXXXXX", folder, base);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(file->temp) ||
        strlen(target) >= sizeof(file->target)) {
        snprintf(why, sizeof(why), "%s: the path is too long", target);
        return -1;
    }
    snprintf(file->target, sizeof(file->target), "%s", target);
    memcpy(g_pending_temp, file->temp, sizeof(g_pending_temp));
    watch_signals(true);
    file->fd = mkostemp(file->temp, O_CLOEXEC);
    if (file->fd < 0) {
        watch_signals(false);
        say_errno(why, "cannot create a file in", folder);
        return -1;
    }
    memcpy(g_pending_temp, file->temp, sizeof(g_pending_temp));
    g_pending = 1;
    return 0;
}

int32_t write_replacing(ReplacedFile *file, const void *data, size_t size,
                        char (&why)[REPLACE_TROUBLE_SIZE])
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = write(file->fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            say_errno(why, "cannot write", file->temp);
            return -1;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

int32_t finish_replacing(ReplacedFile *file, mode_t mode, const struct stat *owner,
                         const struct stat *unchanged, char (&why)[REPLACE_TROUBLE_SIZE])
{
    if (fchmod(file->fd, mode) != 0 ||
        (owner != nullptr && fchown(file->fd, owner->st_uid, owner->st_gid) != 0)) {
        say_errno(why, "cannot give the mode and owner of the old file to", file->temp);
        abandon_replacing(file);
        return -1;
    }
    if (fsync(file->fd) != 0) {
        say_errno(why, "cannot write", file->temp);
        abandon_replacing(file);
        return -1;
    }
    close(file->fd);
    file->fd = -1;
    struct stat now {};
    if (unchanged != nullptr &&
        (stat(file->target, &now) != 0 || !same_file_state(*unchanged, now))) {
        snprintf(why, sizeof(why), "%s changed meanwhile; it was left as it is", file->target);
        abandon_replacing(file);
        return -1;
    }
    if (rename(file->temp, file->target) != 0) {
        say_errno(why, "cannot rename the new file to", file->target);
        abandon_replacing(file);
        return -1;
    }
    g_pending = 0;
    watch_signals(false);
    // The rename lasts once the folder is on disk too.
    char folder[PATH_MAX];
    folder_of(file->target, folder);
    const int folder_fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
        fsync(folder_fd);
        close(folder_fd);
    }
    return 0;
}

void abandon_replacing(ReplacedFile *file)
{
    if (file->fd >= 0) {
        close(file->fd);
        file->fd = -1;
    }
    unlink(file->temp);
    g_pending = 0;
    watch_signals(false);
}
