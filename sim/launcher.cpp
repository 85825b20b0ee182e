// zorvisim: runs a command on the simulated machine. The command replaces
// this process (same pid, signals and exit status pass straight through) in a
// private mount namespace where /opt is the state folder's own "opt", with the
// preload library answering for the tool device.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/card_service.h"

namespace {

constexpr const char *DEFAULT_STATE = "zorvisim-state";
constexpr const char *DEFAULT_CARD = "zorvi0";
constexpr const char *DEFAULT_PCI_DEVICE_ID = "0x3310\n";
constexpr const char *DEFAULT_DRIVER_VERSION = "1.4.3.0";
constexpr const char *PRELOAD_NAME = "libzorvisim.so";

void usage()
{
    fputs(
        "usage: zorvisim [--state DIR] [--readonly-opt] [--] COMMAND [ARGS...]\n"
        "Runs COMMAND with a simulated tool device and a private /opt (DIR/opt).\n"
        "DIR defaults to ./zorvisim-state and is created with card zorvi0 when missing.\n",
        stderr);
}

[[noreturn]] void fail(const std::string &what)
{
    fprintf(stderr, "zorvisim: %s\n", what.c_str());
    exit(125);
}

std::string system_error(const std::string &what)
{
    return what + ": " + strerror(errno);
}

void make_folder(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(system_error("cannot create " + path));
    }
}

void write_new_file(const std::string &path, const char *content)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) {
            return;  // keep what the user put there
        }
        fail(system_error("cannot create " + path));
    }
    size_t length = strlen(content);
    if (write(fd, content, length) != static_cast<ssize_t>(length) || close(fd) != 0) {
        fail(system_error("cannot write " + path));
    }
}

// A state folder without cards gets the default machine: one card and a driver.
std::string prepare_state(const std::string &given)
{
    make_folder(given);
    char resolved[PATH_MAX];
    if (realpath(given.c_str(), resolved) == nullptr) {
        fail(system_error("cannot resolve " + given));
    }
    std::string state = resolved;
    struct stat info {};
    if (stat((state + "/cards").c_str(), &info) != 0) {
        make_folder(state + "/cards");
        make_folder(state + "/cards/" + DEFAULT_CARD);
        write_new_file(state + "/cards/" + DEFAULT_CARD + "/pci_device_id", DEFAULT_PCI_DEVICE_ID);
        write_new_file(state + "/driver_version", DEFAULT_DRIVER_VERSION);
    }
    make_folder(state + "/faults");
    make_folder(state + "/opt");
    return state;
}

std::string preload_path()
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) {
        fail(system_error("cannot find its own path"));
    }
    std::string folder(self, static_cast<size_t>(length));
    folder.erase(folder.rfind('/'));
    std::string path = folder + "/" + PRELOAD_NAME;
    if (access(path.c_str(), R_OK) != 0) {
        fail(system_error("cannot find the preload library " + path));
    }
    return path;
}

void write_proc(const char *path, const std::string &text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        fail(system_error(std::string("cannot write ") + path));
    }
    close(fd);
}

// Root may take a mount namespace of its own; anyone else needs a user
// namespace first, in which it is mapped to root.
void enter_private_namespace()
{
    if (unshare(CLONE_NEWNS) == 0) {
        return;
    }
    if (geteuid() == 0) {
        fail(system_error("cannot make a private mount namespace as root"));
    }
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        fail(
            system_error("cannot make a private mount namespace: run as root, or enable "
                         "unprivileged user namespaces"));
    }
    write_proc("/proc/self/setgroups", "deny");
    write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

void mount_private_opt(const std::string &state, bool readonly)
{
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        fail(system_error("cannot make the mounts private"));
    }
    std::string source = state + "/opt";
    if (mount(source.c_str(), "/opt", nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        fail(system_error("cannot mount " + source + " on /opt"));
    }
    if (readonly) {
        struct statvfs info {};
        unsigned long locked = 0;
        if (statvfs("/opt", &info) == 0) {
            // Flags a user namespace may not drop must be kept on remount.
            locked = info.f_flag &
                     (ST_NOSUID | ST_NODEV | ST_NOEXEC | ST_NOATIME | ST_NODIRATIME | ST_RELATIME);
        }
        if (mount(nullptr, "/opt", nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | locked, nullptr) !=
            0) {
            fail(system_error("cannot make /opt read-only"));
        }
    }
}

void set_environment(const std::string &state, const std::string &preload)
{
    const char *existing = getenv("LD_PRELOAD");
    std::string preloads = preload;
    if (existing != nullptr && existing[0] != '\0') {
        preloads += std::string(":") + existing;
    }
    // The sanitizer runtime wants to come first; the preload must come first
    // to stand in for the device, and both work in either order.
    const char *asan = getenv("ASAN_OPTIONS");
    std::string asan_options = asan != nullptr && asan[0] != '\0' ? std::string(asan) + ":" : "";
    asan_options += "verify_asan_link_order=0";
    if (setenv("LD_PRELOAD", preloads.c_str(), 1) != 0 ||
        setenv(SIM_STATE_ENV, state.c_str(), 1) != 0 ||
        setenv("ASAN_OPTIONS", asan_options.c_str(), 1) != 0) {
        fail(system_error("cannot set the environment"));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    std::string state_arg = DEFAULT_STATE;
    bool readonly = false;
    int index = 1;
    for (; index < argc; ++index) {
        std::string arg = argv[index];
        if (arg == "--state" && index + 1 < argc) {
            state_arg = argv[++index];
        } else if (arg == "--readonly-opt") {
            readonly = true;
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else if (arg == "--") {
            ++index;
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage();
            return 125;
        } else {
            break;
        }
    }
    if (index >= argc) {
        usage();
        return 125;
    }
    std::string state = prepare_state(state_arg);
    std::string preload = preload_path();
    enter_private_namespace();
    mount_private_opt(state, readonly);
    set_environment(state, preload);
    execvp(argv[index], argv + index);
    fprintf(stderr, "zorvisim: cannot run %s: %s\n", argv[index], strerror(errno));
    return errno == ENOENT ? 127 : 126;
}
