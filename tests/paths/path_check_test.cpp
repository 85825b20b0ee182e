// Path resolution, sizes and existence checks, step by step from the case
// table in path_cases.txt.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fileaccess/path_check.h"
#include "tests/harness/test_util.h"
#include "tests/template/case_text.h"

namespace {

using zorvitest::capture_stdout;

// A resolution into `size` bytes, or into no buffer said to be that long, as
// "STATUS RESULT|PRINTED"; nothing past `size` may change.
std::string resolved(bool absolute, const char *path, uint32_t size, bool no_buffer)
{
    char buf[PATH_BUFFER_SIZE + 16];
    memset(buf, 'Q', sizeof(buf));
    char *const into = no_buffer ? nullptr : buf;
    int32_t status = 0;
    const std::string out = capture_stdout([&] {
        status = absolute ? get_absolute_path(path, into, size) : get_real_path(path, into, size);
    });
    EXPECT_EQ(std::string(buf + size, sizeof(buf) - size), std::string(sizeof(buf) - size, 'Q'));
    return std::to_string(status) + " " + (status == 0 ? buf : "") + "|" + out;
}

TEST(PathCheck, EveryStepOfTheTable)
{
    const zorvitest::TempDir scratch;
    char root[PATH_MAX];
    ASSERT_NE(realpath(scratch.path, root), nullptr);
    const int cwd = open(".", O_RDONLY | O_DIRECTORY);
    zorvitest::each_row(ZORVI_PATH_CASES, [&](const std::vector<std::string> &words) {
        std::vector<std::string> w;
        for (std::string word : words) {
            for (size_t at; (at = word.find("{R}")) != std::string::npos;) {
                word.replace(at, 3, root);
            }
            w.push_back(word);
        }
        const char *path = w[1] == "null" ? nullptr : w[1].c_str();
        if (w[0] == "mkdir") {
            ASSERT_TRUE(std::filesystem::create_directories(w[1]));
        } else if (w[0] == "link") {
            ASSERT_EQ(symlink(path, w[2].c_str()), 0);
        } else if (w[0] == "file") {
            zorvitest::write_file(w[1], "");
            ASSERT_EQ(truncate(path, std::stoll(w[2])), 0);
        } else if (w[0] == "cd") {
            ASSERT_EQ(chdir(path), 0);
        } else if (w[0] == "absolute" || w[0] == "real") {
            const bool no_buffer = w[2] == "null";
            const size_t size =
                no_buffer ? 512 : std::stoul(w[2]) + (w[2][0] == '+' ? w[1].rfind('/') : 0);
            EXPECT_EQ(resolved(w[0] == "absolute", path, size, no_buffer), w[3]);
        } else if (w[0] == "size") {
            EXPECT_EQ(zorvitest::status_and_output([&] { return get_file_size(path); }),
                      w[2] + "|" + w[3]);
        } else {
            ASSERT_EQ(w[0], "exist");
            // check_access is given no null: the C library's access takes none.
            EXPECT_EQ((path == nullptr ? "-" : std::to_string(check_access(path))) + " " +
                          std::to_string(check_file_exist(path)) + " " +
                          std::to_string(check_path_exist(path)) + " " +
                          std::to_string(check_folder_exist(path)),
                      w[2]);
        }
    });
    EXPECT_EQ(fchdir(cwd), 0);  // back out before the scratch folder goes
    close(cwd);
}

}  // namespace
