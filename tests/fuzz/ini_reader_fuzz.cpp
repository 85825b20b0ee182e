// Any bytes as a template file: every lookup must stay inside its buffers,
// close its file, and give the answer of a model of the file syntax written
// here line by line from the reader's rules.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fileaccess/ini_reader.h"
#include "tests/fuzz/ini_model.h"

namespace {

using zorvifuzz::model_lookup;
using zorvifuzz::model_number_value;
using zorvifuzz::read_lines;

struct Lookup {
    const char *section;
    const char *key;
};

constexpr Lookup LOOKUPS[] = {
    {"INFO", "VERSION"}, {"INFO", "MODENAME"},    {"INFO", "METADATA"},
    {"INFO", "PCIDID"},  {"CONFIG", "HN"},        {"CONFIG", "PH"},
    {"CONFIG", "QNP00"}, {"CONFIG", "O256QVN15"}, {"", ""},
};

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "ini reader: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    check(freopen("/dev/null", "w", stdout) != nullptr, "cannot silence stdout");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = zorvifuzz::write_scratch_file(data, size);
    // Exactly the documented sizes on the heap, so a byte past them is caught.
    auto value = std::make_unique<char[]>(INI_VALUE_SIZE);
    auto text = std::make_unique<char[]>(INI_VALUE_SIZE);
    const std::vector<std::string> lines = read_lines(data, size);
    for (const Lookup &lookup : LOOKUPS) {
        const std::optional<std::string> expected = model_lookup(lines, lookup.section, lookup.key);
        memset(value.get(), 0x5A, INI_VALUE_SIZE);
        int32_t found = get_key_value(path, lookup.section, lookup.key, value.get());
        check(found == (expected ? 0 : -1), "get_key_value status differs from the model");
        if (found == 0) {
            check(*expected == value.get(), "value differs from the model");
        }

        uint32_t number = 0;
        int32_t converted = get_uint_key_value(path, lookup.section, lookup.key, &number);
        zorvifuzz::ScanResult scan =
            expected ? model_number_value(*expected) : zorvifuzz::ScanResult{-1, 0};
        check(converted == (scan.result == 1 ? 0 : -1), "number status differs from the model");
        check(converted != 0 || number == scan.value, "number differs from the model");

        memset(text.get(), 0x5A, INI_VALUE_SIZE);
        int32_t copied = get_string_key_value(path, lookup.section, lookup.key, text.get());
        check(copied == (expected ? 0 : -1), "string status differs from the model");
        if (copied == 0) {
            check(*expected == text.get(), "string differs from the model");
        }
    }
    return 0;
}
