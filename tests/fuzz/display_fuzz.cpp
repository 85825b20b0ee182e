// Any 1024 bytes as the card's template through the six print steps. The
// card is not trusted: an unterminated mode name must print as at most its
// 32 bytes, and the output must be exactly the one written out from the
// record's own fields by the reference renderer, whatever mode says.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/harness/test_util.h"
#include "tests/property/random_template.h"
#include "tool/display.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResourceTemplate record;
    memset(&record, 0, sizeof(record));
    memcpy(&record, data, size < sizeof(record) ? size : sizeof(record));
    const std::string out = zorvitest::capture_stdout([&] { print_template(&record); });
    if (out != zorviprop::expected_display(record)) {
        fprintf(stderr, "display: output differs from the reference\n");
        abort();
    }
    return 0;
}
