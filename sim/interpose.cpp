// The preload library: stands in for the driver's tool device at the C
// library boundary. Only descriptors handed out here are served; every other
// call goes on to the next definition (the C library, or a sanitizer's).
#undef _FORTIFY_SOURCE
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <iterator>

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

// The ways into open: plain and 64-bit, with and without a folder descriptor,
// and the checked forms fortified builds call. Each passes on to its own next
// definition, so the C library's or a sanitizer's handling of it still applies.
enum OpenEntry { OPEN, OPEN64, OPENAT, OPENAT64, OPEN_2, OPEN64_2, OPENAT_2, OPENAT64_2 };
constexpr const char *OPEN_ENTRY_NAMES[] = {"open",     "open64",     "openat",     "openat64",
                                            "__open_2", "__open64_2", "__openat_2", "__openat64_2"};
using OpenFn = int (*)(const char *, int, ...);
using OpenatFn = int (*)(int, const char *, int, ...);
using CheckedOpenFn = int (*)(const char *, int);
using CheckedOpenatFn = int (*)(int, const char *, int);

void *next_open(OpenEntry entry)
{
    static const auto NEXT = [] {
        std::array<void *, std::size(OPEN_ENTRY_NAMES)> next{};
        for (size_t i = 0; i < next.size(); ++i) {
            next[i] = next_definition<void *>(OPEN_ENTRY_NAMES[i]);
        }
        return next;
    }();
    return NEXT[entry];
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
    int fd = reinterpret_cast<OpenFn>(next_open(OPEN))("/dev/null", O_RDWR | (flags & O_CLOEXEC));
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

// Every open entry point: the tool device is served here, any other path goes
// on with the caller's arguments (the checked forms carry no mode).
int open_entry(OpenEntry entry, int dirfd, const char *path, int flags, int mode)
{
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    void *next = next_open(entry);
    switch (entry) {
        case OPEN:
        case OPEN64:
            return reinterpret_cast<OpenFn>(next)(path, flags, mode);
        case OPENAT:
        case OPENAT64:
            return reinterpret_cast<OpenatFn>(next)(dirfd, path, flags, mode);
        case OPEN_2:
        case OPEN64_2:
            return reinterpret_cast<CheckedOpenFn>(next)(path, flags);
        case OPENAT_2:
        case OPENAT64_2:
            break;
    }
    return reinterpret_cast<CheckedOpenatFn>(next)(dirfd, path, flags);
}

}  // namespace

extern "C" {

// Each entry point hands its own arguments on; a mode follows the flags
// only when the call may create a file, and never in the checked forms that
// fortified builds call instead of open and openat.
#define OPEN_WITH_MODE(name, entry, dirfd, ...)                                          \
    int name(__VA_ARGS__ const char *path, int flags, ...)                               \
    {                                                                                    \
        va_list args;                                                                    \
        va_start(args, flags);                                                           \
        const bool created = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; \
        const int mode = created ? va_arg(args, int) : 0;                                \
        va_end(args);                                                                    \
        return open_entry(entry, dirfd, path, flags, mode);                              \
    }
#define CHECKED_OPEN(name, entry, dirfd, ...)            \
    int name(__VA_ARGS__ const char *path, int flags);   \
    int name(__VA_ARGS__ const char *path, int flags)    \
    {                                                    \
        return open_entry(entry, dirfd, path, flags, 0); \
    }

OPEN_WITH_MODE(open, OPEN, AT_FDCWD)
OPEN_WITH_MODE(open64, OPEN64, AT_FDCWD)
OPEN_WITH_MODE(openat, OPENAT, dirfd, int dirfd, )
OPEN_WITH_MODE(openat64, OPENAT64, dirfd, int dirfd, )
CHECKED_OPEN(__open_2, OPEN_2, AT_FDCWD)
CHECKED_OPEN(__open64_2, OPEN64_2, AT_FDCWD)
CHECKED_OPEN(__openat_2, OPENAT_2, dirfd, int dirfd, )
CHECKED_OPEN(__openat64_2, OPENAT64_2, dirfd, int dirfd, )

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
