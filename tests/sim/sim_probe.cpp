// A stand-in for the tool on the simulated card: sends one kind of request to
// the tool device and prints the ioctl result and the reply bytes, one line
// per request:  rc=<result> errno=<errno> reply=<hex>
//
// usage: sim_probe [--request CODE] [--split] [--flags N] [--repeat N]
//                  DEVICE version|pcidid|fetch|store|M:C:IN:OUT [FILE]
// A FILE gives the request bytes as sent (a fetch defaults to a well-formed one).
//
// usage: sim_probe --syslog IDENTITY MESSAGE
// Sends MESSAGE to the system log as the tool does, then one formatted record
// with its own facility, and closes the log.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "channel/tool_message.h"
#include "template/resource_template.h"

namespace {

struct Shape {
    uint32_t module, command, in_size, out_size;
};

bool shape_of(const std::string &kind, Shape *shape)
{
    if (kind == "version") {
        *shape = {QUERY_MODULE, DRIVER_VERSION_CMD, DRIVER_VERSION_IN_SIZE, DRIVER_VERSION_SIZE};
    } else if (kind == "pcidid") {
        *shape = {QUERY_MODULE, PCI_DEVICE_ID_CMD, PCI_DEVICE_ID_SIZE, PCI_DEVICE_ID_SIZE};
    } else if (kind == "fetch" || kind == "store") {
        *shape = {TEMPLATE_MODULE, TEMPLATE_CMD, TEMPLATE_IO_SIZE, TEMPLATE_IO_SIZE};
    } else {
        return sscanf(kind.c_str(), "%u:%u:%u:%u", &shape->module, &shape->command,
                      &shape->in_size, &shape->out_size) == 4;
    }
    return true;
}

std::string hex(const std::vector<uint8_t> &bytes, size_t length)
{
    std::string text;
    char pair[3];
    for (size_t i = 0; i < length && i < bytes.size(); ++i) {
        snprintf(pair, sizeof(pair), "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--syslog") {
        openlog(argv[2], LOG_PID | LOG_CONS, LOG_USER);
        syslog(LOG_INFO, "%s", argv[3]);
        syslog(LOG_DAEMON | LOG_WARNING, "count %d of %s", 2, "two");
        closelog();
        syslog(LOG_ERR, "after close");
        return 0;
    }
    unsigned long request = TOOL_IOCTL_CMD;
    bool split = false;
    int flags = O_RDWR;
    long repeat = 1;
    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        std::string option = argv[index];
        if (index + 1 >= argc) {
            break;
        }
        if (option == "--request") {
            request = strtoul(argv[++index], nullptr, 0);
        } else if (option == "--flags") {
            flags = static_cast<int>(strtol(argv[++index], nullptr, 0));
        } else if (option == "--repeat") {
            repeat = strtol(argv[++index], nullptr, 0);
        } else if (option == "--split") {
            split = true;
        } else {
            break;
        }
    }
    Shape shape {};
    if (argc - index < 2 || !shape_of(argv[index + 1], &shape)) {
        fputs("usage: sim_probe [--request CODE] [--split] [--flags N] [--repeat N] DEVICE "
              "version|pcidid|fetch|store|M:C:IN:OUT [FILE]\n",
              stderr);
        return 2;
    }
    std::string device = argv[index];
    std::string kind = argv[index + 1];
    std::vector<uint8_t> request_bytes(std::max<size_t>(shape.in_size, 1024), 0);
    if (argc - index >= 3) {
        std::ifstream file(argv[index + 2], std::ios::binary);
        std::vector<uint8_t> content((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
        std::copy(content.begin(), content.begin() + static_cast<long>(std::min(content.size(), request_bytes.size())),
                  request_bytes.begin());
    } else if (kind == "fetch") {
        ResourceTemplate fetch {};
        fetch.channel_byte = 3;
        memcpy(fetch.magic, "ZZZZ", 4);
        fetch.length = TEMPLATE_BASE_LENGTH;
        memcpy(request_bytes.data(), &fetch, sizeof(fetch));
    }
    for (long i = 0; i < repeat; ++i) {
        std::vector<uint8_t> in = request_bytes;
        std::vector<uint8_t> out(std::max<size_t>(shape.out_size, 1024), 0);
        ToolMessage message {};
        // A name of 16 characters goes out without a terminator, as a faulty caller would send it.
        memcpy(message.device_name, device.data(), std::min(device.size(), sizeof(message.device_name)));
        message.module = shape.module;
        message.command = shape.command;
        message.in_size = shape.in_size;
        message.out_size = shape.out_size;
        message.in_buf = in.data();
        message.out_buf = split ? out.data() : in.data();
        int fd = open(TOOL_DEVICE_PATH, flags);
        if (fd < 0) {
            printf("open failed errno=%d\n", errno);
            return 3;
        }
        int rc = ioctl(fd, request, &message);
        int error = rc < 0 ? errno : 0;
        close(fd);
        printf("rc=%d errno=%d reply=%s\n", rc, error,
               hex(split ? out : in, shape.out_size).c_str());
        fflush(stdout);
    }
    return 0;
}
