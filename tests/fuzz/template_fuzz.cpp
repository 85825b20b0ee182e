// Any bytes as a template file through the whole parse, against a card of
// the newest driver, and as the record a card sends back through the
// display. The same file parses the same way twice, and nothing is read or
// written outside a buffer.
#include <cstring>

#include "template/template_parser.h"
#include "tests/fuzz/fuzz_util.h"
#include "tool/display.h"

using zorvifuzz::require;

namespace {

ParseReport g_first, g_second;

void parse(const char *path, ResourceTemplate *record, ParseReport *report)
{
    const CardIdentity card = {{1, 4, 3, 0}, 0x3310};
    parse_template_keys(path, PARSE_EVERY_KEY, record, report);
    parse_identity_keys(path, PARSE_EVERY_KEY, &card, record, report);
}

}  // namespace

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
    parse(path, &first, &g_first);
    parse(path, &second, &g_second);
    require(memcmp(&first, &second, sizeof(first)) == 0, "record changed");
    require(g_first.count == g_second.count, "problems changed");
    print_template(&first);

    ResourceTemplate reply = {};
    memcpy(&reply, data, size < sizeof(reply) ? size : sizeof(reply));
    print_template(&reply);
    return 0;
}
