// Any driver version reply, up to the full 128 bytes with no terminator,
// through the identity checks of a good template: the reply is read as at
// most 127 characters, and only its first word decides.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "channel/card_queries.h"
#include "template/template_parser.h"
#include "tests/fuzz/fuzz_file.h"
#include "tool/device_target.h"

namespace {

uint8_t g_reply[DRIVER_VERSION_SIZE];
size_t g_reply_size;

// The status the checks must end with for this reply; the template itself
// is good whichever way the PCI device id check goes.
int32_t expected_status()
{
    std::string text(reinterpret_cast<const char *>(g_reply),
                     strnlen(reinterpret_cast<const char *>(g_reply), g_reply_size));
    text = text.substr(0, DRIVER_VERSION_SIZE - 1);
    if (text.empty()) {
        return -1;
    }
    size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) {
        return -6;
    }
    std::string word = text.substr(start, text.find(' ', start) - start);
    if (word.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(word.begin(), word.end(), '.') > 3) {
        return -6;
    }
    return 0;
}

}  // namespace

int32_t get_driver_version(DeviceTarget, char *version)
{
    memcpy(version, g_reply, g_reply_size);
    return 0;
}

int32_t get_pci_device_id(DeviceTarget, uint32_t *device_id)
{
    *device_id = 0x1822;
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zorvifuzz::silence_stdout();
    g_device_target.id = 0;
    strcpy(g_device_target.name, "zorvi0");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *path = nullptr;
    if (path == nullptr) {
        FILE *file = fopen(ZORVI_FUZZ_TEMPLATE, "rb");
        static uint8_t text[8192];
        size_t length = file != nullptr ? fread(text, 1, sizeof(text), file) : 0;
        if (file == nullptr || length == 0) {
            abort();
        }
        fclose(file);
        path = zorvifuzz::write_scratch_file(text, length);
    }
    g_reply_size = size < sizeof(g_reply) ? size : sizeof(g_reply);
    memcpy(g_reply, data, g_reply_size);
    ResourceTemplate record;
    int32_t status = parse_template_file(path, &record);
    if (status != expected_status()) {
        fprintf(stderr, "driver reply: status %d, expected %d\n", status, expected_status());
        abort();
    }
    return 0;
}
