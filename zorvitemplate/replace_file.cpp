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
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Links followed from one name at most, as the kernel counts them.
constexpr int LINK_HOPS_MAX = 40;
constexpr const char *TEMP_SUFFIX = ".XXXXXX";
constexpr size_t TEMP_EXTRA = 1 + 7;  // the leading '.' and the suffix

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

// Holds the clean-up signals back while the pending name and the files
// disagree; they are delivered once `release_signals` runs.
sigset_t hold_signals()
{
    sigset_t held;
    sigset_t before;
    sigemptyset(&held);
    for (int signal_number : CLEANUP_SIGNALS) {
        sigaddset(&held, signal_number);
    }
    sigprocmask(SIG_BLOCK, &held, &before);
    return before;
}

void release_signals(const sigset_t &before)
{
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

void say_errno(char (&why)[REPLACE_TROUBLE_SIZE], const char *what, const char *path)
{
    const int error = errno;
    snprintf(why, sizeof(why), "%s %s: %s", what, path, strerror(error));
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

const char *kind_of(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// The kernel's rule for following a link that lies in `folder`.
bool may_follow(const struct stat &link, const char *folder)
{
    struct stat place {};
    if (stat(folder, &place) != 0) {
        return false;
    }
    const bool open_to_all = (place.st_mode & S_ISVTX) != 0 && (place.st_mode & S_IWOTH) != 0;
    return !open_to_all || link.st_uid == geteuid() || link.st_uid == place.st_uid;
}

// The path `link` (in `folder`) points to.
int32_t read_link(const char *link, const char *folder, char (&next)[PATH_MAX],
                  char (&why)[REPLACE_TROUBLE_SIZE])
{
    char text[PATH_MAX];
    const ssize_t length = readlink(link, text, sizeof(text) - 1);
    if (length < 0) {
        say_errno(why, "cannot read the link", link);
        return -1;
    }
    text[length] = '\0';
    const int written = text[0] == '/' ? snprintf(next, sizeof(next), "%s", text)
                                       : snprintf(next, sizeof(next), "%s/%s", folder, text);
    if (written < 0 || static_cast<size_t>(written) >= sizeof(next)) {
        snprintf(why, sizeof(why), "%s: the path it leads to is too long", link);
        return -1;
    }
    return 0;
}

}  // namespace

int32_t resolve_replace_target(const char *name, bool may_be_new, ReplaceTarget *target,
                               char (&why)[REPLACE_TROUBLE_SIZE])
{
    target->exists = false;
    if (strlen(name) >= sizeof(target->path)) {
        snprintf(why, sizeof(why), "%s: the path is too long", name);
        return -1;
    }
    snprintf(target->path, sizeof(target->path), "%s", name);
    for (int hop = 0; hop <= LINK_HOPS_MAX; ++hop) {
        struct stat state {};
        if (lstat(target->path, &state) != 0) {
            if (errno == ENOENT && may_be_new) {
                return 0;
            }
            const int error = errno;
            snprintf(why, sizeof(why), "%s: %s", target->path, strerror(error));
            return -1;
        }
        if (!S_ISLNK(state.st_mode)) {
            if (!S_ISREG(state.st_mode)) {
                snprintf(why, sizeof(why), "%s is %s, not a regular file", target->path,
                         kind_of(state.st_mode));
                return -1;
            }
            target->exists = true;
            target->state = state;
            return 0;
        }
        char folder[PATH_MAX];
        folder_of(target->path, folder);
        if (!may_follow(state, folder)) {
            snprintf(why, sizeof(why),
                     "%s is a symbolic link in a sticky folder that anyone may write to, owned "
                     "by neither you nor the folder's owner; it is not followed",
                     target->path);
            return -1;
        }
        char next[PATH_MAX];
        if (read_link(target->path, folder, next, why) != 0) {
            return -1;
        }
        memcpy(target->path, next, sizeof(next));
    }
    snprintf(why, sizeof(why), "%s: %s", name, strerror(ELOOP));
    return -1;
}

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
    // ".NAME.XXXXXX", the name cut so that the whole fits NAME_MAX.
    const int kept = static_cast<int>(strnlen(base, NAME_MAX - TEMP_EXTRA));
    const int length =
        snprintf(file->temp, sizeof(file->temp), "%s/.%.*s%s", folder, kept, base, TEMP_SUFFIX);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(file->temp) ||
        strlen(target) >= sizeof(file->target)) {
        snprintf(why, sizeof(why), "%s: the path is too long", target);
        return -1;
    }
    snprintf(file->target, sizeof(file->target), "%s", target);
    const sigset_t before = hold_signals();
    watch_signals(true);
    file->fd = mkostemp(file->temp, O_CLOEXEC);
    if (file->fd < 0) {
        say_errno(why, "cannot create a file in", folder);
        watch_signals(false);
        release_signals(before);
        return -1;
    }
    memcpy(g_pending_temp, file->temp, sizeof(g_pending_temp));
    g_pending = 1;
    release_signals(before);
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
            if (written == 0) {
                errno = EIO;
            }
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
    if ((owner != nullptr && fchown(file->fd, owner->st_uid, owner->st_gid) != 0) ||
        fchmod(file->fd, mode) != 0) {
        say_errno(why, "cannot give the mode and owner of the old file to", file->temp);
        abandon_replacing(file);
        return -1;
    }
    if (fsync(file->fd) != 0) {
        say_errno(why, "cannot write", file->temp);
        abandon_replacing(file);
        return -1;
    }
    const int closed = close(file->fd);
    file->fd = -1;
    if (closed != 0) {
        say_errno(why, "cannot write", file->temp);
        abandon_replacing(file);
        return -1;
    }
    struct stat now {};
    if (unchanged != nullptr &&
        (stat(file->target, &now) != 0 || !same_file_state(*unchanged, now))) {
        snprintf(why, sizeof(why), "%s changed meanwhile; it was left as it is", file->target);
        abandon_replacing(file);
        return -1;
    }
    const sigset_t before = hold_signals();
    if (rename(file->temp, file->target) != 0) {
        say_errno(why, "cannot rename the new file to", file->target);
        release_signals(before);
        abandon_replacing(file);
        return -1;
    }
    g_pending = 0;
    watch_signals(false);
    release_signals(before);
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
    const sigset_t before = hold_signals();
    if (file->fd >= 0) {
        close(file->fd);
        file->fd = -1;
    }
    unlink(file->temp);
    g_pending = 0;
    watch_signals(false);
    release_signals(before);
}
