#include "oplog/management.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"
#include "fileaccess/path_check.h"

namespace {

constexpr mode_t MANAGEMENT_MODE = 0700;
constexpr size_t LOCK_PATH_SIZE = 512;

// Root writes here, so a folder is used only when it is a real folder (not
// a link to one) that root or the caller owns and no one else can write:
// otherwise another account could plant links that lead root's writes
// anywhere. errno tells why one is refused.
int32_t check_trusted_folder(const char *path)
{
    // "/opt/zorvi/" would be looked up through a link named zorvi.
    size_t length = strnlen(path, LOCK_PATH_SIZE - 1);
    while (length > 1 && path[length - 1] == '/') {
        --length;
    }
    char name[LOCK_PATH_SIZE] = {};
    memcpy(name, path, length);
    struct stat info {};
    if (lstat(name, &info) != 0) {
        return STATUS_FAILED;
    }
    errno = S_ISDIR(info.st_mode) ? EPERM : ENOTDIR;
    const bool owned = info.st_uid == 0 || info.st_uid == geteuid();
    const bool trusted = (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && owned;
    return S_ISDIR(info.st_mode) && trusted ? 0 : STATUS_FAILED;
}

int32_t create_folder(const char *path)
{
    if (path == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    // One level only; a folder made meanwhile by another process is fine.
    return mkdir(path, MANAGEMENT_MODE) == 0 || errno == EEXIST ? 0 : STATUS_FAILED;
}

}  // namespace

int32_t ensure_folder(const char *path)
{
    if (check_folder_exist(path) != 0 && create_folder(path) != 0) {
        return STATUS_FAILED;
    }
    return check_trusted_folder(path);
}

int open_regular(const char *path, int flags, mode_t mode)
{
    // Neither a link nor a FIFO is followed or waited on.
    int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK, mode);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

int32_t get_tool_lock(const char *name, uint32_t blocking, int64_t *handle)
{
    char lock_path[LOCK_PATH_SIZE] = {};
    if (name == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    if (ensure_folder(MANAGEMENT_FOLDER) != 0) {
        int error = errno;
        printf("Management folder [%s] can not be created, errno: %d.\n", MANAGEMENT_FOLDER, error);
        return STATUS_MISSING;
    }
    if (sprintf_s(lock_path, sizeof(lock_path), "%slocks/", MANAGEMENT_FOLDER) == STATUS_FAILED) {
        puts("Sprintf_s lock file path failed.");
        return STATUS_BAD_ARGUMENT;
    }
    if (ensure_folder(lock_path) != 0) {
        int error = errno;
        printf("Lock file folder [%s] can not be created, errno: %d.\n", lock_path, error);
        return STATUS_MISSING;
    }
    if (strcat_s(lock_path, sizeof(lock_path), name) != 0) {
        puts("Strcat_s lock file name failed.");
        return STATUS_BAD_ARGUMENT;
    }
    return get_file_lock(lock_path, blocking, handle);
}

int32_t get_file_lock(const char *path, uint32_t blocking, int64_t *handle)
{
    if (handle == nullptr || path == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    // Never written or truncated: only the lock on it matters.
    int fd = open_regular(path, O_WRONLY | O_CREAT, MANAGEMENT_MODE);
    if (fd < 0) {
        return STATUS_FILE_FAILED;
    }
    *handle = fd;
    int ret = flock(fd, blocking != 0 ? LOCK_EX : LOCK_EX | LOCK_NB);
    if (ret != 0) {
        printf("Can not get file lock (%d).\n", ret);
        close(fd);
    }
    return ret;
}

void release_tool_lock(int64_t *handle)
{
    if (handle != nullptr && *handle != 0) {
        (void)release_file_lock(handle);
    }
}

int32_t release_file_lock(int64_t *handle)
{
    if (handle == nullptr || *handle < 0) {
        return STATUS_BAD_ARGUMENT;
    }
    int fd = static_cast<int>(*handle);
    int ret = flock(fd, LOCK_UN);
    if (ret != 0) {
        printf("Can not release file [%d] lock.\n", fd);
        close(fd);
        return ret;
    }
    ret = close(fd);
    if (ret != 0) {
        printf("Can not close file [%d].\n", fd);
    }
    return ret;
}
