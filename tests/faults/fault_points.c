/* The fault walk's control, preloaded into the program under test beside
 * libfiu's POSIX preload, which does the failing. It enables one libfiu
 * failure point so that exactly the Nth call of the program fails, or that
 * call and every later one, with a chosen errno, and at exit writes how many
 * calls the program made: the walk goes on until N passes that count.
 *
 *   ZORVI_FAULT_POINT  libfiu point name, "posix/io/oc/open"
 *   ZORVI_FAULT_AT     N, from 1
 *   ZORVI_FAULT_MODE   "once" or "on" (from the Nth call on)
 *   ZORVI_FAULT_ERRNO  errno of a failed call (libfiu's failinfo)
 *   ZORVI_FAULT_COUNT  file that receives the number of calls
 *
 * Calls made while the card simulator works for the program (its
 * zorvisim_busy is set) are the stand-in driver's, and are neither counted
 * nor failed. libfiu wraps neither mkdir, flock, openat nor renameat, so this
 * library adds them as points of its kind, "posix/io/dir/mkdir",
 * "posix/io/lock/flock", "posix/io/oc/openat" and "posix/io/dir/renameat".
 * And it lets sleep return at once: a load whose result record cannot take
 * its lock waits a second after each of three tries, which would make the
 * walk last an hour; what a run leaves behind does not depend on the wait. */
#define _GNU_SOURCE
#define FIU_ENABLE 1
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fiu-control.h>
#include <fiu.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static long g_at;
static int g_from_then_on;
static long g_calls;
static int g_done;
static int g_started; /* libfiu is ready: a sanitizer calls mkdir before any constructor */
static const char *g_count_file;
static const int *g_sim_busy;

static int decide(const char *name, int *failnum, void **failinfo, unsigned int *flags)
{
    (void)name, (void)failnum, (void)failinfo, (void)flags;
    if (g_done || (g_sim_busy != NULL && *g_sim_busy > 0)) {
        return 0;
    }
    ++g_calls;
    return g_from_then_on ? g_calls >= g_at : g_calls == g_at;
}

__attribute__((constructor)) static void start(void)
{
    const char *point = getenv("ZORVI_FAULT_POINT");
    const char *at = getenv("ZORVI_FAULT_AT");
    const char *mode = getenv("ZORVI_FAULT_MODE");
    const char *error = getenv("ZORVI_FAULT_ERRNO");
    g_count_file = getenv("ZORVI_FAULT_COUNT");
    if (point == NULL || at == NULL || mode == NULL || error == NULL) {
        return;
    }
    g_at = strtol(at, NULL, 10);
    g_from_then_on = strcmp(mode, "on") == 0;
    g_sim_busy = (const int *)dlsym(RTLD_DEFAULT, "zorvisim_busy");
    fiu_init(0);
    fiu_enable_external(point, 1, (void *)(intptr_t)strtol(error, NULL, 10), 0, decide);
    g_started = 1;
}

__attribute__((destructor)) static void finish(void)
{
    g_done = 1;
    if (g_count_file == NULL) {
        return;
    }
    FILE *count = fopen(g_count_file, "we");
    const int written = count != NULL && fprintf(count, "%ld\n", g_calls) > 0;
    if (count != NULL && (fclose(count) != 0 || !written)) {
        unlink(g_count_file);
    }
}

/* A failed call of a point of ours: libfiu's failinfo is its errno. */
static int failed(const char *point)
{
    if (!g_started || !fiu_fail(point)) {
        return 0;
    }
    errno = (int)(intptr_t)fiu_failinfo();
    return 1;
}

/* `real` is the C library's own `name`, looked up once. */
#define NEXT(name)                                         \
    static __typeof__(&name) real;                         \
    if (real == NULL) {                                    \
        real = (__typeof__(&name))dlsym(RTLD_NEXT, #name); \
    }

int mkdir(const char *path, mode_t mode)
{
    NEXT(mkdir);
    return failed("posix/io/dir/mkdir") ? -1 : real(path, mode);
}

int flock(int fd, int operation)
{
    NEXT(flock);
    return failed("posix/io/lock/flock") ? -1 : real(fd, operation);
}

int openat(int folder, const char *path, int flags, ...)
{
    NEXT(openat);
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    return failed("posix/io/oc/openat") ? -1 : real(folder, path, flags, mode);
}

int renameat(int old_folder, const char *old_path, int new_folder, const char *new_path)
{
    NEXT(renameat);
    return failed("posix/io/dir/renameat") ? -1 : real(old_folder, old_path, new_folder, new_path);
}

unsigned int sleep(unsigned int seconds)
{
    (void)seconds;
    return 0;
}
