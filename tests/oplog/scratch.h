// Scratch folders, file helpers and a private /opt for the oplog tests.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace oplogtest {

// A fresh folder under /tmp, removed again on destruction.
class ScratchDir {
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/zorvi-oplog-XXXXXX";
        char *made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        char real[PATH_MAX];
        EXPECT_NE(realpath(pattern, real), nullptr);
        path_ = real;
    }
    ~ScratchDir()
    {
        std::string cmd = "rm -rf '" + path_ + "'";
        (void)!system(cmd.c_str());
    }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline void write_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

inline mode_t mode_of(const std::string &path)
{
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0) {
        return 0;
    }
    return info.st_mode & 07777;
}

inline bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

constexpr int SKIP_STATUS = 77;

// Runs `body` in a child whose /opt is `opt_dir`, in a mount namespace of
// its own, so the tool's fixed /opt/zorvi/ never reaches the machine's
// /opt. Returns the child's exit status, SKIP_STATUS when no private /opt
// could be had (the body then never runs). The body returns 0 when all its
// expectations held.
inline int with_private_opt(const std::string &opt_dir, const std::function<int()> &body)
{
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        struct stat want = {};
        struct stat got = {};
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(opt_dir.c_str(), "/opt", nullptr, MS_BIND, nullptr) != 0 ||
            stat(opt_dir.c_str(), &want) != 0 || stat("/opt", &got) != 0 ||
            want.st_ino != got.st_ino || want.st_dev != got.st_dev) {
            _exit(SKIP_STATUS);
        }
        int status = body();
        fflush(stdout);
        _exit(status);
    }
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus)) {
        return -1;
    }
    return WEXITSTATUS(wstatus);
}

#define EXPECT_IN_PRIVATE_OPT(opt_dir, ...)                                    \
    do {                                                                       \
        int private_status_ = oplogtest::with_private_opt((opt_dir), __VA_ARGS__); \
        if (private_status_ == oplogtest::SKIP_STATUS) {                       \
            GTEST_SKIP() << "no private mount namespace for /opt";             \
        }                                                                      \
        EXPECT_EQ(private_status_, 0) << "expectations failed in the child";   \
    } while (0)

// Child side of a gtest check: 0 when nothing failed so far.
inline int child_result()
{
    return ::testing::Test::HasFailure() ? 1 : 0;
}

// Runs `body` in a forked child with standard output sent to a pipe;
// returns what it printed and its exit status.
struct ChildRun {
    std::string out;
    int status = -1;
};

inline ChildRun run_child(const std::function<int()> &body)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        int status = body();
        fflush(stdout);
        _exit(status & 0xff);
    }
    close(fds[1]);
    ChildRun run;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0) {
        run.out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return run;
}

}  // namespace oplogtest
