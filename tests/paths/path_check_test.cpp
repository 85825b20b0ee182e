// Path resolution, sizes and existence checks against a scratch folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "fileaccess/path_check.h"
#include "tests/harness/test_util.h"

namespace {

using zorvitest::capture_stdout;

class PathCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char real[PATH_MAX];
        ASSERT_NE(realpath(scratch_.path().c_str(), real), nullptr);
        root_ = real;
        ASSERT_EQ(mkdir((root_ + "/x").c_str(), 0700), 0);
        zorvitest::write_file(root_ + "/x/file", std::string(1234, 'z'));
        cwd_ = open(".", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(cwd_, 0);
    }
    void TearDown() override
    {
        // Tests may chdir; come back before the scratch folder goes.
        EXPECT_EQ(fchdir(cwd_), 0);
        close(cwd_);
    }

    // get_absolute_path with `size`, as "status result|output"; also checks
    // that nothing past `size` is touched.
    static std::string absolute(const std::string &in, uint32_t size = PATH_BUFFER_SIZE)
    {
        char buf[PATH_BUFFER_SIZE + 16];
        memset(buf, 'Q', sizeof(buf));
        int32_t status = 0;
        std::string out =
            capture_stdout([&] { status = get_absolute_path(in.c_str(), buf, size); });
        for (size_t i = size; i < sizeof(buf); i++) {
            EXPECT_EQ(buf[i], 'Q') << "byte " << i << " written past size " << size;
        }
        return std::to_string(status) + " " + (status == 0 ? buf : "") + "|" + out;
    }

    zorvitest::TempDir scratch_;
    std::string root_;
    int cwd_ = -1;
};

TEST_F(PathCheckTest, AbsolutePathResolvesTheFolderPartAndKeepsTheLastComponent)
{
    ASSERT_EQ(symlink("x", (root_ + "/linkdir").c_str()), 0);
    ASSERT_EQ(symlink("/etc", (root_ + "/x/lnk").c_str()), 0);
    const std::string x = root_ + "/x";
    const auto n = static_cast<uint32_t>(x.size());
    const std::string longest = "/" + std::string(510, 'a');  // 511: the folder is the root
    const struct {
        std::string cwd;
        std::string in;
        uint32_t size;
        std::string want;
    } cases[] = {
        {"/", root_ + "/x/../x/file", 512, "0 " + x + "/file|"},
        {"/", root_ + "/x//./missing", 512, "0 " + x + "/missing|"},  // need not exist
        {"/", root_ + "/linkdir/file", 512, "0 " + x + "/file|"},     // folder links resolve
        {"/", x + "/lnk", 512, "0 " + x + "/lnk|"},                   // a final link is kept
        {"/", x + "/", 512, "0 " + x + "/|"},
        {"/", "/file", 512, "0 /file|"},
        {"/", "/", 512, "0 /|"},
        {"/", "name", 512, "0 /name|"},
        {x, "name", 512, "0 " + x + "/name|"},
        {"/", root_ + "/nope/file", 512, "-1 |"},
        {"/", x + "/file/inside", 512, "-1 |"},  // a file is no folder
        {"/", longest, 512, "0 " + longest + "|"},
        {"/", longest + "a", 512, "162 |Strncpy_s file path failed: 162.\n"},
        // The resolved folder must leave room for the slash and a character.
        {"/", x + "/f", n + 1, "-6 |"},
        {"/", x + "/f", n + 2, "162 |Strncat_s file name string failed.\n"},
        {"/", x + "/f", n + 3, "0 " + x + "/f|"},
        {"/", "/file", 0, "-6 |"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(chdir(c.cwd.c_str()), 0);
        EXPECT_EQ(absolute(c.in, c.size), c.want) << c.in << " size " << c.size;
    }
}

TEST_F(PathCheckTest, MissingArgumentsAreRefusedSilently)
{
    char buf[16];
    EXPECT_EQ(capture_stdout([&] {
                  EXPECT_EQ(get_absolute_path(nullptr, buf, sizeof(buf)), -6);
                  EXPECT_EQ(get_absolute_path("/file", nullptr, 16), -6);
                  EXPECT_EQ(get_real_path(nullptr, buf, sizeof(buf)), -6);
                  EXPECT_EQ(get_real_path("/", nullptr, 16), -6);
                  EXPECT_EQ(get_file_size(nullptr), 0u);
              }),
              "");
    EXPECT_EQ(check_file_exist(nullptr), -2);
    EXPECT_EQ(check_path_exist(nullptr), -6);
    EXPECT_EQ(check_folder_exist(nullptr), -6);
}

TEST_F(PathCheckTest, FolderLongerThanTheBufferFailsInsideIt)
{
    // A real path far longer than 512 bytes, reached by a short relative name.
    std::string deep = root_;
    for (int i = 0; i < 6; i++) {
        deep += "/" + std::string(120, static_cast<char>('a' + i));
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    ASSERT_EQ(chdir(deep.c_str()), 0);
    EXPECT_EQ(absolute("name"), "-6 |");
    EXPECT_EQ(absolute("./name"), "-6 |");
    char small[8];
    EXPECT_EQ(get_real_path(".", small, sizeof(small)), -6);
}

TEST_F(PathCheckTest, FileSizeKeepsAll64BitsAndNamesWhatItCannotFind)
{
    const uint64_t big = (5ULL << 30) + 7;  // sparse, past 4 GiB
    int fd = open((root_ + "/sparse").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(big)), 0);
    close(fd);
    const struct {
        std::string path;
        uint64_t size;
        std::string out;
    } cases[] = {
        {root_ + "/x/file", 1234, ""},
        {root_ + "/sparse", big, ""},
        {root_ + "/nope/file", 0, "This file path[" + root_ + "/nope/file] is not exist.\n"},
        {root_ + "/x/../x/gone", 0, "Can not get size of file " + root_ + "/x/gone.\n"},
    };
    for (const auto &c : cases) {
        uint64_t size = 1;
        EXPECT_EQ(capture_stdout([&] { size = get_file_size(c.path.c_str()); }), c.out);
        EXPECT_EQ(size, c.size) << c.path;
    }
}

TEST_F(PathCheckTest, ExistenceChecksLookAtExistenceOnly)
{
    ASSERT_EQ(symlink("nowhere", (root_ + "/dangling").c_str()), 0);
    // A regular file passes the folder check too; a dangling link is missing.
    int which = 0;
    for (auto check : {check_access, check_file_exist, check_path_exist, check_folder_exist}) {
        for (const char *name : {"/x/file", "/x", "/missing", "/dangling"}) {
            EXPECT_EQ(check((root_ + name).c_str()), name[1] == 'x' ? 0 : -13) << which << name;
        }
        ++which;
    }
}

}  // namespace
