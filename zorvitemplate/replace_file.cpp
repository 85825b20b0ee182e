#include "zorvitemplate/replace_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Links followed from one name at most, as the kernel counts them.
constexpr int LINK_HOPS_MAX = 40;
constexpr int NAME_KEPT = NAME_MAX - 8;  // room for the leading '.' and ".XXXXXX"
constexpr int FOLDER_FLAGS = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A step failed: its message, told before the clean-up can change errno,
// and the temporary file removed.
int32_t give_up(ReplacedFile *file, const char *what, const char *path)
{
    snprintf(file->why, sizeof(file->why), "%s %s: %s", what, path, strerror(errno));
    abandon_replacing(file);
    return -1;
}

// Puts the text of the link that stands at path[*at, end) in its place,
// when the kernel's rule for a link in that folder lets it be followed.
int32_t follow_link(ReplacedFile *file, size_t *at, size_t end)
{
    struct stat place {};
    const bool open_to_all = fstat(file->folder, &place) != 0 ||
                             ((place.st_mode & S_ISVTX) != 0 && (place.st_mode & S_IWOTH) != 0);
    const uid_t owner = file->state.st_uid;
    if (open_to_all && owner != geteuid() && owner != place.st_uid) {
        snprintf(file->why, sizeof(file->why),
                 "%.*s is a symbolic link in a sticky folder that anyone may write to, owned "
                 "by neither you nor the folder's owner; it is not followed",
                 static_cast<int>(end), file->path);
        return -1;
    }
    char text[PATH_MAX] = {};  // readlinkat adds no NUL: the zeros after it end the text
    if (readlinkat(file->folder, file->name, text, sizeof(text) - 1) < 0) {
        return -1;
    }
    // A relative link reads on from its own folder, "./" when the name had none.
    const bool absolute = text[0] == '/';
    char next[PATH_MAX];
    const int written =
        snprintf(next, sizeof(next), "%.*s%s%s%s", absolute ? 0 : static_cast<int>(*at), file->path,
                 !absolute && *at == 0 ? "./" : "", text, file->path + end);
    if (static_cast<size_t>(written) >= sizeof(next)) {  // below 0 too
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(file->path, next, sizeof(next));
    if (absolute) {
        close(file->folder);
        file->folder = open("/", FOLDER_FLAGS);
        *at = 0;
    }
    return 0;
}

}  // namespace

int32_t check_regular(const char *path, mode_t mode, char *why, size_t size)
{
    const char *kind = S_ISDIR(mode)    ? "a folder"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISLNK(mode)  ? "a symbolic link"
                                        : nullptr;
    if (kind != nullptr) {
        snprintf(why, size, "%s is %s, not a regular file", path, kind);
    }
    return kind != nullptr ? -1 : 0;
}

int32_t resolve_replace_target(const char *given, bool may_be_new, ReplacedFile *file)
{
    char *path = file->path;
    file->why[0] = '\0';
    if (snprintf(path, PATH_MAX, "%s", given) >= PATH_MAX) {
        snprintf(file->why, sizeof(file->why), "%s: the path is too long", given);
        return -1;
    }
    // One component at a time, each looked at without following it, from
    // the folder before it held open.
    file->folder = open(path[0] == '/' ? "/" : ".", FOLDER_FLAGS);
    size_t at = 0;
    int hops = 0;
    while (file->folder >= 0) {
        at += strspn(path + at, "/");
        const size_t end = at + strcspn(path + at, "/");
        const bool last = path[end] == '\0';
        // An empty last component ("/", "dir/") is the folder itself.
        snprintf(file->name, sizeof(file->name), "%.*s%s", static_cast<int>(end - at), path + at,
                 end == at ? "." : "");
        if (fstatat(file->folder, file->name, &file->state, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last && may_be_new) {
                return 0;
            }
            break;
        }
        if (S_ISLNK(file->state.st_mode)) {
            errno = ELOOP;  // what too many links are told as
            if (++hops > LINK_HOPS_MAX || follow_link(file, &at, end) != 0) {
                break;
            }
        } else if (last) {
            return check_regular(path, file->state.st_mode, file->why, sizeof(file->why));
        } else {
            const int next = openat(file->folder, file->name, FOLDER_FLAGS);
            close(file->folder);
            file->folder = next;
            at = end;
        }
    }
    if (file->why[0] == '\0') {
        snprintf(file->why, sizeof(file->why), "%s: %s", path, strerror(errno));
    }
    return -1;
}

bool same_file_state(const struct stat &before, const struct stat &now)
{
    // Whatever changes the data or the times moves ctime too; the size
    // tells a write within the clock's tick.
    return before.st_dev == now.st_dev && before.st_ino == now.st_ino &&
           before.st_size == now.st_size && before.st_ctim.tv_sec == now.st_ctim.tv_sec &&
           before.st_ctim.tv_nsec == now.st_ctim.tv_nsec;
}

int32_t start_replacing(ReplacedFile *file)
{
    file->fd = -1;
    // ".NAME.XXXXXX" in place of the name, cut so that it fits NAME_MAX, X
    // being hexadecimal digits nobody can foresee: with O_EXCL, another
    // user's file or link of that name is never opened.
    uint32_t bits = 0;
    bits = getrandom(&bits, sizeof(bits), GRND_NONBLOCK) == sizeof(bits) ? bits : 0;
    const int folder = static_cast<int>(strlen(file->path) - strlen(file->name));
    const int length = snprintf(file->temp, sizeof(file->temp), "%.*s.%.*s.%06x", folder,
                                file->path, NAME_KEPT, file->name, bits & 0xFFFFFFu);
    if (static_cast<size_t>(length) >= sizeof(file->temp)) {
        snprintf(file->why, sizeof(file->why), "%s: the path is too long", file->path);
        return -1;
    }
    file->temp_name = file->temp + folder;
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&held, signal_number);
    }
    sigprocmask(SIG_BLOCK, &held, &file->before);
    file->fd = openat(file->folder, file->temp_name,
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file->fd < 0) {
        snprintf(file->why, sizeof(file->why), "cannot create a file beside %s: %s", file->path,
                 strerror(errno));
        sigprocmask(SIG_SETMASK, &file->before, nullptr);
        return -1;
    }
    return 0;
}

int32_t write_replacing(ReplacedFile *file, const void *data, size_t size)
{
    // No signal has a handler, so none interrupts a write: it stops short
    // only on trouble, which the next one tells.
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = write(file->fd, bytes, size);
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return give_up(file, "cannot write", file->temp);
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

int32_t finish_replacing(ReplacedFile *file, mode_t mode, const struct stat *old)
{
    if ((old != nullptr && fchown(file->fd, old->st_uid, old->st_gid) != 0) ||
        fchmod(file->fd, mode) != 0) {
        return give_up(file, "cannot give the mode and owner of the old file to", file->temp);
    }
    // Once closed, the descriptor is gone whatever close answers.
    if (fsync(file->fd) != 0 || close(std::exchange(file->fd, -1)) != 0) {
        return give_up(file, "cannot write", file->temp);
    }
    struct stat now {};
    if (old != nullptr && (fstatat(file->folder, file->name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
                           !same_file_state(*old, now))) {
        if (check_regular(file->path, now.st_mode, file->why, sizeof(file->why)) == 0) {
            snprintf(file->why, sizeof(file->why), "%s changed meanwhile; it was left as it is",
                     file->path);
        }
        abandon_replacing(file);
        return -1;
    }
    if (renameat(file->folder, file->temp_name, file->folder, file->name) != 0) {
        return give_up(file, "cannot rename the new file to", file->path);
    }
    // The rename lasts once the folder is on disk too.
    const int folder_fd = openat(file->folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
        fsync(folder_fd);
        close(folder_fd);
    }
    sigprocmask(SIG_SETMASK, &file->before, nullptr);
    return 0;
}

void abandon_replacing(ReplacedFile *file)
{
    if (file->fd >= 0) {
        close(std::exchange(file->fd, -1));
    }
    unlinkat(file->folder, file->temp_name, 0);
    sigprocmask(SIG_SETMASK, &file->before, nullptr);
}
