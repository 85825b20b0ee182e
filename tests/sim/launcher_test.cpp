// The launcher and the harness: a private /opt, the command in place of the
// launcher (pid, exit status, signals), the state folder it prepares, and the
// standard input choices of the harness.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "tests/harness/sandbox.h"
#include "tests/harness/test_util.h"

namespace {

using zorvitest::read_file;
using zorvitest::RunOptions;
using zorvitest::RunResult;
using zorvitest::Sandbox;

const std::string PCIDID_REPLY = "rc=0 errno=0 reply=1033\n";

// Runs the launcher, after `prefix`, as a shell command line; its exit status.
int launch(const std::string &arguments, const std::string &prefix = "")
{
    int status = system((prefix + zorvitest::zorvisim_path() + " " + arguments).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Launcher, OptIsTheSandboxFolder)
{
    Sandbox box;
    std::string name = "zorvisim-isolation-" + std::to_string(getpid());
    ASSERT_FALSE(std::filesystem::exists("/opt/" + name));
    zorvitest::write_file(box.opt("seen"), "from the host");
    RunResult result = box.run_command(
        {"sh", "-c", "mkdir /opt/" + name + " && echo in > /opt/" + name + "/x && cat /opt/seen"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "from the host");
    EXPECT_FALSE(std::filesystem::exists("/opt/" + name)) << "the real /opt was touched";
    EXPECT_EQ(read_file(box.opt(name + "/x")), "in\n");

    result = box.run_command({"sh", "-c", "echo > /opt/y"}, {.input = "", .readonly_opt = true});
    EXPECT_NE(result.exit_status, 0);
    EXPECT_FALSE(std::filesystem::exists(box.opt("y")) || std::filesystem::exists("/opt/y"));
}

TEST(Launcher, CommandRunsInPlaceWithTheSimulatorsEnvironment)
{
    Sandbox box;
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    setenv("LD_PRELOAD", "", 1);
    RunResult result =
        box.run_command({"sh", "-c", "echo \"$LD_PRELOAD|$ASAN_OPTIONS|$ZORVISIM_STATE\""});
    unsetenv("ASAN_OPTIONS");
    unsetenv("LD_PRELOAD");
    EXPECT_EQ(result.out, zorvitest::preload_path() + "|detect_leaks=0:verify_asan_link_order=0|" +
                              box.dir() + "\n");

    EXPECT_EQ(box.run_command({"sh", "-c", "exit 7"}).exit_status, 7);
    EXPECT_EQ(box.run_command({"sh", "-c", "exit 255"}).exit_status, 255);
    RunResult missing = box.run_command({"/nonexistent/program"});
    EXPECT_EQ(missing.exit_status, 127);
    EXPECT_NE(missing.err.find("cannot run /nonexistent/program"), std::string::npos);

    zorvitest::SimProcess process =
        box.start_command({"sh", "-c", "echo pid $$; read line; echo got $line; exec sleep 60"});
    ASSERT_TRUE(process.wait_for_output("\n"));
    EXPECT_EQ(process.output_so_far(), "pid " + std::to_string(process.pid()) + "\n");
    process.write_input("word\n");
    ASSERT_TRUE(process.wait_for_output("got word\n"));
    process.send_signal(SIGTERM);
    RunResult ended = process.wait();
    EXPECT_EQ(ended.exit_status, -1);
    EXPECT_EQ(ended.signal, SIGTERM);
}

TEST(Launcher, StandardInputChoices)
{
    Sandbox box;
    const std::vector<std::string> report = {
        "sh", "-c",
        "if read line; then echo \"line $line\"; else echo end; fi; "
        "[ -e /proc/self/fd/0 ] && readlink /proc/self/fd/0 | cut -c1-4 || echo closed"};
    EXPECT_EQ(box.run_command(report, {.input = "abc\n"}).out, "line abc\npipe\n");
    EXPECT_EQ(box.run_command(report).out, "end\npipe\n");
    EXPECT_EQ(box.run_command(report, {.input = "", .no_input = true}).out, "end\n/dev\n");
    EXPECT_EQ(box.run_command(report, {.input = "", .closed_input = true}).out, "end\nclosed\n");
    // A large input to a command that never reads it does not hang the harness.
    EXPECT_EQ(box.run_command({"true"}, {.input = std::string(1 << 20, 'x')}).exit_status, 0);
}

TEST(Launcher, MakesADefaultMachineWhenTheStateFolderIsMissing)
{
    zorvitest::TempDir dir;
    ASSERT_EQ(launch("--state " + dir.file("state") + " -- " + SIM_PROBE_PATH +
                     " zorvi0 pcidid > " + dir.file("out")),
              0);
    EXPECT_EQ(read_file(dir.file("out")), PCIDID_REPLY);
    EXPECT_EQ(read_file(dir.file("state/driver_version")), "1.4.3.0");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("state/opt")));
    EXPECT_EQ(launch("--bogus true 2>/dev/null"), 125);
}

TEST(Launcher, WorksWithoutRootThroughAUserNamespace)
{
    if (system("command -v setpriv > /dev/null") != 0) {
        GTEST_SKIP() << "setpriv is not installed";
    }
    zorvitest::TempDir dir;
    chmod(dir.path().c_str(), 0777);
    int status = launch("--state " + dir.file("state") + " -- sh -c 'echo x > /opt/mine && " +
                            SIM_PROBE_PATH + " zorvi0 pcidid' > " + dir.file("out") + " 2>&1",
                        "setpriv --reuid=65534 --regid=65534 --clear-groups ");
    std::string out = read_file(dir.file("out"));
    if (status != 0) {
        // Only a kernel without unprivileged user namespaces may refuse, and
        // then it must say so.
        EXPECT_NE(out.find("enable unprivileged user namespaces"), std::string::npos) << out;
        return;
    }
    EXPECT_EQ(out, PCIDID_REPLY);
    EXPECT_TRUE(std::filesystem::exists(dir.file("state/opt/mine")));
}

TEST(Launcher, RequestsReachTheSimulatorUnderValgrind)
{
    // Valgrind cannot run a sanitizer build, nor read the DWARF 5 debug
    // information clang writes.
#if defined(__clang__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "valgrind cannot run this build";
#endif
    if (system("command -v valgrind > /dev/null") != 0) {
        GTEST_SKIP() << "valgrind is not installed";
    }
    Sandbox box;
    RunResult result = box.run_command(
        {"valgrind", "-q", "--error-exitcode=9", SIM_PROBE_PATH, "zorvi0", "pcidid"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, PCIDID_REPLY);
    EXPECT_EQ(box.requests().size(), 1u);
}

}  // namespace
