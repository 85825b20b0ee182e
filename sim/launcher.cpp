// zorvisim: runs a command on the simulated machine. The command replaces
// this process (same pid, signals and exit status pass straight through) in a
// private mount namespace where /opt and /run are the state folder's own, the
// boot id is the state's and each card is a network device of the zorvi
// driver, with the preload library answering for the tool device.
// `zorvisim boot` reboots the machine and runs units' commands on it,
// `zorvisim timers` fires the timers they set, and `zorvisim log` prints the
// system-log records the library captured. Run as systemctl, systemd-run,
// shutdown or reboot it stands in for them in the namespace, so that nothing
// run there reboots the real machine or sets a timer on it.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/card_rules.h"
#include "sim/card_service.h"

namespace {

constexpr const char *DEFAULT_STATE = "zorvisim-state";
constexpr const char *DEFAULT_CARD = "zorvi0";
constexpr const char *DEFAULT_PCI_DEVICE_ID = "0x3310\n";
constexpr const char *DEFAULT_DRIVER_VERSION = "1.4.3.0";
constexpr const char *PRELOAD_NAME = "libzorvisim.so";
constexpr const char *NET_DEVICES = "/sys/class/net";
constexpr const char *BOOT_ID = "/proc/sys/kernel/random/boot_id";
// Where a card's device/driver link leads on a real machine; only its last
// name, the driver's, is read.
constexpr const char *CARD_DRIVER_LINK = "../../../../bus/pci/drivers/zorvi";
// The machine's commands that would act on the machine itself, and where
// they are looked for; the launcher covers each, and answers as each.
constexpr const char *HOST_COMMANDS[] = {"systemctl", "systemd-run", "shutdown",
                                         "reboot",    "halt",        "poweroff"};
constexpr const char *COMMAND_FOLDERS[] = {"/usr/bin", "/usr/sbin",      "/bin",
                                           "/sbin",    "/usr/local/bin", "/usr/local/sbin"};

constexpr const char *USAGE =
    "usage: zorvisim [--state DIR] [--readonly-opt] [--syslog-through] [--console] [--]\n"
    "                COMMAND [ARGS...]\n"
    "       zorvisim boot [--state DIR] [--readonly-opt] [--syslog-through] [--] [UNIT...]\n"
    "       zorvisim timers [--state DIR] [--readonly-opt] [--syslog-through] [--] [UNIT...]\n"
    "       zorvisim log [--state DIR]\n"
    "Runs COMMAND with a simulated tool device, a private /opt (DIR/opt), /run (DIR/run),\n"
    "/var/lib (DIR/var/lib) and boot id (DIR/boot_id), where systemctl, systemd-run,\n"
    "shutdown and reboot only record a reboot (DIR/reboot-requested) or a timer\n"
    "(DIR/timers).\n"
    "DIR defaults to ./zorvisim-state and is created with card zorvi0 when missing.\n"
    "  --readonly-opt    the private /opt is read-only\n"
    "  --syslog-through  COMMAND's system-log calls also reach the machine's /dev/log\n"
    "  --console         COMMAND runs even when a card's template cuts the network\n"
    "  boot              reboots the machine (each card runs its stored template, a new\n"
    "                    boot id, an empty /run, no timers), then runs each UNIT's\n"
    "                    ExecStart= lines\n"
    "  timers            fires the recorded timers: runs their units' ExecStart= lines\n"
    "  log               prints the system-log records kept in DIR/syslog as a syslog\n"
    "                    daemon files them, one line each\n";

[[noreturn]] void usage_error(const std::string &what)
{
    fprintf(stderr, "zorvisim: %s\nTry 'zorvisim --help' for more information.\n", what.c_str());
    exit(125);
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

// A file that exists is kept (what the user put there) unless `replace`.
void write_file(const std::string &path, const std::string &content, bool replace)
{
    int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0644);
    if (fd < 0) {
        if (errno == EEXIST) {
            return;
        }
        fail(system_error("cannot create " + path));
    }
    if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
        close(fd) != 0) {
        fail(system_error("cannot write " + path));
    }
}

// The names in a folder; none when it cannot be read.
std::vector<std::string> names_in(const std::string &path)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(path, ignored)) {
        names.push_back(entry.path().filename());
    }
    return names;
}

// What a reboot does to the machine: each card runs the template it holds
// (none when it holds none), /run is emptied, timers and a reboot request
// are gone.
void reboot(const std::string &state)
{
    std::error_code error;
    for (const std::string &card : names_in(state + "/cards")) {
        const std::string folder = state + "/cards/" + card;
        std::filesystem::remove(folder + "/running.bin", error);
        std::filesystem::copy_file(folder + "/template.bin", folder + "/running.bin", error);
        if (error && error != std::errc::no_such_file_or_directory) {
            fail("cannot start card " + card + ": " + error.message());
        }
    }
    // The folders stay: commands running now see them at /run.
    for (const std::string folder : {"/run/", "/timers/"}) {
        for (const std::string &name : names_in(state + folder)) {
            std::filesystem::remove_all(state + folder + name, error);
            if (error) {
                fail("cannot empty " + state + folder + ": " + error.message());
            }
        }
    }
    std::filesystem::remove(state + "/reboot-requested", error);
}

// A state folder without cards gets the default machine: one card and a
// driver. A machine that is up has booted once, so it has a boot id; a
// boot gives it a new one.
std::string prepare_state(const std::string &given, bool boot)
{
    make_folder(given);
    char resolved[PATH_MAX];
    if (realpath(given.c_str(), resolved) == nullptr) {
        fail(system_error("cannot resolve " + given));
    }
    std::string state = resolved;
    if (access((state + "/cards").c_str(), F_OK) != 0) {
        make_folder(state + "/cards");
        make_folder(state + "/cards/" + DEFAULT_CARD);
        write_file(state + "/cards/" + DEFAULT_CARD + "/pci_device_id", DEFAULT_PCI_DEVICE_ID,
                   false);
        write_file(state + "/driver_version", DEFAULT_DRIVER_VERSION, false);
    }
    if (boot) {
        reboot(state);
    }
    for (const char *folder : {"/faults", "/opt", "/run", "/timers", "/var", "/var/lib"}) {
        make_folder(state + folder);
    }
    std::string id;
    if (!std::getline(std::ifstream("/proc/sys/kernel/random/uuid"), id)) {
        fail("cannot read a new boot id");
    }
    write_file(state + "/boot_id", id + "\n", boot);
    return state;
}

// A card that runs the template named in DIR/cut-network has cut the
// machine off: nothing reaches it from afar, only its console.
void refuse_if_cut_off(const std::string &state)
{
    std::string text;
    if (!std::getline(std::ifstream(state + "/cut-network"), text)) {
        return;
    }
    const unsigned long cutting = strtoul(text.c_str(), nullptr, 0);
    for (const std::string &card : names_in(state + "/cards")) {
        ResourceTemplate running{};
        std::ifstream file(state + "/cards/" + card + "/running.bin");
        file.read(reinterpret_cast<char *>(&running), sizeof(running));
        if (file.gcount() == sizeof(running) && card_metadata(&running) == cutting) {
            fprintf(stderr,
                    "zorvisim: %s: no route to the host: it runs template 0x%08lX, which cuts its "
                    "network\n",
                    state.c_str(), cutting);
            exit(124);
        }
    }
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
    write_file("/proc/self/setgroups", "deny", true);
    write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1", true);
    write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1", true);
}

void bind_mount(const std::string &source, const char *target)
{
    if (mount(source.c_str(), target, nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        fail(system_error("cannot mount " + source + " on " + target));
    }
}

void mount_private_state(const std::string &state, bool readonly)
{
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        fail(system_error("cannot make the mounts private"));
    }
    // /run before the boot id: a state folder in /run fails here, not unseen.
    bind_mount(state + "/opt", "/opt");
    bind_mount(state + "/run", "/run");
    bind_mount(state + "/var/lib", "/var/lib");
    bind_mount(state + "/boot_id", BOOT_ID);
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

// A real machine shows each card's network device in /sys/class/net, its
// device's driver link naming zorvi. A tmpfs there holds the machine's own
// devices, by the same links (so with their own drivers), and a device for
// each card of the state folder, in place of a machine's device of its name.
void show_card_devices(const std::string &state)
{
    const std::string net = NET_DEVICES;
    std::vector<std::pair<std::string, std::string>> links;
    for (const std::string &name : names_in(net)) {
        char target[PATH_MAX];
        ssize_t length = readlink((net + "/" + name).c_str(), target, sizeof(target));
        if (length > 0) {
            links.emplace_back(name, std::string(target, static_cast<size_t>(length)));
        }
    }
    if (mount("zorvisim", NET_DEVICES, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0755") !=
        0) {
        fail(system_error(net + ": cannot mount a tmpfs"));
    }
    for (const auto &[name, target] : links) {
        if (symlink(target.c_str(), (net + "/" + name).c_str()) != 0) {
            fail(system_error("cannot show " + net + "/" + name));
        }
    }
    for (const std::string &card : names_in(state + "/cards")) {
        std::string device = net + "/" + card;
        unlink(device.c_str());
        if (mkdir(device.c_str(), 0755) != 0 || mkdir((device + "/device").c_str(), 0755) != 0 ||
            symlink(CARD_DRIVER_LINK, (device + "/device/driver").c_str()) != 0) {
            fail(system_error("cannot show card " + card + " in " + net));
        }
    }
}

// The machine's own systemctl, systemd-run, shutdown and reboot would act on
// the machine itself: wherever they are found, the launcher is there instead.
void cover_host_commands(const std::string &launcher)
{
    std::set<std::string> found;
    for (const char *folder : COMMAND_FOLDERS) {
        for (const char *command : HOST_COMMANDS) {
            char real[PATH_MAX];
            if (realpath((std::string(folder) + "/" + command).c_str(), real) != nullptr) {
                found.insert(real);
            }
        }
    }
    for (const std::string &path : found) {
        bind_mount(launcher, path.c_str());
    }
}

void set_environment(const std::string &state, const std::string &preload, bool syslog_through)
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
        setenv("ASAN_OPTIONS", asan_options.c_str(), 1) != 0 ||
        (syslog_through ? setenv(SIM_SYSLOG_THROUGH_ENV, "1", 1)
                        : unsetenv(SIM_SYSLOG_THROUGH_ENV)) != 0) {
        fail(system_error("cannot set the environment"));
    }
}

// The words of an ExecStart= line as systemd splits them: blanks between
// words, quotes within them, a '-' before the program when its failure is
// passed over, %i and %I the instance of a template unit (unescaped: '-'
// for '/'), %% a '%'. What our units do not use (escapes, other specifiers,
// variables, the other prefixes) is refused rather than run otherwise than
// systemd would.
std::vector<std::string> command_words(const std::string &unit, const std::string &line,
                                       const std::string &instance)
{
    std::vector<std::string> words;
    bool in_word = false;
    bool unsupported = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (quote == 0 && (c == ' ' || c == '\t')) {
            in_word = false;
            continue;
        }
        if (!in_word) {
            words.emplace_back();
            in_word = true;
        }
        if (c == quote) {
            quote = 0;
        } else if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == '%' && (next == 'i' || next == 'I')) {
            for (char name : instance) {
                words.back() += next == 'I' && name == '-' ? '/' : name;
            }
            ++i;
        } else {
            unsupported = unsupported || (c == '%' && next != '%');
            words.back() += c;
            i += c == '%' ? 1 : 0;
        }
    }
    const std::string program = words.empty() ? "" : words[0].substr(words[0][0] == '-' ? 1 : 0);
    if (unsupported || line.find_first_of("\\$") != std::string::npos || quote != 0 ||
        program.empty() || strchr("-@:+!|", program[0]) != nullptr) {
        fail(unit + ": ExecStart=" + line + ": not supported");
    }
    return words;
}

// The ExecStart= lines of a oneshot service, each checked before any runs;
// a unit that asks for more than they do is refused.
std::vector<std::string> exec_lines(const std::string &unit)
{
    std::ifstream file(unit);
    if (!file) {
        fail(system_error("cannot read " + unit));
    }
    std::vector<std::string> lines;
    std::string section;
    bool oneshot = false;
    for (std::string line; std::getline(file, line);) {
        line.erase(line.find_last_not_of(" \t\r") + 1);
        const std::string key = line.substr(0, line.find('='));
        const bool setting =
            section == "[Service]" && !line.empty() && strchr("#;", line[0]) == nullptr;
        if (line[0] == '[') {
            section = line;
        } else if (setting && key == "ExecStart") {
            lines.push_back(line.substr(key.size() + 1));
            command_words(unit, lines.back(), "");
        } else if (setting && line == "Type=oneshot") {
            oneshot = true;
        } else if (setting && key != "RemainAfterExit") {
            fail(unit + ": " + line + ": not supported");
        }
    }
    if (!oneshot) {
        fail(unit + ": only a Type=oneshot service is supported");
    }
    return lines;
}

// Executes the command in this process's place; the status to exit with
// when it cannot.
int run(char **argv)
{
    execvp(argv[0], argv);
    int error = errno;
    fprintf(stderr, "zorvisim: cannot run %s: %s\n", argv[0], strerror(error));
    return error == ENOENT ? 127 : 126;
}

// Runs a unit's commands one after the other as systemd starts a oneshot
// service, each in "/" with /dev/null for input; false when one failed,
// and then the rest were not run.
bool start_unit(const std::string &unit, const std::vector<std::string> &lines,
                const std::string &instance)
{
    for (const std::string &line : lines) {
        std::vector<std::string> words = command_words(unit, line, instance);
        const bool failure_passed = words[0][0] == '-';
        words[0].erase(0, failure_passed ? 1 : 0);
        std::vector<char *> argv;
        for (std::string &word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
            _exit(chdir("/") == 0 && dup2(null, 0) == 0 ? run(argv.data()) : 126);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) {
            fail(system_error("cannot run " + line));
        }
        if (status != 0 && !failure_passed) {
            const bool exited = WIFEXITED(status);
            fprintf(stderr, "zorvisim: %s: ExecStart=%s failed: %s %d\n", unit.c_str(),
                    line.c_str(), exited ? "exit status" : "signal",
                    exited ? WEXITSTATUS(status) : WTERMSIG(status));
            return false;
        }
    }
    return true;
}

// Fires every recorded timer, in name order, as if it elapsed now: it is
// gone, and its service runs, a template unit's instance with its name.
int fire_timers(const std::string &state,
                const std::vector<std::pair<std::string, std::vector<std::string>>> &units)
{
    std::vector<std::string> timers = names_in(state + "/timers");
    std::sort(timers.begin(), timers.end());
    int status = 0;
    for (const std::string &timer : timers) {
        // "on-active SPAN", then "unit NAME.service"
        std::string word;
        std::string service;
        std::ifstream(state + "/timers/" + timer) >> word >> word >> word >> service;
        unlink((state + "/timers/" + timer).c_str());
        const size_t at = service.find('@');
        const std::string instance =
            at == std::string::npos ? "" : service.substr(at + 1, service.rfind('.') - at - 1);
        const std::string name =
            at == std::string::npos ? service : service.substr(0, at + 1) + ".service";
        const auto unit = std::find_if(units.begin(), units.end(), [&](const auto &given) {
            return std::filesystem::path(given.first).filename() == name;
        });
        if (unit == units.end()) {
            fprintf(stderr, "zorvisim: %s: no unit among those given serves %s\n", timer.c_str(),
                    service.c_str());
        }
        status =
            unit != units.end() && start_unit(unit->first, unit->second, instance) ? status : 1;
    }
    return status;
}

// What the machine's commands do to the simulated one, with the state folder
// from the environment: a reboot is a request that a test, or the
// connection, carries out with a boot; a timer a file for zorvisim timers.
// Anything else is refused, never passed on to the real machine.
int stand_in(const std::string &name, const std::vector<std::string> &args)
{
    std::string line = name;
    for (const std::string &arg : args) {
        line += " " + arg;
    }
    const char *state = getenv(SIM_STATE_ENV);
    // Without a state folder there is no machine to act on: all is refused.
    const std::string command = state != nullptr ? name : "";
    const std::string folder = state != nullptr ? state : "";
    const std::string timers = folder + "/timers/";
    const std::string verb = args.empty() ? "" : args[0];
    const std::string unit = args.empty() ? "" : args.back().substr(args.back().find('=') + 1);
    const auto named = [&unit](const char *type) {
        return unit.ends_with(type) && unit.size() > strlen(type) && unit.find('/') == unit.npos;
    };
    if ((command == "systemctl" && line == "systemctl reboot") ||
        (command == "reboot" && args.empty()) || (command == "shutdown" && verb == "-r")) {
        write_file(folder + "/reboot-requested", line + "\n", true);
        return 0;
    }
    if (command == "systemctl" && args.size() == 2 && (verb == "stop" || verb == "is-active") &&
        named(".timer")) {
        if (verb == "is-active") {
            const bool active = access((timers + unit).c_str(), F_OK) == 0;
            puts(active ? "active" : "inactive");
            return active ? 0 : 3;
        }
        if (unlink((timers + unit).c_str()) == 0) {
            return 0;
        }
        fprintf(stderr, "Failed to stop %s: Unit %s not loaded.\n", unit.c_str(), unit.c_str());
        return 5;
    }
    const bool properties =
        args.size() > 1 &&
        std::all_of(args.begin() + 1, args.end() - 1,
                    [](const std::string &arg) { return arg.starts_with("--timer-property="); });
    if (command == "systemd-run" && verb.starts_with("--on-active=") && verb.size() > 12 &&
        properties && args.back().starts_with("--unit=") && named(".service")) {
        const std::string timer = unit.substr(0, unit.size() - 8) + ".timer";
        fprintf(stderr, "Running timer as unit: %s\n", timer.c_str());
        write_file(timers + timer, "on-active " + verb.substr(12) + "\nunit " + unit + "\n", true);
        return 0;
    }
    fprintf(stderr, "zorvisim: %s is not simulated\n", line.c_str());
    return 1;
}

// The value of `key=` in a captured record; empty when it has none.
std::string field(const std::string &record, const std::string &key)
{
    size_t start = record.find(" " + key + "=");
    if (start == std::string::npos) {
        return "";
    }
    start += key.size() + 2;
    return record.substr(start, record.find_first_of(" \n", start) - start);
}

// A text of a record, kept in hexadecimal, as a syslog daemon writes it:
// control characters as '#' and three octal digits.
void print_text(const std::string &digits)
{
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        const auto c =
            static_cast<unsigned char>(strtoul(digits.substr(i, 2).c_str(), nullptr, 16));
        printf(c < 0x20 || c == 0x7F ? "#%03o" : "%c", c);
    }
}

// One line per captured record, as a daemon's file has it:
// "Mmm dd hh:mm:ss host tag: message", the tag ending in [pid] under LOG_PID.
int print_log(const std::string &state)
{
    struct stat info {};
    if (stat(state.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        fail("no state folder " + state);
    }
    std::ifstream file(state + "/syslog");
    if (!file && errno != ENOENT) {  // none: nothing was logged yet
        fail(system_error("cannot read " + state + "/syslog"));
    }
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof(host) - 1);
    host[strcspn(host, ".")] = '\0';
    for (std::string record; std::getline(file, record);) {
        if (record.rfind("syslog ", 0) != 0) {
            continue;
        }
        time_t when = static_cast<time_t>(strtoll(field(record, "time").c_str(), nullptr, 10));
        struct tm local {};
        localtime_r(&when, &local);
        char stamp[32];
        strftime(stamp, sizeof(stamp), "%b %e %H:%M:%S", &local);
        printf("%s %s ", stamp, host);
        print_text(field(record, "identity"));
        if ((strtol(field(record, "option").c_str(), nullptr, 10) & LOG_PID) != 0) {
            printf("[%s]", field(record, "pid").c_str());
        }
        fputs(": ", stdout);
        print_text(field(record, "message"));
        putchar('\n');
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string name = std::filesystem::path(argv[0]).filename();
    for (const char *command : HOST_COMMANDS) {
        if (name == command) {
            return stand_in(name, std::vector<std::string>(argv + 1, argv + argc));
        }
    }
    std::string state_arg = DEFAULT_STATE;
    bool readonly = false;
    bool syslog_through = false;
    bool console = false;
    const bool log = argc > 1 && strcmp(argv[1], "log") == 0;
    const bool boot = argc > 1 && strcmp(argv[1], "boot") == 0;
    const bool timers = argc > 1 && strcmp(argv[1], "timers") == 0;
    int index = log || boot || timers ? 2 : 1;
    for (; index < argc; ++index) {
        std::string arg = argv[index];
        if (arg == "--state") {
            if (index + 1 >= argc) {
                usage_error("--state needs a folder");
            }
            state_arg = argv[++index];
        } else if (arg == "-h" || arg == "--help") {
            fputs(USAGE, stdout);
            return 0;
        } else if (log) {
            usage_error("log takes only --state DIR, not " + arg);
        } else if (arg == "--readonly-opt") {
            readonly = true;
        } else if (arg == "--syslog-through") {
            syslog_through = true;
        } else if (arg == "--console") {
            console = true;
        } else if (arg == "--") {
            ++index;
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage_error("unknown option " + arg);
        } else {
            break;
        }
    }
    if (log) {
        return print_log(state_arg);
    }
    const bool command = !boot && !timers;
    if (index >= argc && command) {
        usage_error("no command to run");
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> units;
    for (int unit = index; !command && unit < argc; ++unit) {
        units.emplace_back(argv[unit], exec_lines(argv[unit]));
    }
    std::string state = prepare_state(state_arg, boot);
    if (command && !console) {
        refuse_if_cut_off(state);
    }
    std::error_code error;
    const std::string launcher = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string preload = std::filesystem::path(launcher).parent_path() / PRELOAD_NAME;
    if (error || access(preload.c_str(), R_OK) != 0) {
        fail(system_error("cannot find the preload library " + preload));
    }
    enter_private_namespace();
    mount_private_state(state, readonly);
    cover_host_commands(launcher);
    show_card_devices(state);
    set_environment(state, preload, syslog_through);
    if (command) {
        return run(argv + index);
    }
    umask(022);  // as systemd starts a service
    if (timers) {
        return fire_timers(state, units);
    }
    int status = 0;
    for (const auto &[unit, lines] : units) {
        status = start_unit(unit, lines, "") ? status : 1;
    }
    return status;
}
