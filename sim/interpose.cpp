// The preload library: stands in for the driver's tool device at the C
// library boundary. Only descriptors handed out here are served; every other
// call goes on to the next definition (the C library, or a sanitizer's).
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "channel/tool_message.h"
#include "sim/card_service.h"

namespace {

constexpr int MAX_TRACKED_FD = 4096;
// Open flags of each descriptor of the simulated device, -1 when not ours.
int g_device_flags[MAX_TRACKED_FD];
bool g_device_table_ready = false;

void ready_table()
{
    if (!g_device_table_ready) {
        for (int &flags : g_device_flags) {
            flags = -1;
        }
        g_device_table_ready = true;
    }
}

template <typename F>
F next_definition(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

const char *state_folder()
{
    const char *state = getenv(SIM_STATE_ENV);
    return state != nullptr && state[0] != '\0' ? state : nullptr;
}

// The device path is absolute, so openat's folder descriptor does not matter.
bool is_tool_device(const char *path)
{
    return path != nullptr && state_folder() != nullptr && strcmp(path, TOOL_DEVICE_PATH) == 0;
}

bool needs_mode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

int open_device(const char *path, int flags)
{
    const char *state = state_folder();
    ready_table();
    if (!sim_device_present(state)) {
        sim_journal_open(state, path, flags, -1, ENOENT);
        errno = ENOENT;
        return -1;
    }
    using OpenFn = int (*)(const char *, int, ...);
    static OpenFn real_open = next_definition<OpenFn>("open");
    int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    int error = errno;
    if (fd >= 0 && fd < MAX_TRACKED_FD) {
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
    return g_device_table_ready && fd >= 0 && fd < MAX_TRACKED_FD && g_device_flags[fd] != -1;
}

int read_mode(int flags, va_list args)
{
    return needs_mode(flags) ? va_arg(args, int) : 0;
}

}  // namespace

extern "C" {

int open(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    int mode = read_mode(flags, args);
    va_end(args);
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(const char *, int, ...);
    static Fn real = next_definition<Fn>("open");
    return real(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    int mode = read_mode(flags, args);
    va_end(args);
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(const char *, int, ...);
    static Fn real = next_definition<Fn>("open64");
    return real(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    int mode = read_mode(flags, args);
    va_end(args);
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(int, const char *, int, ...);
    static Fn real = next_definition<Fn>("openat");
    return real(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    int mode = read_mode(flags, args);
    va_end(args);
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(int, const char *, int, ...);
    static Fn real = next_definition<Fn>("openat64");
    return real(dirfd, path, flags, mode);
}

// Fortified builds call these checked forms instead of open and openat.
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);

int __open_2(const char *path, int flags)
{
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(const char *, int);
    static Fn real = next_definition<Fn>("__open_2");
    return real(path, flags);
}

int __open64_2(const char *path, int flags)
{
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(const char *, int);
    static Fn real = next_definition<Fn>("__open64_2");
    return real(path, flags);
}

int __openat_2(int dirfd, const char *path, int flags)
{
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(int, const char *, int);
    static Fn real = next_definition<Fn>("__openat_2");
    return real(dirfd, path, flags);
}

int __openat64_2(int dirfd, const char *path, int flags)
{
    if (is_tool_device(path)) {
        return open_device(path, flags);
    }
    using Fn = int (*)(int, const char *, int);
    static Fn real = next_definition<Fn>("__openat64_2");
    return real(dirfd, path, flags);
}

int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    const char *state = state_folder();
    if (state != nullptr && is_device_fd(fd)) {
        int error = 0;
        int result = sim_serve_ioctl(state, fd, g_device_flags[fd], request, arg, &error);
        errno = error;
        return result;
    }
    using Fn = int (*)(int, unsigned long, ...);
    static Fn real = next_definition<Fn>("ioctl");
    return real(fd, request, arg);
}

int close(int fd)
{
    if (is_device_fd(fd)) {
        g_device_flags[fd] = -1;
        const char *state = state_folder();
        if (state != nullptr) {
            sim_journal_close(state, fd);
        }
    }
    using Fn = int (*)(int);
    static Fn real = next_definition<Fn>("close");
    return real(fd);
}

}  // extern "C"
