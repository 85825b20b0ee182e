// Path resolution, sizes and existence checks against a scratch folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "fileaccess/path_check.h"

namespace {

class PathCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zorvi-paths-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char real[PATH_MAX];
        ASSERT_NE(realpath(pattern, real), nullptr);
        root_ = real;
        ASSERT_EQ(mkdir((root_ + "/x").c_str(), 0700), 0);
        write_file(root_ + "/x/file", std::string(1234, 'z'));
        cwd_ = open(".", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(cwd_, 0);
    }
    void TearDown() override
    {
        // Tests may chdir; come back before the scratch folder goes.
        ASSERT_EQ(fchdir(cwd_), 0);
        close(cwd_);
        std::string cmd = "rm -rf '" + root_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    static void write_file(const std::string &path, const std::string &data)
    {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        close(fd);
    }
    // Runs get_absolute_path into a 512-byte buffer and returns the status,
    // the result and what was printed.
    struct Resolved {
        int32_t status;
        std::string path;
        std::string out;
    };
    static Resolved absolute(const std::string &in, uint32_t size = PATH_BUFFER_SIZE)
    {
        char buf[PATH_BUFFER_SIZE + 16];
        memset(buf, 'Q', sizeof(buf));
        testing::internal::CaptureStdout();
        int32_t status = get_absolute_path(in.c_str(), buf, size);
        std::string out = testing::internal::GetCapturedStdout();
        // Nothing past the declared size is ever touched.
        for (size_t i = size; i < sizeof(buf); i++) {
            EXPECT_EQ(buf[i], 'Q') << "byte " << i << " written past size " << size;
        }
        return {status, status == 0 ? std::string(buf) : std::string(), out};
    }

    std::string root_;
    int cwd_ = -1;
};

TEST_F(PathCheckTest, ResolvesFolderPartAndKeepsLastComponent)
{
    ASSERT_EQ(symlink("x", (root_ + "/linkdir").c_str()), 0);
    ASSERT_EQ(symlink("/etc", (root_ + "/x/lnk").c_str()), 0);
    struct Case {
        std::string in;
        std::string want;
    } cases[] = {
        {root_ + "/x/../x/file", root_ + "/x/file"},
        {root_ + "/x//./missing", root_ + "/x/missing"},  // the file need not exist
        {root_ + "/linkdir/file", root_ + "/x/file"},     // links in the folder part resolve
        {root_ + "/x/lnk", root_ + "/x/lnk"},             // a final link is kept
        {root_ + "/x/", root_ + "/x/"},
        {"/file", "/file"},
        {"/", "/"},
    };
    for (const Case &c : cases) {
        Resolved r = absolute(c.in);
        EXPECT_EQ(r.status, 0) << c.in;
        EXPECT_EQ(r.path, c.want) << c.in;
        EXPECT_EQ(r.out, "") << c.in;
    }
}

TEST_F(PathCheckTest, BareNameIsTakenFromTheCurrentFolder)
{
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(absolute("name").path, "/name");
    ASSERT_EQ(chdir((root_ + "/x").c_str()), 0);
    EXPECT_EQ(absolute("name").path, root_ + "/x/name");
}

TEST_F(PathCheckTest, RefusesMissingArgumentsSilently)
{
    char buf[16];
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_absolute_path(nullptr, buf, sizeof(buf)), -6);
    EXPECT_EQ(get_absolute_path("/file", nullptr, 16), -6);
    EXPECT_EQ(get_absolute_path("/file", buf, 0), -6);
    EXPECT_EQ(get_real_path(nullptr, buf, sizeof(buf)), -6);
    EXPECT_EQ(get_real_path("/", nullptr, 16), -6);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(PathCheckTest, MissingFolderPartFailsWithoutMessage)
{
    Resolved r = absolute(root_ + "/nope/file");
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(absolute(root_ + "/x/file/inside").status, -1);  // a file is no folder
}

TEST_F(PathCheckTest, InputOf512CharactersIsRefused)
{
    std::string longest = "/" + std::string(510, 'a');  // 511: the folder is the root
    Resolved ok = absolute(longest);
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.path, longest);

    Resolved r = absolute(longest + "a");
    EXPECT_EQ(r.status, 162);
    EXPECT_EQ(r.out, "Strncpy_s file path failed: 162.\n");
}

TEST_F(PathCheckTest, ResultThatDoesNotFitFails)
{
    const std::string folder = root_ + "/x";
    const auto n = static_cast<uint32_t>(folder.size());
    // The resolved folder must leave room for the slash and a character.
    Resolved r = absolute(folder + "/f", n + 1);
    EXPECT_EQ(r.status, -6);
    EXPECT_EQ(r.out, "");
    // Room for the slash but not the name.
    r = absolute(folder + "/f", n + 2);
    EXPECT_EQ(r.status, 162);
    EXPECT_EQ(r.out, "Strncat_s file name string failed.\n");
    // Exactly enough.
    r = absolute(folder + "/f", n + 3);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.path, folder + "/f");
}

TEST_F(PathCheckTest, DeepFolderLongerThanTheBufferFails)
{
    // A real path far longer than 512 bytes, reached by a short relative
    // name: the resolution must fail without writing past the buffer.
    std::string deep = root_;
    for (int i = 0; i < 6; i++) {
        deep += "/" + std::string(120, static_cast<char>('a' + i));
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    ASSERT_EQ(chdir(deep.c_str()), 0);
    EXPECT_EQ(absolute("name").status, -6);
    EXPECT_EQ(absolute("./name").status, -6);

    char small[8];
    EXPECT_EQ(get_real_path(".", small, sizeof(small)), -6);
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_file_size("name"), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "This file path[name] is not exist.\n");
}

TEST_F(PathCheckTest, FileSizeAndItsMessages)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_file_size((root_ + "/x/file").c_str()), 1234u);
    EXPECT_EQ(get_file_size(nullptr), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    std::string missing_folder = root_ + "/nope/file";
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_file_size(missing_folder.c_str()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "This file path[" + missing_folder + "] is not exist.\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(get_file_size((root_ + "/x/../x/gone").c_str()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Can not get size of file " + root_ + "/x/gone.\n");
}

TEST_F(PathCheckTest, FileSizeKeepsAll64Bits)
{
    const uint64_t big = (5ULL << 30) + 7;  // sparse, past 4 GiB
    std::string path = root_ + "/sparse";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(big)), 0);
    close(fd);
    EXPECT_EQ(get_file_size(path.c_str()), big);
}

TEST_F(PathCheckTest, ExistenceChecks)
{
    const std::string file = root_ + "/x/file";
    const std::string folder = root_ + "/x";
    const std::string missing = root_ + "/missing";
    ASSERT_EQ(symlink("nowhere", (root_ + "/dangling").c_str()), 0);
    const std::string dangling = root_ + "/dangling";
    using Check = int32_t (*)(const char *);
    struct Case {
        const char *name;
        Check check;
        int32_t null_status;
    } checks[] = {
        {"check_access", check_access, -13},
        {"check_file_exist", check_file_exist, -2},
        {"check_path_exist", check_path_exist, -6},
        {"check_folder_exist", check_folder_exist, -6},
    };
    for (const Case &c : checks) {
        // Existence only: a regular file passes the folder check too.
        EXPECT_EQ(c.check(file.c_str()), 0) << c.name;
        EXPECT_EQ(c.check(folder.c_str()), 0) << c.name;
        EXPECT_EQ(c.check(missing.c_str()), -13) << c.name;
        EXPECT_EQ(c.check(dangling.c_str()), -13) << c.name;
        if (c.check != check_access) {
            EXPECT_EQ(c.check(nullptr), c.null_status) << c.name;
        }
    }
}

}  // namespace
