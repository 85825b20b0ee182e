// The preload library: stands in for the driver's tool device at the C
// library boundary. Only descriptors handed out here are served; every other
// call goes on to the next definition (the C library, or a sanitizer's).
#undef _FORTIFY_SOURCE
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "sim/card_service.h"

extern "C" {
__attribute__((visibility("default"))) int zorvisim_busy = 0;
}

namespace {

constexpr int MAX_TRACKED_FD = 4096;
// Which descriptors are the simulated device's, and the flags each was opened with.
bool g_is_device[MAX_TRACKED_FD];
int g_device_flags[MAX_TRACKED_FD];

// The device path is absolute, so openat's folder descriptor does not matter.
bool is_tool_device(const char *path)
{
    return path != nullptr && strcmp(path, SIM_DEVICE_PATH) == 0 && sim_state_folder() != nullptr;
}

int open_device(const char *path, int flags)
{
    SimWork work;
    const char *state = sim_state_folder();
    if (!sim_device_present(state)) {
        sim_journal_open(state, path, flags, -1, ENOENT);
        errno = ENOENT;
        return -1;
    }
    int fd = open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    int error = errno;
    if (fd >= 0 && fd < MAX_TRACKED_FD) {
        g_is_device[fd] = true;
        g_device_flags[fd] = flags;
    } else if (fd >= 0) {
        close(fd);
        fd = -1;
        error = EMFILE;
    }
    sim_journal_open(state, path, flags, fd, fd < 0 ? error : 0);
    errno = error;
    return fd;
}

bool is_device_fd(int fd)
{
    return fd >= 0 && fd < MAX_TRACKED_FD && g_is_device[fd];
}

}  // namespace

extern "C" {

// The ways into open: plain and 64-bit, with and without a folder
// descriptor, and the checked forms that fortified builds call instead, which
// carry no mode. The tool device is served here; any other path goes on with
// the caller's arguments to the entry's own next definition, so that the C
// library's or a sanitizer's handling of it still applies. A mode follows the
// flags only when the call may create a file.
#define OPEN_WITH_MODE(name, parameters, arguments)                                      \
    int name parameters                                                                  \
    {                                                                                    \
        va_list list;                                                                    \
        va_start(list, flags);                                                           \
        const bool created = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; \
        const int mode = created ? va_arg(list, int) : 0;                                \
        va_end(list);                                                                    \
        static const auto real = next_definition<decltype(&name)>(#name);                \
        return is_tool_device(path) ? open_device(path, flags) : real arguments;         \
    }
#define CHECKED_OPEN(name, parameters, arguments)                                \
    int name parameters;                                                         \
    int name parameters                                                          \
    {                                                                            \
        static const auto real = next_definition<decltype(&name)>(#name);        \
        return is_tool_device(path) ? open_device(path, flags) : real arguments; \
    }

OPEN_WITH_MODE(open, (const char *path, int flags, ...), (path, flags, mode))
OPEN_WITH_MODE(open64, (const char *path, int flags, ...), (path, flags, mode))
OPEN_WITH_MODE(openat, (int dirfd, const char *path, int flags, ...), (dirfd, path, flags, mode))
OPEN_WITH_MODE(openat64, (int dirfd, const char *path, int flags, ...), (dirfd, path, flags, mode))
CHECKED_OPEN(__open_2, (const char *path, int flags), (path, flags))
CHECKED_OPEN(__open64_2, (const char *path, int flags), (path, flags))
CHECKED_OPEN(__openat_2, (int dirfd, const char *path, int flags), (dirfd, path, flags))
CHECKED_OPEN(__openat64_2, (int dirfd, const char *path, int flags), (dirfd, path, flags))

int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    const char *state = sim_state_folder();
    if (state != nullptr && is_device_fd(fd)) {
        SimWork work;
        int error = 0;
        int result = sim_serve_ioctl(state, fd, g_device_flags[fd], request, arg, &error);
        errno = error;
        return result;
    }
    static const auto real = next_definition<int (*)(int, unsigned long, ...)>("ioctl");
    return real(fd, request, arg);
}

int close(int fd)
{
    if (is_device_fd(fd)) {
        SimWork work;
        g_is_device[fd] = false;
        const char *state = sim_state_folder();
        if (state != nullptr) {
            sim_journal_close(state, fd);
        }
    }
    static const auto real = next_definition<int (*)(int)>("close");
    return real(fd);
}

}  // extern "C"
