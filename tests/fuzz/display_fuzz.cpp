// Any 1024 bytes as the card's template through the six print steps. The
// card is not trusted: an unterminated mode name must print as at most its
// 32 bytes, and every line of the output must come from the record's own
// fields, whatever mode says.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// Lines the output must hold for this mode; the mode name may add line
// breaks of its own, so it is counted apart.
size_t expected_lines(uint32_t mode)
{
    size_t lines = 2 + 1 + 6 + 9 + 12;  // heading, [BASIC], six values, seven tables
    lines += (mode & MODE_MODENAME) ? 1 : 0;
    lines += (mode & MODE_GAN_GCN) ? 2 : 0;
    lines += (mode & MODE_SM) ? 1 + 3 : 0;
    lines += (mode & MODE_QVN) ? 27 : 0;
    lines += (mode & MODE_CBMP) ? 6 : 0;
    lines += (mode & MODE_OVNP) ? 3 : 0;
    return lines;
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

    check(out.rfind("\nDevice current configuration:\n\t[BASIC]\n", 0) == 0, "heading");
    size_t name_breaks = 0;
    if (record.mode & MODE_MODENAME) {
        std::string name(record.MODENAME, strnlen(record.MODENAME, MODENAME_SIZE));
        std::string line = "\t\tMODENAME: " + name + "\n\t\tHN: ";
        check(out.find(line) != std::string::npos, "mode name not printed within its field");
        for (char c : name) {
            name_breaks += c == '\n' ? 1 : 0;
        }
    } else {
        check(out.find("MODENAME") == std::string::npos, "mode name without its mode bit");
    }
    size_t lines = 0;
    for (char c : out) {
        lines += c == '\n' ? 1 : 0;
    }
    check(lines == expected_lines(record.mode) + name_breaks, "line count for the mode");
    return 0;
}
