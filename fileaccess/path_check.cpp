#include "fileaccess/path_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bounded/bounded.h"

namespace {

int32_t check_access(const char *path)
{
    return access(path, F_OK) == 0 ? 0 : STATUS_MISSING;
}

// realpath may write up to PATH_MAX bytes, so it resolves into a local
// buffer and only a result that fits is copied out.
int32_t get_real_path(const char *path, char *resolved, uint32_t size)
{
    if (path == nullptr || resolved == nullptr || size == 0) {
        return STATUS_BAD_ARGUMENT;
    }
    char local[PATH_MAX] = {};
    if (realpath(path, local) == nullptr) {
        return STATUS_FAILED;
    }
    size_t len = strnlen(local, sizeof(local));
    if (len >= size) {
        return STATUS_BAD_ARGUMENT;
    }
    return strncpy_s(resolved, size, local, len);
}

// Resolves the folder part of `path` and appends the last component as
// written: the file need not exist and a final symbolic link is kept.
int32_t get_absolute_path(const char *path, char *absolute, uint32_t size)
{
    char path_copy[PATH_BUFFER_SIZE] = {};
    char last[PATH_BUFFER_SIZE] = {};

    if (path == nullptr || absolute == nullptr || size == 0) {
        return STATUS_BAD_ARGUMENT;
    }
    int32_t ret = strncpy_s(path_copy, sizeof(path_copy), path, strlen(path));
    if (ret != 0) {
        printf("Strncpy_s file path failed: %d.\n", ret);
        return ret;
    }
    memset(absolute, 0, size);

    // A bare name lies in the current folder.
    const char *folder = "./";
    const char *name = path_copy;
    char *slash = strrchr(path_copy, '/');
    if (slash != nullptr) {
        // Split after the last slash: the copy keeps the folder and its slash.
        memcpy(last, slash + 1, strlen(slash + 1));
        slash[1] = '\0';
        folder = path_copy;
        name = last;
    }
    ret = get_real_path(folder, absolute, size);
    if (ret != 0) {
        return ret;
    }
    // No room left for a slash and a name.
    if (strlen(absolute) >= size - 1) {
        return STATUS_BAD_ARGUMENT;
    }
    // A slash unless the folder is the root, then the last component as written.
    ret = strlen(absolute) == 1 ? 0 : strncat_s(absolute, size, "/", 1);
    if (ret == 0) {
        ret = strncat_s(absolute, size, name, strlen(name));
    }
    if (ret != 0) {
        puts("Strncat_s file name string failed.");
    }
    return ret;
}

}  // namespace

int32_t check_file_exist(const char *path)
{
    return path == nullptr ? STATUS_NO_DEVICE : check_access(path);
}

int32_t check_path_exist(const char *path)
{
    return path == nullptr ? STATUS_BAD_ARGUMENT : check_access(path);
}

// Tests existence only, not the kind of file.
int32_t check_folder_exist(const char *path)
{
    return check_path_exist(path);
}

// 0 stands both for an empty file and for one whose size cannot be found.
uint64_t get_file_size(const char *path)
{
    struct stat info = {};
    if (path == nullptr) {
        return 0;
    }
    char format_dir[PATH_BUFFER_SIZE] = {};
    if (get_absolute_path(path, format_dir, sizeof(format_dir)) != 0) {
        printf("This file path[%s] is not exist.\n", path);
        return 0;
    }
    if (stat(format_dir, &info) != 0) {
        printf("Can not get size of file %s.\n", format_dir);
        return 0;
    }
    return static_cast<uint64_t>(info.st_size);
}
