// What every fuzz target needs: a verdict that stops the run, and a scratch
// file holding the input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zorvifuzz {

inline void require(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz: %s\n", what);
        abort();
    }
}

// The input as a file; the same path every time, removed at exit.
inline const char *scratch_file(const uint8_t *data, size_t size)
{
    static std::string path = [] {
        char pattern[] = "/tmp/zorvifuzz-XXXXXX";
        int fd = mkstemp(pattern);
        require(fd >= 0, "cannot make a scratch file");
        close(fd);
        return std::string(pattern);
    }();
    static const int registered = atexit([] { unlink(path.c_str()); });
    (void)registered;
    FILE *file = fopen(path.c_str(), "wb");
    require(file != nullptr && fwrite(data, 1, size, file) == size && fclose(file) == 0,
            "cannot write the scratch file");
    return path.c_str();
}

}  // namespace zorvifuzz
