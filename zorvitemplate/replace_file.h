// A file written whole under a temporary name in its own folder, synced and
// renamed over its target, so that the target is either the old file or the
// new one, never a part of either. Only regular files are replaced.
#pragma once

#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdint>

// Why a step failed, names as given: the message is for say(), which shows
// their control bytes.
constexpr size_t REPLACE_TROUBLE_SIZE = PATH_MAX + 256;

// Where a file named by the user really lies. Symbolic links are followed
// as the kernel's protected_symlinks rule follows them: a link in a sticky
// folder that anyone may write to is followed only when it belongs to the
// caller or to the folder's owner, so that another user's link cannot point
// the write at a file of theirs choosing. A name that is, or leads to, a
// folder, device, FIFO or socket is refused, and so is a missing one unless
// `may_be_new`. `exists` tells whether `target` names a file already, and
// `state` is then its stat.
struct ReplaceTarget {
    char path[PATH_MAX];
    bool exists;
    struct stat state;
};

int32_t resolve_replace_target(const char *name, bool may_be_new, ReplaceTarget *target,
                               char (&why)[REPLACE_TROUBLE_SIZE]);

struct ReplacedFile {
    int fd;
    char temp[PATH_MAX];
    char target[PATH_MAX];
};

// Creates the temporary file next to `target` (mode 0600), named after it
// within NAME_MAX. On SIGINT, SIGTERM, SIGHUP or SIGQUIT it is removed
// before the program ends: those signals wait while it is made and named.
int32_t start_replacing(const char *target, ReplacedFile *file, char (&why)[REPLACE_TROUBLE_SIZE]);
int32_t write_replacing(ReplacedFile *file, const void *data, size_t size,
                        char (&why)[REPLACE_TROUBLE_SIZE]);
// With `owner`, gives the file its owner and group, then `mode` (in that
// order, since a change of owner clears the set-id bits); syncs it and
// renames it over the target, unless `unchanged` is given and the target
// no longer matches it. The temporary file is gone either way.
int32_t finish_replacing(ReplacedFile *file, mode_t mode, const struct stat *owner,
                         const struct stat *unchanged, char (&why)[REPLACE_TROUBLE_SIZE]);
void abandon_replacing(ReplacedFile *file);

// The same file, untouched since `before` was taken.
bool same_file_state(const struct stat &before, const struct stat &now);
