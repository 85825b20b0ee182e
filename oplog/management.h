// Management folders under /opt/zorvi/ and named exclusive lock files.
#pragma once

#include <sys/types.h>

#include <cstdint>

constexpr const char *MANAGEMENT_FOLDER = "/opt/zorvi/";

// Creates `path` when it is missing, then checks that it is a folder root can
// trust: 0, or -1 with errno telling why.
int32_t ensure_folder(const char *path);
// open(2) of a regular file, never through a link: the descriptor, or -1.
int open_regular(const char *path, int flags, mode_t mode);
int32_t get_tool_lock(const char *name, uint32_t blocking, int64_t *handle);
int32_t get_file_lock(const char *path, uint32_t blocking, int64_t *handle);
void release_tool_lock(int64_t *handle);
int32_t release_file_lock(int64_t *handle);
