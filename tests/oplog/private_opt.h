// A private /opt for code whose paths are fixed under /opt/zorvi/.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/harness/test_util.h"

namespace oplogtest {

constexpr int SKIP_STATUS = 77;

// Runs `body` in a child whose /opt is `opt_dir`, in a mount namespace of
// its own, so the tool's fixed paths never reach the machine's /opt. Returns
// the child's exit status: 0 when no expectation failed, SKIP_STATUS when no
// private /opt could be had (the body then never runs).
inline int with_private_opt(const std::string &opt_dir, const std::function<void()> &body)
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
        body();
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus)) {
        return -1;
    }
    return WEXITSTATUS(wstatus);
}

#define EXPECT_IN_PRIVATE_OPT(...)                                                           \
    do {                                                                                     \
        zorvitest::TempDir private_opt_;                                                     \
        int private_status_ = oplogtest::with_private_opt(private_opt_.path(), __VA_ARGS__); \
        if (private_status_ == oplogtest::SKIP_STATUS) {                                     \
            GTEST_SKIP() << "no private mount namespace for /opt";                           \
        }                                                                                    \
        EXPECT_EQ(private_status_, 0) << "expectations failed in the child";                 \
    } while (0)

}  // namespace oplogtest
