// The simulated driver behind the tool device: serves one request against the
// state folder and keeps the journal that tests read back.
#pragma once

#include <dlfcn.h>

#include <cstddef>

// The driver's tool device, the only path the preload answers for.
constexpr const char *SIM_DEVICE_PATH = "/dev/nictool_dev";

// Environment variable naming the state folder; set by the launcher.
constexpr const char *SIM_STATE_ENV = "ZORVISIM_STATE";
// Set to "1" by the launcher's --syslog-through: system-log calls are then
// passed on to the C library as well as captured.
constexpr const char *SIM_SYSLOG_THROUGH_ENV = "ZORVISIM_SYSLOG_THROUGH";

// The state folder the launcher named; nullptr when none, and then the
// preload library passes every call on.
const char *sim_state_folder();

// Serves one ioctl on a descriptor of the simulated device. Returns what the
// ioctl returns; when -1, *error holds the errno to report.
int sim_serve_ioctl(const char *state, int fd, int open_flags, unsigned long request, void *arg,
                    int *error);

// True when the tool device may be opened (no "no_device" fault).
bool sim_device_present(const char *state);

// Journal records for the opens and closes of the tool device.
void sim_journal_open(const char *state, const char *path, int flags, int result, int error);
void sim_journal_close(const char *state, int fd);

// Appends one captured system-log message, with the time it was sent.
void sim_record_syslog(const char *state, const char *identity, int option, int facility,
                       int priority, const char *message, size_t length);

// Greater than 0 while the simulator works for a call of the program: a
// fault injector preloaded beside it (tests/faults) reads it by name and
// leaves these calls alone, since they are the stand-in driver's, not the
// program's. Defined, and exported, by the preload library.
extern "C" int zorvisim_busy;

class SimWork {
public:
    SimWork() { ++zorvisim_busy; }
    ~SimWork() { --zorvisim_busy; }
    SimWork(const SimWork &) = delete;
    SimWork &operator=(const SimWork &) = delete;
};

// The next definition of a function the preload stands in for: the C
// library's, or a sanitizer's.
template <typename Fn>
Fn next_definition(const char *name)
{
    SimWork work;
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
