// Any bytes as a template file: every lookup must stay inside its buffers,
// close its file, and hand back only a trimmed value of at most 31
// characters.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fileaccess/ini_reader.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

struct Lookup {
    const char *section;
    const char *key;
};

constexpr Lookup LOOKUPS[] = {
    {"INFO", "VERSION"}, {"INFO", "MODENAME"}, {"INFO", "METADATA"}, {"INFO", "PCIDID"},
    {"CONFIG", "HN"},    {"CONFIG", "PH"},     {"CONFIG", "QNP00"},  {"CONFIG", "O256QVN15"},
    {"", ""},
};

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "ini reader: %s\n", what);
        abort();
    }
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// A found value: terminated within its 32 bytes, no line end, no "//", and
// no blanks at either end.
void check_value(const char *value)
{
    size_t length = strnlen(value, INI_VALUE_SIZE);
    check(length < INI_VALUE_SIZE, "value not terminated within 32 bytes");
    check(memchr(value, '\n', length) == nullptr && memchr(value, '\r', length) == nullptr,
          "line end inside a value");
    check(strstr(value, "//") == nullptr, "comment inside a value");
    if (length > 0) {
        check(!is_blank(value[0]) && !is_blank(value[length - 1]), "value not trimmed");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zorvifuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = zorvifuzz::write_scratch_file(data, size);
    // Exactly the documented sizes on the heap, so a byte past them is caught.
    auto value = std::make_unique<char[]>(INI_VALUE_SIZE);
    auto text = std::make_unique<char[]>(INI_VALUE_SIZE);
    for (const Lookup &lookup : LOOKUPS) {
        memset(value.get(), 0x5A, INI_VALUE_SIZE);
        int32_t found = get_key_value(path, lookup.section, lookup.key, value.get());
        check(found == 0 || found == -1, "get_key_value status");
        if (found == 0) {
            check_value(value.get());
        }

        uint32_t number = 0;
        int32_t converted = get_uint_key_value(path, lookup.section, lookup.key, &number);
        check(converted == 0 || converted == -1, "get_uint_key_value status");
        check(converted != 0 || found == 0, "a number from a key that was not found");

        memset(text.get(), 0x5A, INI_VALUE_SIZE);
        int32_t copied = get_string_key_value(path, lookup.section, lookup.key, text.get());
        check(copied != 0 || found == 0, "a string from a key that was not found");
        if (copied == 0) {
            check(strnlen(text.get(), INI_VALUE_SIZE) < INI_VALUE_SIZE,
                  "string not terminated within 32 bytes");
        }
    }
    return 0;
}
