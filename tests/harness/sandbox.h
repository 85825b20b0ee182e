// End-to-end test harness: runs the real zorviconfig binary against the card
// simulator in a sandbox of its own (private /opt, simulated tool device).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "template/resource_template.h"

namespace zorvitest {

// Paths of the built programs, fixed at build time.
std::string zorviconfig_path();
std::string zorvisim_path();
std::string preload_path();

// One ioctl request as the simulated driver saw it on arrival.
struct SimRequest {
    std::string device_name;  // all 16 bytes of the field, zeros included
    uint32_t module = 0;
    uint32_t command = 0;
    uint32_t in_size = 0;
    uint32_t out_size = 0;
    int32_t dev_id = 0;
    uint32_t reserved = 0;
    bool same_buffer = false;   // in_buf == out_buf
    std::vector<uint8_t> data;  // the in_size bytes at in_buf
    int open_flags = 0;         // flags of the open() of its descriptor
    long ioctl_request = 0;     // request code passed to ioctl
    int result = 0;             // what the ioctl returned
};

// One call into the system log, as the simulator captured it.
struct SyslogEntry {
    std::string identity;
    int option = 0;
    int facility = 0;
    int priority = 0;
    std::string message;
};

struct RunResult {
    int exit_status = -1;  // exit code (0..255), or -1 when ended by a signal
    int signal = 0;        // terminating signal, or 0
    std::string out;       // standard output
    std::string err;       // standard error
};

// A running tool whose input can be fed piecemeal (prompts, signals). Its
// pid is the tool's own (the launcher executes it in place).
class SimProcess {
public:
    SimProcess(SimProcess &&other) noexcept;
    ~SimProcess();  // kills and reaps the process if still running
    pid_t pid() const { return pid_; }
    void write_input(const std::string &text);
    void close_input();
    // Reads standard output until it contains `text` or the timeout passes;
    // returns true when found.
    bool wait_for_output(const std::string &text, int timeout_ms = 10000);
    void send_signal(int signal_number);
    RunResult wait();  // closes input, reads the rest, reaps
    const std::string &output_so_far() const { return out_; }

private:
    friend class Sandbox;
    SimProcess() = default;
    RunResult finish(const std::string &input);  // feeds `input`, then as wait()
    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string err_;
};

// Standard input is a pipe fed with `input` and then closed (so an empty
// input is an immediate end of file), unless no_input or closed_input says
// otherwise. Standard output and error are captured separately.
struct RunOptions {
    std::string input;          // written to standard input, then closed
    bool no_input = false;      // standard input is /dev/null
    bool closed_input = false;  // standard input is a closed descriptor
    bool readonly_opt = false;  // /opt is mounted read-only in the sandbox
};

// A fresh simulated machine in a temporary folder: card "zorvi0" with PCI
// device id DEFAULT_PCI_DEVICE_ID and no template, driver version
// DEFAULT_DRIVER_VERSION, an empty /opt. Removed on destruction.
class Sandbox {
public:
    static constexpr uint16_t DEFAULT_PCI_DEVICE_ID = 0x3310;
    static constexpr const char *DEFAULT_DRIVER_VERSION = "1.4.3.0";

    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    const std::string &dir() const { return dir_; }
    // Host path of /opt/<relative> as the sandboxed tool sees it, for
    // example opt("zorvi/operation_logs/operations.log").
    std::string opt(const std::string &relative = "") const;

    // Card and driver state.
    void add_card(const std::string &name, uint16_t pci_device_id);
    void set_driver_version(const std::string &reply);  // raw reply bytes, at most 128
    void set_card_template(const std::string &name, const ResourceTemplate &record);
    std::optional<ResourceTemplate> card_template(const std::string &name = "zorvi0") const;

    // Faults, in force until cleared. Request kinds: "version", "pcidid",
    // "fetch", "store", or "all"; any other kind throws. A failing ioctl
    // returns -1 with errno EIO. A status applies to fetch/store only (other
    // kinds throw); a refused store leaves the card unchanged. Status bytes of
    // the card itself: sim/card_rules.h.
    void fail_open(bool on);                                      // no tool device
    void fail_ioctl(const std::string &kind, bool on = true);     // ioctl returns -1
    void answer_status(const std::string &kind, uint8_t status);  // 0 clears; fetch/store

    // What the simulated driver saw, in order, since the sandbox was made.
    // requests() holds every ioctl on a tool-device descriptor, refused ones
    // included (request code, sizes, unknown device).
    std::vector<SimRequest> requests() const;
    int opens() const;   // successful opens of the tool device (a refused one is not counted)
    int closes() const;  // closes of descriptors of the tool device
    // Captured system-log messages; facility as LOG_USER etc., priority as LOG_INFO etc.
    std::vector<SyslogEntry> syslog() const;

    // Runs zorviconfig with `args` in the sandbox: argv[0] is "zorviconfig",
    // found through PATH (the build folder of the tool comes first), so logs
    // show the command line as a user types it. Waits for the end (a run
    // stuck for 5 minutes is killed).
    RunResult run(const std::vector<std::string> &args, const RunOptions &options = {});
    // Runs any command (argv[0] included) in the sandbox.
    RunResult run_command(const std::vector<std::string> &argv, const RunOptions &options = {});
    // Starts zorviconfig with `args` and returns at once.
    SimProcess start(const std::vector<std::string> &args);
    // Starts any command (argv[0] included) in the sandbox and returns at once.
    SimProcess start_command(const std::vector<std::string> &argv);

private:
    SimProcess start_in_sandbox(const std::vector<std::string> &argv,
                                const std::string &path_prefix, const RunOptions &options);
    std::string dir_;
};

}  // namespace zorvitest
