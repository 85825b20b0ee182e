// Keeps the simulated machine's system log: messages are written into the
// state folder instead of the real log, with the identity, option, facility
// and priority in force when they were sent. With the launcher's
// --syslog-through they also go on to the C library, and so to /dev/log.
#undef _FORTIFY_SOURCE
#include <syslog.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "sim/card_service.h"

namespace {

// What openlog set; the C library's defaults otherwise. Kept whether a
// simulation runs or not, and read only when it does.
std::optional<std::string> g_identity;
int g_option = 0;
int g_facility = LOG_USER;

bool passed_through()
{
    const char *through = getenv(SIM_SYSLOG_THROUGH_ENV);
    return through != nullptr && strcmp(through, "1") == 0;
}

__attribute__((format(printf, 3, 0))) void capture(const char *state, int priority,
                                                   const char *format, va_list args)
{
    int saved_errno = errno;  // %m formats the caller's errno
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string message;
    if (length > 0) {
        message.resize(static_cast<size_t>(length) + 1);
        errno = saved_errno;
        vsnprintf(message.data(), message.size(), format, args);
        message.resize(static_cast<size_t>(length));
    }
    int facility = (priority & LOG_FACMASK) != 0 ? (priority & LOG_FACMASK) : g_facility;
    const char *identity = g_identity ? g_identity->c_str() : program_invocation_short_name;
    sim_record_syslog(state, identity, g_option, facility, priority & LOG_PRIMASK, message.data(),
                      message.size());
    errno = saved_errno;
}

// Captures the record when a simulation runs; true when the C library's
// own function is to get it too (no simulation, or --syslog-through).
__attribute__((format(printf, 2, 0))) bool record_reaches_library(int priority, const char *format,
                                                                  va_list args)
{
    const char *state = sim_state_folder();
    if (state == nullptr) {
        return true;
    }
    SimWork work;
    va_list kept;
    va_copy(kept, args);
    capture(state, priority, format, kept);
    va_end(kept);
    return passed_through();
}

}  // namespace

extern "C" {

void openlog(const char *identity, int option, int facility)
{
    SimWork work;
    if (sim_state_folder() == nullptr || passed_through()) {
        static const auto real = next_definition<void (*)(const char *, int, int)>("openlog");
        real(identity, option, facility);
    }
    g_identity = identity != nullptr ? std::optional<std::string>(identity) : std::nullopt;
    g_option = option;
    if (facility != 0 && (facility & ~LOG_FACMASK) == 0) {
        g_facility = facility;
    }
}

void closelog(void)
{
    SimWork work;
    if (sim_state_folder() == nullptr || passed_through()) {
        static const auto real = next_definition<void (*)()>("closelog");
        real();
    }
    g_identity.reset();
    g_option = 0;
    g_facility = LOG_USER;
}

void vsyslog(int priority, const char *format, va_list args)
{
    if (record_reaches_library(priority, format, args)) {
        static const auto real = next_definition<void (*)(int, const char *, va_list)>("vsyslog");
        real(priority, format, args);
    }
}

void syslog(int priority, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

// Fortified builds call these checked forms.
__attribute__((format(printf, 3, 0))) void __vsyslog_chk(int priority, int flag, const char *format,
                                                         va_list args);
__attribute__((format(printf, 3, 4))) void __syslog_chk(int priority, int flag, const char *format,
                                                        ...);

void __vsyslog_chk(int priority, int flag, const char *format, va_list args)
{
    if (record_reaches_library(priority, format, args)) {
        static const auto real =
            next_definition<void (*)(int, int, const char *, va_list)>("__vsyslog_chk");
        real(priority, flag, format, args);
    }
}

void __syslog_chk(int priority, int flag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    __vsyslog_chk(priority, flag, format, args);
    va_end(args);
}

}  // extern "C"
