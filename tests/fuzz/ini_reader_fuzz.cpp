// Any bytes as a template file: every lookup stays inside its buffers, closes
// its file, and gives the same answer twice, asked where or not; a found
// value is terminated within its 32 bytes and lies inside the file.
#include <cstring>
#include <memory>

#include "fileaccess/ini_reader.h"
#include "tests/fuzz/fuzz_util.h"

using zorvifuzz::require;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    require(freopen("/dev/null", "w", stdout) != nullptr, "cannot silence stdout");
    return 0;
}

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
    auto first = std::make_unique<char[]>(INI_VALUE_SIZE);
    auto second = std::make_unique<char[]>(INI_VALUE_SIZE);
    for (const auto &lookup : LOOKUPS) {
        for (auto get : {get_key_value, get_string_key_value}) {
            memset(first.get(), 0x5A, INI_VALUE_SIZE);
            memset(second.get(), 0x5A, INI_VALUE_SIZE);
            // Once as a load asks, once asked where: the same answer.
            IniWhere where{};
            const int32_t status = get(path, lookup[0], lookup[1], first.get(), nullptr);
            require(get(path, lookup[0], lookup[1], second.get(), &where) == status,
                    "status changed");
            require(memcmp(first.get(), second.get(), INI_VALUE_SIZE) == 0, "value changed");
            require(status != 0 || memchr(first.get(), '\0', INI_VALUE_SIZE) != nullptr,
                    "value without its terminator");
            require((status == 0) == (where.answer == INI_FOUND), "where disagrees");
            require(where.answer != INI_FOUND || where.value_start + where.value_length <= size,
                    "value outside the file");
        }
        uint32_t number[2] = {1, 2};
        const int32_t status = get_uint_key_value(path, lookup[0], lookup[1], &number[0]);
        require(get_uint_key_value(path, lookup[0], lookup[1], &number[1]) == status,
                "number status changed");
        require(status != 0 || number[0] == number[1], "number changed");
    }
    return 0;
}
