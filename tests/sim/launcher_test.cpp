// The launcher and the harness: a private /opt, the command in place of the
// launcher (pid, exit status, signals), the state folder it prepares, and the
// standard input choices of the harness.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim_test_support.h"

namespace {

using zorvitest::RunOptions;
using zorvitest::RunResult;
using zorvitest::Sandbox;

bool host_has(const std::string &path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

TEST(Launcher, OptIsTheSandboxFolder)
{
    Sandbox box;
    std::string name = "zorvisim-isolation-" + std::to_string(getpid());
    ASSERT_FALSE(host_has("/opt/" + name));
    std::ofstream(box.opt("seen")) << "from the host";

    RunResult result = box.run_command(
        {"sh", "-c", "mkdir /opt/" + name + " && echo inside > /opt/" + name + "/x && cat /opt/seen"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "from the host");
    EXPECT_FALSE(host_has("/opt/" + name)) << "the real /opt was touched";
    std::ifstream written(box.opt(name + "/x"));
    std::string line;
    std::getline(written, line);
    EXPECT_EQ(line, "inside");

    RunOptions readonly;
    readonly.readonly_opt = true;
    result = box.run_command({"sh", "-c", "echo > /opt/y"}, readonly);
    EXPECT_NE(result.exit_status, 0);
    EXPECT_FALSE(host_has(box.opt("y")));
    EXPECT_FALSE(host_has("/opt/y"));
}

TEST(Launcher, CommandRunsInPlace)
{
    Sandbox box;
    EXPECT_EQ(box.run_command({"sh", "-c", "exit 7"}).exit_status, 7);
    EXPECT_EQ(box.run_command({"sh", "-c", "exit 255"}).exit_status, 255);
    RunResult missing = box.run_command({"/nonexistent/program"});
    EXPECT_EQ(missing.exit_status, 127);
    EXPECT_NE(missing.err.find("cannot run /nonexistent/program"), std::string::npos);

    zorvitest::SimProcess process =
        box.start_command({"sh", "-c", "echo pid $$; read line; echo got $line; exec sleep 60"});
    ASSERT_TRUE(process.wait_for_output("pid "));
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
    const char *report = "if read line; then echo \"line $line\"; else echo end; fi; "
                         "[ -e /proc/self/fd/0 ] && echo open || echo closed";
    RunOptions given;
    given.input = "abc\n";
    EXPECT_EQ(box.run_command({"sh", "-c", report}, given).out, "line abc\nopen\n");
    EXPECT_EQ(box.run_command({"sh", "-c", report}).out, "end\nopen\n");
    RunOptions null_input;
    null_input.no_input = true;
    EXPECT_EQ(box.run_command({"sh", "-c", "readlink /proc/self/fd/0"}, null_input).out,
              "/dev/null\n");
    RunOptions closed;
    closed.closed_input = true;
    EXPECT_EQ(box.run_command({"sh", "-c", report}, closed).out, "end\nclosed\n");

    // A large input to a command that never reads it does not hang the harness.
    given.input = std::string(1 << 20, 'x');
    EXPECT_EQ(box.run_command({"true"}, given).exit_status, 0);
}

TEST(Launcher, EnvironmentKeepsWhatWasThere)
{
    Sandbox box;
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    setenv("LD_PRELOAD", "", 1);
    RunResult result = box.run_command(
        {"sh", "-c", "echo \"$LD_PRELOAD|$ASAN_OPTIONS|$ZORVISIM_STATE\""});
    unsetenv("ASAN_OPTIONS");
    unsetenv("LD_PRELOAD");
    EXPECT_EQ(result.out, zorvitest::preload_path() + "|detect_leaks=0:verify_asan_link_order=0|" +
                              box.dir() + "\n");
}

TEST(Launcher, MakesADefaultMachineWhenTheStateFolderIsMissing)
{
    Sandbox box;  // only for a temporary folder
    std::string state = box.dir() + "/fresh";
    std::string command = zorvitest::zorvisim_path() + " --state " + state + " -- " +
                          SIM_PROBE_PATH + " zorvi0 pcidid > " + box.dir() + "/out";
    ASSERT_EQ(system(command.c_str()), 0);
    std::ifstream out(box.dir() + "/out");
    std::string line;
    std::getline(out, line);
    EXPECT_EQ(line, "rc=0 errno=0 reply=2218");
    std::ifstream version(state + "/driver_version");
    std::getline(version, line);
    EXPECT_EQ(line, "1.4.3.0");
    EXPECT_TRUE(std::filesystem::is_directory(state + "/opt"));

    // A second run keeps what the first one stored.
    std::string store = simtest::write_request(box, "store.bin", simtest::store_request(0x01, 9));
    command = zorvitest::zorvisim_path() + " --state " + state + " -- " + SIM_PROBE_PATH +
              " zorvi0 store " + store + " > /dev/null";
    ASSERT_EQ(system(command.c_str()), 0);
    command = zorvitest::zorvisim_path() + " --state " + state + " " + SIM_PROBE_PATH +
              " zorvi0 fetch > " + box.dir() + "/out";
    ASSERT_EQ(system(command.c_str()), 0);
    std::ifstream fetched(box.dir() + "/out");
    std::getline(fetched, line);
    EXPECT_EQ(line.substr(0, 25), "rc=0 errno=0 reply=000003");

    EXPECT_NE(system((zorvitest::zorvisim_path() + " --bogus true 2>/dev/null").c_str()), 0);
}

TEST(Launcher, WorksWithoutRootThroughAUserNamespace)
{
    if (system("command -v setpriv > /dev/null") != 0) {
        GTEST_SKIP() << "setpriv is not installed";
    }
    Sandbox box;
    chmod(box.dir().c_str(), 0755);
    std::string shared = box.dir() + "/shared";
    mkdir(shared.c_str(), 0777);
    chmod(shared.c_str(), 0777);
    std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                          zorvitest::zorvisim_path() + " --state " + shared + "/state -- sh -c " +
                          "'echo x > /opt/mine && " + SIM_PROBE_PATH + " zorvi0 pcidid' > " +
                          shared + "/out 2>&1";
    int status = system(command.c_str());
    std::ifstream out(shared + "/out");
    std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    if (status != 0) {
        // Only a kernel without unprivileged user namespaces may refuse, and
        // then it must say so.
        EXPECT_NE(text.find("enable unprivileged user namespaces"), std::string::npos) << text;
        return;
    }
    EXPECT_EQ(text, "rc=0 errno=0 reply=2218\n");
    EXPECT_TRUE(host_has(shared + "/state/opt/mine"));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define ZORVI_TEST_UNDER_ASAN 0
#elif defined(__SANITIZE_ADDRESS__)
#define ZORVI_TEST_UNDER_ASAN 1
#elif __has_feature(address_sanitizer)
#define ZORVI_TEST_UNDER_ASAN 1
#else
#define ZORVI_TEST_UNDER_ASAN 0
#endif

TEST(Launcher, RequestsReachTheSimulatorUnderValgrind)
{
    // Debian's valgrind cannot read the DWARF 5 debug information clang writes.
#ifdef __clang__
    const bool readable = false;
#else
    const bool readable = true;
#endif
    if (ZORVI_TEST_UNDER_ASAN || !readable || system("command -v valgrind > /dev/null") != 0) {
        GTEST_SKIP() << "valgrind cannot run this build";
    }
    Sandbox box;
    RunResult result = box.run_command(
        {"valgrind", "-q", "--error-exitcode=9", SIM_PROBE_PATH, "zorvi0", "pcidid"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "rc=0 errno=0 reply=2218\n");
    EXPECT_EQ(box.requests().size(), 1u);
}

}  // namespace
