// Management folders under /opt/zorvi/ and named exclusive lock files.
#pragma once

#include <cstdint>

constexpr const char *MANAGEMENT_FOLDER = "/opt/zorvi/";

int32_t create_folder(const char *path);
// Creates `path` when it is not a folder yet: 0, or create_folder's status
// with errno telling why.
int32_t ensure_folder(const char *path);
int32_t get_tool_lock(const char *name, uint32_t blocking, int64_t *handle);
int32_t get_file_lock(const char *path, uint32_t blocking, int64_t *handle);
void release_tool_lock(int64_t *handle);
int32_t release_file_lock(int64_t *handle);
