// A file written whole under a temporary name in its own folder, synced and
// renamed over its target, so that the target is either the old file or the
// new one, never a part of either.
#pragma once

#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdint>

constexpr size_t REPLACE_TROUBLE_SIZE = PATH_MAX + 128;

struct ReplacedFile {
    int fd;
    char temp[PATH_MAX];
    char target[PATH_MAX];
};

// Creates the temporary file next to `target` (mode 0600). On SIGINT,
// SIGTERM or SIGHUP it is removed before the program ends.
int32_t start_replacing(const char *target, ReplacedFile *file, char (&why)[REPLACE_TROUBLE_SIZE]);
int32_t write_replacing(ReplacedFile *file, const void *data, size_t size,
                        char (&why)[REPLACE_TROUBLE_SIZE]);
// Gives the file `mode` and, with `owner`, its owner and group; syncs it and
// renames it over the target, unless `unchanged` is given and the target
// no longer matches it. The temporary file is gone either way.
int32_t finish_replacing(ReplacedFile *file, mode_t mode, const struct stat *owner,
                         const struct stat *unchanged, char (&why)[REPLACE_TROUBLE_SIZE]);
void abandon_replacing(ReplacedFile *file);

// The same file, untouched since `before` was taken.
bool same_file_state(const struct stat &before, const struct stat &now);
