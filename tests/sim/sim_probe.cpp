// A stand-in for the tool on the simulated card: sends one kind of request to
// the tool device and prints, per request, the ioctl result and (when it is 0)
// the reply bytes:  rc=<result> errno=<errno>[ reply=<hex>]
//
// usage: sim_probe [--request CODE] [--split 1] [--flags N] [--repeat N] [--via ENTRY]
//                  DEVICE version|pcidid|fetch|store|M:C:IN:OUT [FILE]
// FILE holds the request bytes (zeros without it); --split 1 answers into a
// buffer of its own; --via opens through the named open entry point. With
// --repeat, it prints "ready" and waits for the end of standard input first,
// so that concurrent runs can be set off together.
//
// usage: sim_probe --syslog IDENTITY MESSAGE
// Sends MESSAGE to the system log as the tool does, then one formatted record
// with its own facility, and closes the log.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "channel/tool_message.h"

namespace {

// Module, command and sizes written out as documented, apart from the
// constants the tool and the simulator share.
const char *shape_of(const std::string &kind)
{
    if (kind == "version") {
        return "2:16:4:128";
    }
    if (kind == "pcidid") {
        return "2:29:2:2";
    }
    return kind == "fetch" || kind == "store" ? "4:92160:1024:1024" : kind.c_str();
}

// Declared by the C library's headers only in fortified builds.
extern "C" int __open_2(const char *, int);
extern "C" int __open64_2(const char *, int);
extern "C" int __openat_2(int, const char *, int);
extern "C" int __openat64_2(int, const char *, int);

// Opens the tool device through one of the C library's open entry points,
// after checking that the entry passes any other path on: relative to the
// folder descriptor in the at-forms.
int open_via(const std::string &entry, int flags)
{
    const std::pair<const char *, int (*)(int, const char *, int)> ENTRIES[] = {
        {"open", [](int, const char *p, int f) { return open(p, f); }},
        {"open64", [](int, const char *p, int f) { return open64(p, f); }},
        {"openat", [](int d, const char *p, int f) { return openat(d, p, f); }},
        {"openat64", [](int d, const char *p, int f) { return openat64(d, p, f); }},
        {"__open_2", [](int, const char *p, int f) { return __open_2(p, f); }},
        {"__open64_2", [](int, const char *p, int f) { return __open64_2(p, f); }},
        {"__openat_2", [](int d, const char *p, int f) { return __openat_2(d, p, f); }},
        {"__openat64_2", [](int d, const char *p, int f) { return __openat64_2(d, p, f); }},
    };
    for (const auto &[name, call] : ENTRIES) {
        if (entry == name) {
            int folder = open("/dev", O_RDONLY | O_DIRECTORY);
            bool at = entry.find("at") != std::string::npos;
            int other = call(folder, at ? "null" : "/dev/null", O_RDONLY);
            close(folder);
            if (other < 0) {
                return -1;
            }
            close(other);
            return call(AT_FDCWD, TOOL_DEVICE_PATH, flags);
        }
    }
    errno = ENOSYS;
    return -1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--syslog") == 0) {
        openlog(argv[2], LOG_PID | LOG_CONS, LOG_USER);
        syslog(LOG_INFO, "%s", argv[3]);
        syslog(LOG_DAEMON | LOG_WARNING, "count %d of %s", 2, "two");
        closelog();
        syslog(LOG_ERR, "after close");
        return 0;
    }
    std::map<std::string, std::string> options = {{"--request", "0x7818"},
                                                  {"--split", "0"},
                                                  {"--flags", "2"},
                                                  {"--repeat", "1"},
                                                  {"--via", "open"}};
    int index = 1;
    for (; index + 1 < argc && options.count(argv[index]) != 0; index += 2) {
        options[argv[index]] = argv[index + 1];
    }
    auto number = [&](const char *name) { return strtol(options[name].c_str(), nullptr, 0); };
    ToolMessage message{};
    if (argc - index < 2 || sscanf(shape_of(argv[index + 1]), "%u:%u:%u:%u", &message.module,
                                   &message.command, &message.in_size, &message.out_size) != 4) {
        fputs("sim_probe: bad arguments\n", stderr);
        return 2;
    }
    // A name of 16 characters goes out without a terminator, as a faulty caller would send it.
    memcpy(message.device_name, argv[index],
           std::min(strlen(argv[index]), sizeof(message.device_name)));
    std::vector<char> request_bytes(std::max<size_t>(message.in_size, 1024), 0);
    if (argc - index >= 3) {
        std::ifstream file(argv[index + 2], std::ios::binary);
        file.read(request_bytes.data(), static_cast<std::streamsize>(request_bytes.size()));
    }
    bool split = number("--split") != 0;
    if (number("--repeat") > 1) {
        printf("ready\n");
        fflush(stdout);
        while (getchar() != EOF) {
        }
    }
    for (long i = 0; i < number("--repeat"); ++i) {
        std::vector<char> in = request_bytes;
        std::vector<char> out(std::max<size_t>(message.out_size, 1024), 0);
        message.in_buf = in.data();
        message.out_buf = split ? out.data() : in.data();
        int fd = open_via(options["--via"], static_cast<int>(number("--flags")));
        if (fd < 0) {
            printf("open failed errno=%d\n", errno);
            return 3;
        }
        int rc = ioctl(fd, static_cast<unsigned long>(number("--request")), &message);
        int error = rc < 0 ? errno : 0;
        close(fd);
        printf("rc=%d errno=%d%s", rc, error, rc == 0 ? " reply=" : "");
        for (uint32_t at = 0; rc == 0 && at < message.out_size; ++at) {
            printf("%02x", static_cast<uint8_t>(split ? out[at] : in[at]));
        }
        printf("\n");
        fflush(stdout);
    }
    return 0;
}
