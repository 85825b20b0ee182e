/* The floor of a load's lookups: the same open, read and close of the
 * template file, once per key, and nothing else. lookup_bench.sh times a
 * load against it.
 *
 *   lookup_floor FILE COUNT */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    static char text[16384];
    if (argc != 3) {
        return 2;
    }
    for (long i = atol(argv[2]); i > 0; --i) {
        const int fd = open(argv[1], O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 || read(fd, text, sizeof(text)) < 0) {
            return 1;
        }
        close(fd);
    }
    return 0;
}
