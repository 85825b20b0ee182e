// Any bytes as a template file: every lookup stays inside its buffers, closes
// its file, and gives the same answer twice; a found value is terminated
// within its 32 bytes and lies inside the file.
#include <cstring>
#include <memory>

#include "fileaccess/ini_reader.h"
#include "tests/fuzz/fuzz_util.h"

using zorvifuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const LOOKUPS[][2] = {
        {"INFO", "VERSION"},
        {"INFO", "MODENAME"},
        {"INFO", "METADATA"},
        {"CONFIG", "HN"},
        {"CONFIG", "QNP00"},
        {"CONFIG", "O256QVN15"},
        {"", ""},
    };
    const char *path = zorvifuzz::scratch_file(data, size);
    // Exactly the documented size on the heap, so a byte past it is caught.
    auto first = std::make_unique<IniWhere>();
    auto second = std::make_unique<IniWhere>();
    for (const auto &lookup : LOOKUPS) {
        const int32_t status = lookup_ini_key(path, lookup[0], lookup[1], first.get());
        require(lookup_ini_key(path, lookup[0], lookup[1], second.get()) == status,
                "status changed");
        require(memcmp(first.get(), second.get(), sizeof(IniWhere)) == 0, "answer changed");
        require(memchr(first->value, '\0', INI_VALUE_SIZE) != nullptr,
                "value without its terminator");
        require((status == 0) == (first->answer == INI_FOUND), "answer disagrees");
        require(first->answer != INI_FOUND || first->value_start + first->value_length <= size,
                "value outside the file");
        uint32_t number = 0;
        (void)convert_uint_value(ini_value(*first), &number);
    }
    return 0;
}
