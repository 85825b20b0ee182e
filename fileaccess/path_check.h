// Existence checks, path resolution and file sizes for the management area.
#pragma once

#include <cstdint>

constexpr uint32_t PATH_BUFFER_SIZE = 512;

int32_t check_file_exist(const char *path);
int32_t check_path_exist(const char *path);
int32_t check_folder_exist(const char *path);
uint64_t get_file_size(const char *path);
