// A file written whole under a temporary name in its own folder, synced and
// renamed over its target, so that the target is either the old file or the
// new one, never a part of either. Only regular files are replaced.
#pragma once

#include <sys/stat.h>

#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdint>

// A file being replaced: where it really lies, the temporary file written
// in its place, and why a step failed.
struct ReplacedFile {
    int folder;
    char name[PATH_MAX];  // a name too long is the kernel's to refuse
    char path[PATH_MAX];
    struct stat state;  // the lstat of the last component looked at
    int fd;
    sigset_t before;        // the signal mask to restore once the file is gone
    char temp[PATH_MAX];    // the temporary file, as shown
    const char *temp_name;  // its name in the target's folder, inside `temp`
    // Why a step failed, names as given: the message is for warn(), which
    // shows their control bytes.
    char why[PATH_MAX + 256];
};

// Where a file named by the user really lies: its folder, opened once by a
// walk over every component of the name, and its name there. Every later
// step goes through that folder, so nothing on the path can change under
// them. Each symbolic link met, at any component, is followed as the
// kernel's protected_symlinks rule follows links, whatever the machine's
// setting: a link in a sticky folder that anyone may write to is followed
// only when it belongs to the caller or to the folder's owner, so that
// another user's link cannot point the write at a file of their choosing.
// A name that is, or leads to, a folder, device, FIFO or socket is refused,
// and so is a missing one unless `may_be_new`. `path` is the name with the
// links met put in, for messages.
int32_t resolve_replace_target(const char *given, bool may_be_new, ReplacedFile *file);

// Creates the temporary file next to the target (mode 0600), named after
// it within NAME_MAX. SIGINT, SIGTERM, SIGHUP and SIGQUIT wait until it is
// renamed or removed, and end the program then: none is ever left behind.
// A step that fails has removed it.
int32_t start_replacing(ReplacedFile *file);
int32_t write_replacing(ReplacedFile *file, const void *data, size_t size);
// With `old`, the target's state when it was read, gives the file the old
// owner and group, then `mode` (in that order, since a change of owner
// clears the set-id bits); syncs it and renames it over the target, unless
// `old` is given and the target no longer matches it. The temporary file
// is gone either way.
int32_t finish_replacing(ReplacedFile *file, mode_t mode, const struct stat *old);
void abandon_replacing(ReplacedFile *file);

// The same file, untouched since `before` was taken.
bool same_file_state(const struct stat &before, const struct stat &now);
// 0 for a regular file; else -1, and `why` says what `path` is instead.
int32_t check_regular(const char *path, mode_t mode, char *why, size_t size);
