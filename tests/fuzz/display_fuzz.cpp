// Any 1024 bytes as the card's template through the six print steps. The
// card is not trusted: an unterminated mode name must print as at most its
// 32 bytes, and the output must be exactly the one written out from the
// record's own fields by the reference renderer, whatever mode says.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/property/random_template.h"
#include "tool/display.h"

namespace {

FILE *g_capture;  // stdout goes here, read back after each record

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "display: %s\n", what);
        abort();
    }
}

std::string captured_output()
{
    fflush(stdout);
    std::string text;
    rewind(g_capture);
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof(chunk), g_capture)) > 0) {
        text.append(chunk, n);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_capture = tmpfile();
    check(g_capture != nullptr, "no capture file");
    fflush(stdout);
    check(dup2(fileno(g_capture), STDOUT_FILENO) >= 0, "cannot capture stdout");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResourceTemplate record;
    memset(&record, 0, sizeof(record));
    memcpy(&record, data, size < sizeof(record) ? size : sizeof(record));

    fflush(stdout);
    check(ftruncate(fileno(g_capture), 0) == 0, "cannot clear the capture file");
    rewind(stdout);  // stdout shares the capture file's descriptor
    print_basic_config(&record);
    print_vnp_qnp_tables(&record);
    print_qpnp_tables(&record);
    print_qvn_tables(&record);
    print_cbmp_tables(&record);
    print_ovnp_table(&record);
    std::string out = captured_output();

    check(out == zorviprop::expected_display(record), "output differs from the reference");
    return 0;
}
