#include "tests/harness/sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace zorvitest {

std::string zorviconfig_path()
{
    return ZORVITEST_ZORVICONFIG_PATH;
}
std::string zorvisim_path()
{
    return ZORVITEST_ZORVISIM_PATH;
}
std::string preload_path()
{
    return ZORVITEST_PRELOAD_PATH;
}

namespace {

namespace fs = std::filesystem;

// A run that takes longer than this is stuck; it is killed and reported.
constexpr int RUN_TIMEOUT_MS = 300000;

enum class Input { PIPE, NULL_DEVICE, CLOSED };

[[noreturn]] void harness_failure(const std::string &what)
{
    throw std::runtime_error("sandbox: " + what +
                             (errno != 0 ? std::string(": ") + strerror(errno) : ""));
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) {
        harness_failure("cannot write " + path);
    }
}

std::string read_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string from_hex(const std::string &text)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// One record of the journal or the system-log capture: a word, then key=value.
struct Record {
    std::string word;
    std::map<std::string, std::string> fields;
    long number(const std::string &key) const
    {
        auto found = fields.find(key);
        return found == fields.end() ? 0 : std::stol(found->second);
    }
    unsigned long unsigned_number(const std::string &key) const
    {
        auto found = fields.find(key);
        return found == fields.end() ? 0 : std::stoul(found->second);
    }
    std::string bytes(const std::string &key) const
    {
        auto found = fields.find(key);
        return found == fields.end() ? "" : from_hex(found->second);
    }
};

std::vector<Record> read_records(const std::string &path)
{
    std::vector<Record> records;
    std::istringstream lines(read_file(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        Record record;
        words >> record.word;
        std::string field;
        while (words >> field) {
            size_t equals = field.find('=');
            if (equals != std::string::npos) {
                record.fields[field.substr(0, equals)] = field.substr(equals + 1);
            }
        }
        records.push_back(record);
    }
    return records;
}

int count_records(const std::string &path, bool (*counted)(const Record &))
{
    std::vector<Record> records = read_records(path);
    return static_cast<int>(std::count_if(records.begin(), records.end(), counted));
}

void check_kind(const std::string &kind, bool template_only)
{
    static const char *const KINDS[] = {"fetch", "store", "all", "version", "pcidid"};
    size_t allowed = template_only ? 3 : 5;
    for (size_t i = 0; i < allowed; ++i) {
        if (kind == KINDS[i]) {
            return;
        }
    }
    errno = 0;
    harness_failure("unknown request kind " + kind);
}

void set_flag_file(const std::string &path, bool on, const std::string &content = "")
{
    if (on) {
        write_file(path, content);
    } else {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
}

void ignore_sigpipe_once()
{
    // Writing input to a tool that has already exited must not end the test.
    static const bool done = [] {
        signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

void make_pipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0) {
        harness_failure("pipe");
    }
}

void close_fd(int *fd)
{
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

std::vector<char *> c_strings(std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    for (std::string &text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

struct Spawned {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int err = -1;
};

// Starts the launcher (which execs the command in place, so the pid is the
// command's own) with standard output and error on pipes.
Spawned spawn(const std::string &state, const std::vector<std::string> &command, bool readonly_opt,
              Input input, const std::string &path_prefix)
{
    ignore_sigpipe_once();
    std::vector<std::string> argv = {zorvisim_path(), "--state", state};
    if (readonly_opt) {
        argv.push_back("--readonly-opt");
    }
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());

    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        if (strncmp(*entry, "PATH=", 5) != 0) {
            environment.emplace_back(*entry);
        }
    }
    const char *path = getenv("PATH");
    std::string search = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    environment.push_back("PATH=" + (path_prefix.empty() ? search : path_prefix + ":" + search));

    std::vector<char *> argv_c = c_strings(argv);
    std::vector<char *> environment_c = c_strings(environment);
    int in_pipe[2] = {-1, -1};
    int out_pipe[2];
    int err_pipe[2];
    if (input == Input::PIPE) {
        make_pipe(in_pipe);
    }
    make_pipe(out_pipe);
    make_pipe(err_pipe);

    pid_t pid = fork();
    if (pid < 0) {
        harness_failure("fork");
    }
    if (pid == 0) {
        if (input == Input::PIPE) {
            dup2(in_pipe[0], STDIN_FILENO);
        } else if (input == Input::NULL_DEVICE) {
            int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, STDIN_FILENO);
            close(null_fd);
        } else {
            close(STDIN_FILENO);
        }
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        // The tool starts as from a shell: default dispositions, nothing blocked.
        for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGQUIT, SIGCHLD}) {
            signal(sig, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argv_c[0], argv_c.data(), environment_c.data());
        _exit(127);
    }
    Spawned child;
    child.pid = pid;
    if (input == Input::PIPE) {
        close(in_pipe[0]);
        child.in = in_pipe[1];
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    child.out = out_pipe[0];
    child.err = err_pipe[0];
    return child;
}

// Reads what is ready on a descriptor into `text`; false at end of file.
bool drain(int fd, std::string *text)
{
    char buffer[65536];
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got > 0) {
        text->append(buffer, static_cast<size_t>(got));
        return true;
    }
    return got < 0 && (errno == EINTR || errno == EAGAIN);
}

// Pumps input and output until both outputs end, the condition holds, or
// the time is up. Returns true unless the time ran out.
template <typename Done>
bool pump(int *in, const std::string &input, size_t *written, int *out, std::string *out_text,
          int *err, std::string *err_text, int timeout_ms, Done done)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (*out >= 0 || *err >= 0) {
        if (done()) {
            return true;
        }
        if (*in >= 0 && *written >= input.size()) {
            close_fd(in);
        }
        pollfd fds[3];
        nfds_t count = 0;
        int *owners[3];
        for (int *fd : {in, out, err}) {
            if (*fd >= 0) {
                fds[count] = {*fd, static_cast<short>(fd == in ? POLLOUT : POLLIN), 0};
                owners[count++] = fd;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            return false;
        }
        if (poll(fds, count, static_cast<int>(left)) < 0 && errno != EINTR) {
            harness_failure("poll");
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            int *fd = owners[i];
            if (fd == in) {
                ssize_t wrote = write(*in, input.data() + *written, input.size() - *written);
                if (wrote > 0) {
                    *written += static_cast<size_t>(wrote);
                } else if (wrote < 0 && errno != EINTR && errno != EAGAIN) {
                    close_fd(in);  // the tool stopped reading
                }
            } else if (!drain(*fd, fd == out ? out_text : err_text)) {
                close_fd(fd);
            }
        }
    }
    return true;
}

RunResult reap(pid_t pid, bool timed_out)
{
    if (timed_out) {
        kill(pid, SIGKILL);
    }
    RunResult result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            harness_failure("waitpid");
        }
    }
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

// The tool as a user types it: found through PATH, see tool_folder().
std::vector<std::string> tool_argv(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {"zorviconfig"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::string tool_folder()
{
    std::string path = zorviconfig_path();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace

// ---- SimProcess

SimProcess::SimProcess(SimProcess &&other) noexcept
    : pid_(other.pid_),
      in_fd_(other.in_fd_),
      out_fd_(other.out_fd_),
      err_fd_(other.err_fd_),
      out_(std::move(other.out_)),
      err_(std::move(other.err_))
{
    other.pid_ = -1;
    other.in_fd_ = other.out_fd_ = other.err_fd_ = -1;
}

SimProcess::~SimProcess()
{
    close_fd(&in_fd_);
    close_fd(&out_fd_);
    close_fd(&err_fd_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void SimProcess::write_input(const std::string &text)
{
    size_t written = 0;
    while (in_fd_ >= 0 && written < text.size()) {
        ssize_t wrote = write(in_fd_, text.data() + written, text.size() - written);
        if (wrote > 0) {
            written += static_cast<size_t>(wrote);
        } else if (errno != EINTR) {
            return;  // the tool has stopped reading
        }
    }
}

void SimProcess::close_input()
{
    close_fd(&in_fd_);
}

bool SimProcess::wait_for_output(const std::string &text, int timeout_ms)
{
    int no_input = -1;
    size_t nothing = 0;
    pump(&no_input, "", &nothing, &out_fd_, &out_, &err_fd_, &err_, timeout_ms,
         [&] { return out_.find(text) != std::string::npos; });
    return out_.find(text) != std::string::npos;
}

void SimProcess::send_signal(int signal_number)
{
    if (pid_ > 0) {
        kill(pid_, signal_number);
    }
}

RunResult SimProcess::wait()
{
    return finish("");
}

RunResult SimProcess::finish(const std::string &input)
{
    size_t written = 0;
    bool finished = pump(&in_fd_, input, &written, &out_fd_, &out_, &err_fd_, &err_, RUN_TIMEOUT_MS,
                         [] { return false; });
    close_fd(&in_fd_);
    close_fd(&out_fd_);
    close_fd(&err_fd_);
    if (pid_ <= 0) {
        return {};
    }
    RunResult result = reap(pid_, !finished);
    pid_ = -1;
    result.out = out_;
    result.err = err_;
    return result;
}

// ---- Sandbox

Sandbox::Sandbox()
{
    char pattern[] = "/tmp/zorvisim-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        harness_failure("mkdtemp");
    }
    dir_ = pattern;
    for (const char *folder : {"cards", "faults", "opt"}) {
        fs::create_directory(dir_ + "/" + folder);
    }
    add_card("zorvi0", DEFAULT_PCI_DEVICE_ID);
    set_driver_version(DEFAULT_DRIVER_VERSION);
}

Sandbox::~Sandbox()
{
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string Sandbox::opt(const std::string &relative) const
{
    return dir_ + "/opt/" + relative;
}

void Sandbox::add_card(const std::string &name, uint16_t pci_device_id)
{
    fs::create_directories(dir_ + "/cards/" + name);
    char text[16];
    snprintf(text, sizeof(text), "0x%04x\n", pci_device_id);
    write_file(dir_ + "/cards/" + name + "/pci_device_id", text);
}

void Sandbox::set_driver_version(const std::string &reply)
{
    if (reply.size() > 128) {
        errno = 0;
        harness_failure("a driver version reply holds at most 128 bytes");
    }
    write_file(dir_ + "/driver_version", reply);
}

void Sandbox::set_card_template(const std::string &name, const ResourceTemplate &record)
{
    fs::create_directories(dir_ + "/cards/" + name);
    write_file(dir_ + "/cards/" + name + "/template.bin",
               std::string(reinterpret_cast<const char *>(&record), sizeof(record)));
}

std::optional<ResourceTemplate> Sandbox::card_template(const std::string &name) const
{
    std::string bytes = read_file(dir_ + "/cards/" + name + "/template.bin");
    if (bytes.size() != sizeof(ResourceTemplate)) {
        return std::nullopt;
    }
    ResourceTemplate record;
    memcpy(&record, bytes.data(), sizeof(record));
    return record;
}

void Sandbox::fail_open(bool on)
{
    set_flag_file(dir_ + "/faults/no_device", on);
}

void Sandbox::fail_ioctl(const std::string &kind, bool on)
{
    check_kind(kind, false);
    set_flag_file(dir_ + "/faults/ioctl-" + kind, on);
}

void Sandbox::answer_status(const std::string &kind, uint8_t status)
{
    check_kind(kind, true);
    set_flag_file(dir_ + "/faults/status-" + kind, status != 0, std::to_string(status) + "\n");
}

std::vector<SimRequest> Sandbox::requests() const
{
    std::vector<SimRequest> requests;
    for (const Record &record : read_records(dir_ + "/journal")) {
        if (record.word != "ioctl") {
            continue;
        }
        SimRequest request;
        request.device_name = record.bytes("name");
        request.module = static_cast<uint32_t>(record.unsigned_number("module"));
        request.command = static_cast<uint32_t>(record.unsigned_number("command"));
        request.in_size = static_cast<uint32_t>(record.unsigned_number("in_size"));
        request.out_size = static_cast<uint32_t>(record.unsigned_number("out_size"));
        request.dev_id = static_cast<int32_t>(record.number("dev_id"));
        request.reserved = static_cast<uint32_t>(record.unsigned_number("reserved"));
        request.same_buffer = record.number("same") != 0;
        std::string data = record.bytes("data");
        request.data.assign(data.begin(), data.end());
        request.open_flags = static_cast<int>(record.number("open_flags"));
        request.ioctl_request = static_cast<long>(record.unsigned_number("request"));
        request.result = static_cast<int>(record.number("result"));
        requests.push_back(request);
    }
    return requests;
}

int Sandbox::opens() const
{
    return count_records(dir_ + "/journal",
                         [](const Record &r) { return r.word == "open" && r.number("fd") >= 0; });
}

int Sandbox::closes() const
{
    return count_records(dir_ + "/journal", [](const Record &r) { return r.word == "close"; });
}

std::vector<SyslogEntry> Sandbox::syslog() const
{
    std::vector<SyslogEntry> entries;
    for (const Record &record : read_records(dir_ + "/syslog")) {
        SyslogEntry entry;
        entry.identity = record.bytes("identity");
        entry.option = static_cast<int>(record.number("option"));
        entry.facility = static_cast<int>(record.number("facility"));
        entry.priority = static_cast<int>(record.number("priority"));
        entry.message = record.bytes("message");
        entries.push_back(entry);
    }
    return entries;
}

RunResult Sandbox::run(const std::vector<std::string> &args, const RunOptions &options)
{
    return start_in_sandbox(tool_argv(args), tool_folder(), options).finish(options.input);
}

RunResult Sandbox::run_command(const std::vector<std::string> &argv, const RunOptions &options)
{
    return start_in_sandbox(argv, "", options).finish(options.input);
}

SimProcess Sandbox::start(const std::vector<std::string> &args)
{
    return start_in_sandbox(tool_argv(args), tool_folder(), {});
}

SimProcess Sandbox::start_command(const std::vector<std::string> &argv)
{
    return start_in_sandbox(argv, "", {});
}

SimProcess Sandbox::start_in_sandbox(const std::vector<std::string> &argv,
                                     const std::string &path_prefix, const RunOptions &options)
{
    Input input = options.closed_input ? Input::CLOSED
                  : options.no_input   ? Input::NULL_DEVICE
                                       : Input::PIPE;
    Spawned child = spawn(dir_, argv, options.readonly_opt, input, path_prefix);
    SimProcess process;
    process.pid_ = child.pid;
    process.in_fd_ = child.in;
    process.out_fd_ = child.out;
    process.err_fd_ = child.err;
    return process;
}

}  // namespace zorvitest
