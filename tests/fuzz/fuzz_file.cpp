#include "tests/fuzz/fuzz_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zorvifuzz {
namespace {

char g_path[64];

void remove_scratch_file()
{
    unlink(g_path);
}

}  // namespace

const char *write_scratch_file(const uint8_t *data, size_t size)
{
    if (g_path[0] == '\0') {
        strcpy(g_path, "/tmp/zorvi-fuzz-XXXXXX");
        int fd = mkstemp(g_path);
        if (fd < 0) {
            perror("mkstemp");
            abort();
        }
        close(fd);
        atexit(remove_scratch_file);
    }
    FILE *file = fopen(g_path, "wb");
    if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
        perror(g_path);
        abort();
    }
    return g_path;
}

void silence_stdout()
{
    fflush(stdout);
    int fd = open("/dev/null", O_WRONLY);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
        perror("/dev/null");
        abort();
    }
    close(fd);
}

}  // namespace zorvifuzz
