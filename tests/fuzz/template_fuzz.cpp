// Any bytes as a template file through the whole parse (the card queries are
// answered in-process by tests/harness/fake_card.cpp), and as the record a
// card sends back through the display. The same file parses the same way
// twice, and nothing is read or written outside a buffer.
#include <cstring>

#include "template/template_parser.h"
#include "tests/fuzz/fuzz_util.h"
#include "tool/display.h"

using zorvifuzz::require;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    require(freopen("/dev/null", "w", stdout) != nullptr, "cannot silence stdout");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = zorvifuzz::scratch_file(data, size);
    ResourceTemplate first;
    ResourceTemplate second;
    memset(&first, 0xA5, sizeof(first));
    memset(&second, 0x5A, sizeof(second));
    const int32_t status = parse_template_file(path, &first);
    require(parse_template_file(path, &second) == status, "status changed");
    require(memcmp(&first, &second, sizeof(first)) == 0, "record changed");
    print_template(&first);

    ResourceTemplate reply = {};
    memcpy(&reply, data, size < sizeof(reply) ? size : sizeof(reply));
    print_template(&reply);
    return 0;
}
