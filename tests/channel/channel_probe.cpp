// Sends channel requests for the end-to-end tests, run inside the sandbox:
//   channel_probe DEVICE OP...
// OP is one of:
//   fetch    fetch into a record pre-filled with 0xA5, then write it to
//            /opt/fetched.bin
//   store    store the record in /opt/record.bin, then write the caller's
//            copy to /opt/after.bin
//   version  write the 128-byte reply buffer to /opt/version.bin
//   pcidid   print the 32-bit value
//   send:MODULE:COMMAND
//            send four 0xEE bytes with that module and command, then
//            print them as the caller's buffer holds them afterwards
// Each OP prints "OP RESULT" (pcidid adds the value).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "channel/card_queries.h"
#include "channel/template_exchange.h"
#include "tests/harness/test_util.h"

namespace {

// The tests compare the files themselves, so a failed write shows there.
int save(const char *path, const void *data, size_t size)
{
    zorvitest::write_file(path, std::string(static_cast<const char *>(data), size));
    return 0;
}

int run(const DeviceTarget &target, const std::string &op)
{
    if (op == "fetch") {
        ResourceTemplate record;
        std::memset(&record, 0xA5, sizeof(record));
        std::printf("fetch %d\n", get_template_from_card(target, &record));
        return save("/opt/fetched.bin", &record, sizeof(record));
    }
    if (op == "store") {
        ResourceTemplate record{};
        const std::string bytes = zorvitest::read_file("/opt/record.bin");
        if (bytes.size() != sizeof(record)) {
            return 1;
        }
        std::memcpy(&record, bytes.data(), sizeof(record));
        std::printf("store %d\n", set_template_to_card(target, &record));
        return save("/opt/after.bin", &record, sizeof(record));
    }
    if (op == "version") {
        char version[DRIVER_VERSION_SIZE] = {};
        std::printf("version %d\n", get_driver_version(target, version));
        return save("/opt/version.bin", version, sizeof(version));
    }
    if (op == "pcidid") {
        uint32_t id = 0;
        const int32_t result = get_pci_device_id(target, &id);
        std::printf("pcidid %d 0x%08x\n", result, id);
        return 0;
    }
    if (op.rfind("send:", 0) == 0) {
        char *end = nullptr;
        const auto module = static_cast<uint32_t>(std::strtoul(op.c_str() + 5, &end, 0));
        const auto command = static_cast<uint32_t>(std::strtoul(end + 1, nullptr, 0));
        uint8_t data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        ToolMessage message{};
        fill_tool_message(&message, module, command, sizeof(data), sizeof(data), target.name,
                          target.id);
        message.in_buf = data;
        const int32_t result = send_tool_message(&message, data);
        std::printf("send %d %02x%02x%02x%02x\n", result, data[0], data[1], data[2], data[3]);
        return 0;
    }
    return 2;  // unknown op
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        return 2;
    }
    DeviceTarget target{};
    std::snprintf(target.name, sizeof(target.name), "%s", argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int status = run(target, argv[i]);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}
